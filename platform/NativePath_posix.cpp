#include <cctype>

#include "platform/NativePath.h"
#include "platform/PosixSupport.h"

namespace plat {

std::string NativePath(const char* path) {
  if (path == nullptr) return std::string();
  // A drive names nothing here: "c:\logs\a.log" is /logs/a.log.
  if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') path += 2;
  return posix::Resolve(path);
}

}  // namespace plat
