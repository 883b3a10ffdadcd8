// Paths as the operating system wants them, for code that opens files
// through the C runtime rather than through Env.
#pragma once

#include <string>

namespace plat {

// Windows: the path unchanged. POSIX: backslashes become '/', a drive prefix
// ("c:") is dropped, and a component that does not exist as written is
// looked up without regard to case; missing trailing components are kept as
// written (so a file to be created gets its name as given).
std::string NativePath(const char* path);

}  // namespace plat
