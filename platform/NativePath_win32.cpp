#include <windows.h>

#include "platform/NativePath.h"

namespace plat {

std::string NativePath(const char* path) { return path != nullptr ? path : ""; }

std::string ShownPath(const char* path) { return path != nullptr ? path : ""; }

std::string CorePath(const std::string& native) { return native; }

std::string CurrentFolder() {
  const DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return "";
  std::string folder(needed, '\0');
  const DWORD got = ::GetCurrentDirectoryA(needed, &folder[0]);
  if (got == 0 || got >= needed) return "";
  folder.resize(got);
  return folder;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(argv[i] != nullptr ? argv[i] : "");
  return args;
}

}  // namespace plat
