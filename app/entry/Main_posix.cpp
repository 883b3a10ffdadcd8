// The updater on POSIX: a failure's -1 reaches the shell as status 255. The
// arguments reach the core as Windows hands them to a program: argv[0] the
// running program's path, every argument in the ANSI code page.
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/RunUpdate.h"
#include "platform/NativePath.h"

int main(int argc, char** argv) {
  InstallStringTable();
  std::vector<std::string> args = plat::ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  return UpdaterMain(argc, pointers.data());
}
