// The subcommands of the mox tool. Each family adds its subcommands to the
// application in one function; main() calls them all.
#pragma once

#include <CLI/CLI.hpp>

namespace mox::tool {

// Each registration function adds its subcommand(s) to `app`. The callback of
// a subcommand stores its exit status in `*status`.
using Status = int;

}  // namespace mox::tool
