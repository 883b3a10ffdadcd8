#include "tests/support/ConsoleUpdater.h"

#include <utility>

namespace testing_support {

ProcessResult RunConsoleUpdater(const GameInstall& g, const std::vector<std::string>& args,
                                const std::string& input,
                                std::function<bool(const std::string&)> interruptWhen) {
  ProcessOptions o;
  o.workingDir = g.dist;
  o.environment = {"UPDATER_REGISTRY=" + g.registry};
  o.input = input;
  o.interruptWhen = std::move(interruptWhen);
  return RunProgram(g.Updater(), args, o);
}

}  // namespace testing_support
