#include "platform/NativePath.h"

namespace plat {

std::string NativePath(const char* path) { return path != nullptr ? path : ""; }

std::string ShownPath(const char* path) { return path != nullptr ? path : ""; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(argv[i] != nullptr ? argv[i] : "");
  return args;
}

}  // namespace plat
