#include "platform/NativePath.h"

namespace plat {

std::string NativePath(const char* path) { return path != nullptr ? path : ""; }

}  // namespace plat
