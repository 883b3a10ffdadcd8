// updkit: builds and inspects what an update ships. Its arguments reach the
// commands as the updater's reach the core: in the ANSI code page, the names
// the game and its files know.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ProgramVersion.h"
#include "platform/NativePath.h"
#include "tools/updkit/Command.h"

namespace {
void Usage(FILE* out) {
  std::fprintf(out, "usage: updkit <command> [arguments]\n\ncommands:\n");
  for (const Command* c : UpdkitCommands()) std::fprintf(out, "  %-8s %s\n", c->name, c->summary);
  std::fprintf(out, "\n`updkit <command> --help` tells more, `updkit --version` the version.\n");
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = plat::ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  argv = pointers.data();
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Usage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("updkit %s\n", UPD_VERSION_TEXT);
    return 0;
  }
  for (const Command* c : UpdkitCommands()) {
    if (std::strcmp(argv[1], c->name) == 0) return RunCommand(*c, argc - 1, argv + 1);
  }
  UpdkitFail("unknown command '%s'", argv[1]);
  Usage(stderr);
  return 2;
}
