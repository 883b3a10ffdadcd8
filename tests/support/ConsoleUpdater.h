// The real updater with the console in place of its dialogs and the
// registry file in place of the registry (the POSIX build).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/GameInstall.h"
#include "tests/support/Process.h"

namespace testing_support {

// Runs g's updater with args in g's distribution folder, with g.registry as
// its registry and input as the answers typed at the console; interruptWhen
// as in ProcessOptions.
ProcessResult RunConsoleUpdater(const GameInstall& g, const std::vector<std::string>& args,
                                const std::string& input = "n\n",
                                std::function<bool(const std::string&)> interruptWhen = nullptr);

}  // namespace testing_support
