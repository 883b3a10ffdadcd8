// updkit's commands. Each lives in a file of its own in this folder and
// declares one table of its actions at namespace scope with UPDKIT_COMMAND.
// The table is the whole grammar of its command line: the parser checks the
// arguments against it and `--help` is printed from it, so the two cannot
// part.
//
// A word that starts with "--" is an option (a lone "--" ends the options;
// every word after it is a positional argument); any other word, "-" and
// "-x" included, is a positional argument or an option's value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// An option of an action ("--capacity N"), or of the command before its
// action ("--registry FILE").
struct Option {
  enum Use {
    kOptional,  // at most once; given again, the last value counts
    kRequired,  // must be given
    kRepeated,  // any number of times; every value counts
    kOneOf,     // exactly one of the action's kOneOf options must be given
  };
  const char* name;   // "--capacity"
  const char* value;  // its value as the usage names it ("N"); null for a switch
  Use use;
  const char* help;   // its lines under the action in --help; null: the usage line shows it
  int64_t low, high;  // when low <= high, the value is a number from low to high
};

// A switch ("--lz"), an option with a value, and one whose value is a number
// from low to high (0 <= low), written in decimal or in hex after 0x.
Option Switch(const char* name, const char* help = nullptr);
Option Valued(const char* name, const char* value, const char* help = nullptr);
Option Number(const char* name, const char* value, int64_t low, int64_t high,
              const char* help = nullptr);
Option Required(Option option);
Option Repeated(Option option);
Option OneOf(Option option);

class Args;

struct Action {
  const char* name;  // the word after the command ("pack")
  // Its positional arguments as the usage names them, in order: "IN", an
  // optional last one in brackets ("[KEY]"), a last one that may repeat with
  // "..." ("DIB...", "[DIB...]" for none or more).
  std::vector<const char*> words;
  std::vector<Option> options;
  std::string help;                     // what it does, for --help; lines end in '\n'
  std::function<int(const Args&)> run;  // returns the process exit status
};

struct Command {
  const char* name;     // first word on the command line ("store")
  const char* summary;  // its line in `updkit --help`
  std::vector<Action> actions;
  std::string notes = {};            // printed after the actions by --help
  std::vector<Option> options = {};  // the command's own, shown before the action
  // Exit status of a command line that names no action or one the command
  // does not have, and of a wrong command line for an action.
  int noActionStatus = 2;
  int usageStatus = 1;
};

// The arguments of one action, checked against its table: every positional
// argument is there, every option is known, every value is given and every
// number is within its bounds.
class Args {
 public:
  Args(const Command& command, const Action& action) : command_(command), action_(action) {}

  // The positional arguments, in order.
  const std::vector<const char*>& words() const { return words_; }
  const char* word(size_t i) const { return words_[i]; }
  bool Has(const char* option) const;
  // The option's value (the last one given), or null when it was not given.
  const char* Value(const char* option) const;
  // Every value of a repeated option, in the order given.
  std::vector<const char*> Values(const char* option) const;
  // A number option's value, or fallback when it was not given.
  int64_t Number(const char* option, int64_t fallback) const;

  // Says on stderr what is wrong with the command line, as
  // "updkit <command> <action>: <message>" followed by the action's usage,
  // and returns the command's status for a wrong command line.
  int Usage(const char* format, ...) const
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

 private:
  friend int RunCommand(const Command& command, int argc, char** argv);
  struct Given {
    const Option* option;
    const char* value;
  };
  const Command& command_;
  const Action& action_;
  std::vector<const char*> words_;
  std::vector<Given> given_;
};

// Parses argv (argv[0] is the command's name) against the command's table
// and runs the action it names; returns the process exit status.
int RunCommand(const Command& command, int argc, char** argv);

// Prints the command's help: every action's usage lines, what it does and
// its options, then the command's notes.
void PrintHelp(const Command& command, FILE* out);

// text as a number from low to high (0 <= low): decimal digits, or hex
// digits after 0x. Nothing else is allowed around them, not even a sign, and
// a leading zero does not make a number octal ("033" is 33, as the section
// of that name is).
bool ParseNumber(const char* text, int64_t low, int64_t high, int64_t* value);

// Adds a command to the list that main() dispatches on.
struct UpdkitRegistrar {
  explicit UpdkitRegistrar(const Command& command);
};
const std::vector<const Command*>& UpdkitCommands();

#define UPDKIT_COMMAND(ident, command) static const UpdkitRegistrar ident##_registrar(command)

// Writes text for a person to out (stdout or stderr). Names and texts are
// bytes of the ANSI code page: they are written as the console shows them
// (plat::ConsoleText), to a terminal, a file or a pipe alike.
void UpdkitPrint(FILE* out, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Prints "updkit: <message>" on stderr and returns 1 (for `return UpdkitFail(...)`).
int UpdkitFail(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
