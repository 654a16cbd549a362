// mox log: checks a log filter file before it is installed.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/logging/kelLoggerClass.h"
#include "mox_utils/logging/kelLoggerCore.h"
#include "mox_utils/platform/Text.h"

namespace {

std::string narrow(const std::wstring& text) { return mox::platform::wideToUtf8(text); }

// Loads the filter file into a logger started in a scratch directory (the
// filters open their target files there), prints what the loader logged and
// the routing table, and removes the scratch directory again.
int showFilters(const std::string& file) {
  using mox::tool::userOut;
  // mkdtemp replaces the six trailing template characters.
  std::string pattern = "/tmp/mox_log_filters_" + std::string(6, 'X');
  if (mkdtemp(pattern.data()) == nullptr) return mox::tool::fail("cannot create a scratch directory in /tmp");
  const std::filesystem::path scratch = pattern;
  const std::wstring base = mox::platform::utf8ToWide(scratch.string()) + L"/";

  kelLoggerClass::initialize(base.c_str(), 6);
  std::vector<kelLoggerClass::FilterMessage> messages;
  kelLoggerClass::loadFilters(mox::platform::utf8ToWide(file).c_str(), &messages);
  // Each key that a filter names, with where its lines go in the end: the
  // exact source's filters first, then those for "*".
  std::vector<kelLoggerCore::FilterRow> rows;
  if (kelLoggerCore* core = kelLoggerClass::core()) {
    rows = core->filterRows();
    for (auto& row : rows) {
      const kelLoggerCore::RouteInfo route = core->describeRoute(row.key.source.c_str(), row.key.type);
      row.file = route.file.empty() ? L"events.log" : route.file;
      row.window = route.window;
    }
  }
  kelLoggerClass::terminate();
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);

  bool unreadable = false;
  for (const auto& m : messages) {
    std::fprintf(userOut(), "%s: %s\n", narrow(kelLoggerClass::getTypeName(m.type)).c_str(), narrow(m.text).c_str());
    unreadable |= m.line == 163;
  }
  if (unreadable) return mox::tool::fail("cannot read the filter file " + file);

  std::size_t sourceWidth = 6, fileWidth = 4;
  for (const auto& row : rows) {
    sourceWidth = std::max(sourceWidth, row.key.source.size());
    fileWidth = std::max(fileWidth, narrow(row.file).size());
  }
  const int sw = static_cast<int>(sourceWidth), fw = static_cast<int>(fileWidth);
  std::fprintf(userOut(), "%-*s  %-10s  %-*s  %s\n", sw, "source", "type", fw, "file", "window");
  for (const auto& row : rows) {
    const std::string target = narrow(row.file);
    std::fprintf(userOut(), "%-*s  %-10s  %-*s  %s\n", sw, row.key.source.c_str(),
                 narrow(kelLoggerClass::getTypeName(row.key.type)).c_str(), fw, target.c_str(),
                 row.window ? "yes" : "no");
  }
  std::fprintf(userOut(),
               "Any other source and type: events.log, no window. \"NULL\" writes no file; a file whose name "
               "contains \".xml\" is an action log. The window column applies while the console window is "
               "visible.\n");
  return 0;
}

void addLogCommands(CLI::App& app, int& status) {
  CLI::App* log = app.add_subcommand("log", "Logging: check log filter files");
  log->require_subcommand(1);
  auto file = std::make_shared<std::string>();
  CLI::App* filters = log->add_subcommand("filters",
                                          "Print the routing that a log filter file sets up, with the "
                                          "loader's warnings");
  filters->add_option("FILE", *file, "log filter file (XML)")->required();
  filters->callback([file, &status] { status = showFilters(*file); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addLogCommands);
