// updkit's subcommands register themselves: each lives in a file of its own
// in this folder and declares one UPDKIT_COMMAND at namespace scope.
#pragma once

#include <cstdio>

struct UpdkitCommand {
  const char* name;     // first word on the command line ("store", "lz", ...)
  const char* summary;  // one line for `updkit --help`
  // argv[0] is the subcommand's name; returns the process exit status.
  int (*run)(int argc, char** argv);
};

// Adds a command to the list that main() dispatches on.
struct UpdkitRegistrar {
  explicit UpdkitRegistrar(const UpdkitCommand& command);
};

#define UPDKIT_COMMAND(ident, name, summary, fn) \
  static const UpdkitRegistrar ident##_registrar(UpdkitCommand{name, summary, fn})

// Prints "updkit: <message>" on stderr and returns 1 (for `return Fail(...)`).
int UpdkitFail(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
