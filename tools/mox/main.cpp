// mox: the command-line tool over mox_utils for the people who run and
// service the scanner software.
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "Terminal.h"

namespace mox::tool {

namespace {
std::vector<AddCommands>& registry() {
  static std::vector<AddCommands> functions;
  return functions;
}
}  // namespace

bool registerCommands(AddCommands add) {
  registry().push_back(add);
  return true;
}

void addAllCommands(CLI::App& app, int& status) {
  for (AddCommands add : registry()) add(app, status);
}

}  // namespace mox::tool

int main(int argc, char** argv) {
  mox::tool::initTerminal();
  CLI::App app{
      "mox: inspect and convert cine files, compress frames, list probes and store paths, "
      "edit settings and check the machine"};
  app.set_version_flag("--version", std::string("mox ") + MOX_VERSION);
  app.require_subcommand(1);
  int status = 0;
  mox::tool::addAllCommands(app, status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version succeed with CLI11's own output; a usage error is
    // one line and exit status 2.
    if (e.get_exit_code() == 0) return app.exit(e);
    mox::tool::fail(e.what());
    return 2;
  }
  std::fflush(mox::tool::userOut());
  return status;
}
