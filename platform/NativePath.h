// Paths as the operating system wants them, for code that opens files
// through the C runtime rather than through Env, and as a person knows them.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Windows: the path unchanged. POSIX: the file system's path for it
// (bytes of the ANSI code page in UTF-8, backslashes as '/', a drive letter
// as the folder it stands for in the Wine prefix of the registry, or
// dropped without one), where a component that does not exist as written is
// looked up without regard to case; missing trailing components are kept as
// written (so a file to be created gets its name as given).
std::string NativePath(const char* path);

// A path as a message or the log names it. Windows: unchanged. POSIX: in
// the native form, still in the ANSI code page: every separator '/', a
// drive letter as the folder it stands for (or dropped, as above).
std::string ShownPath(const char* path);

// A path of the system as the core names it (the reverse of NativePath).
// Windows: unchanged. POSIX: in the ANSI code page; "" when a character of
// it is not in the code page.
std::string CorePath(const std::string& native);

// The current folder as the core names it, without a trailing separator;
// "" when it cannot be read. Windows: GetCurrentDirectoryA. POSIX: in the
// ANSI code page, "" as well when a character of it is not in the code page.
std::string CurrentFolder();

// The program's arguments as the core takes them, argv[0] being the path of
// the running program. Windows: as the C runtime gives them. POSIX: argv[0]
// is the program the system started (/proc/self/exe, as GetModuleFileName
// gives it on Windows; argv[0] where that cannot be read), and every
// argument is turned from the system's UTF-8 into the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace plat
