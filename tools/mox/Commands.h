// The subcommands of the mox tool. Each family's source file registers a
// function that adds its subcommands to the application:
//
//   namespace { void addCine(CLI::App& app, int& status) { ... } }
//   MOX_REGISTER_COMMANDS(addCine);
//
// A subcommand's callback stores its exit status in `status` (0 success, 1 a
// failed operation reported with fail(), 2 a usage error).
#pragma once

#include <CLI/CLI.hpp>

namespace mox::tool {

using AddCommands = void (*)(CLI::App& app, int& status);

// Called by MOX_REGISTER_COMMANDS during static initialisation of the tool.
bool registerCommands(AddCommands add);
// Adds every registered family's subcommands to the application.
void addAllCommands(CLI::App& app, int& status);

}  // namespace mox::tool

#define MOX_REGISTER_COMMANDS(fn) static const bool mox_registered_##fn = ::mox::tool::registerCommands(&fn)
