#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/NativePath.h"
#include "platform/PosixSupport.h"

namespace plat {

std::string NativePath(const char* path) { return posix::Resolve(path); }

std::string ShownPath(const char* path) {
  std::string p = path != nullptr ? path : "";
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    std::string folder, core;
    if (posix::DriveFolder(p[0], true, &folder) && posix::CorePath(folder, &core)) {
      p = core + (p.size() > 2 && (p[2] == '\\' || p[2] == '/') ? "" : "/") + p.substr(2);
    }
  }
  // A whole character at a time: the second byte of a double-byte
  // character may be a backslash's.
  for (size_t i = 0; i < p.size(); ++i) {
    if (IsLeadByte(static_cast<uint8_t>(p[i])) && i + 1 < p.size()) {
      ++i;
    } else if (p[i] == '\\') {
      p[i] = '/';
    }
  }
  return p;
}

std::string CorePath(const std::string& native) {
  std::string core;
  return posix::CorePath(native, &core) ? core : "";
}

std::string CurrentFolder() {
  std::string native(4096, '\0');
  while (getcwd(&native[0], native.size()) == nullptr) {
    if (errno != ERANGE) return "";
    native.resize(native.size() * 2);
  }
  native.resize(std::strlen(native.c_str()));
  return CorePath(native);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8ToAnsi(argv[i] != nullptr ? argv[i] : ""));
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string program;
  if (argc > 0 && n > 0 && posix::CorePath(std::string(self, static_cast<size_t>(n)), &program)) {
    args[0] = program;
  }
  return args;
}

}  // namespace plat
