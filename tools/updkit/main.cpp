// updkit: builds and inspects what an update ships.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/updkit/Command.h"

namespace {
std::vector<UpdkitCommand>& Commands() {
  static std::vector<UpdkitCommand> commands;
  return commands;
}

void Usage(FILE* out) {
  std::fprintf(out, "usage: updkit <command> [arguments]\n\ncommands:\n");
  for (const UpdkitCommand& c : Commands()) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(out, "\n`updkit <command> --help` tells more.\n");
}
}  // namespace

UpdkitRegistrar::UpdkitRegistrar(const UpdkitCommand& command) {
  Commands().push_back(command);
}

int UpdkitFail(const char* format, ...) {
  std::fputs("updkit: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Usage(stdout);
    return 0;
  }
  for (const UpdkitCommand& c : Commands()) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  }
  UpdkitFail("unknown command '%s'", argv[1]);
  Usage(stderr);
  return 2;
}
