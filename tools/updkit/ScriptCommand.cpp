// updkit script: reads an update script as the updater does and shows what
// its token reader yields.
#include <cstdio>
#include <string>

#include "ourlib/src/ErrFrame.h"
#include "script/TokenReader.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Escape.h"

namespace {

std::string ValueText(int code) {
  char number[16];
  switch (code) {
    case TOK_NUMBER:
      std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(TokenValue.word));
      return number;
    case TOK_CHARACTER:
      std::snprintf(number, sizeof number, "%d",
                    static_cast<int>(static_cast<int32_t>(TokenValue.word)));
      return number;
    case TOK_STRING:
      return EscapeBytes(TokenValue.string != nullptr ? TokenValue.string : "");
    default:
      return "";
  }
}

int Tokens(const char* path) {
  int status = 0;
  int opened = OpenScript(path);
  if (opened != 0) {
    std::printf("%s:0\terror\t%d\n", EscapeBytes(path).c_str(), opened);
    return 1;
  }
  // Read and close failures are raised; this frame turns them into a result.
  int raised = Guard([&] {
    for (;;) {
      int code = ReadToken();
      std::string where =
          EscapeBytes(SourceCurrentName()) + ":" + std::to_string(SourceCurrentLine());
      if (code < 0) {
        std::printf("%s\terror\t%d\n", where.c_str(), code);
        status = 1;
        return;
      }
      std::printf("%s\t%d\t%s\t%s\n", where.c_str(), code, EscapeBytes(TokenText).c_str(),
                  ValueText(code).c_str());
      if (code == TOK_END_OF_INPUT) return;
    }
  });
  if (raised != 0) {
    std::printf("%s:%d\terror\t%d\n", EscapeBytes(SourceCurrentName()).c_str(), SourceCurrentLine(),
                raised);
    status = 1;
  }
  CloseAllSources();
  return status;
}

const Command kScriptCommand{
    "script",
    "read an update script and list its tokens",
    {
        {"tokens",
         {"FILE"},
         {},
         "Reads FILE as the updater runs a script (macros and includes act)\n"
         "and prints one line per token until the end of input:\n"
         "  FILE:LINE<TAB>CODE<TAB>TEXT<TAB>VALUE\n"
         "FILE:LINE is where an error at that token would be reported; VALUE\n"
         "is the number (35), the decoded string (56) or the signed character\n"
         "code (9), empty for other tokens. In TEXT and VALUE a backslash is\n"
         "\\\\, tab, line feed and carriage return are \\t \\n \\r, other bytes\n"
         "below 0x20 or from 0x7F are \\xHH. An error prints\n"
         "  FILE:LINE<TAB>error<TAB>CODE\n"
         "and exits with status 1.\n",
         [](const Args& a) { return Tokens(a.word(0)); }},
    },
    "",  // no notes
    {},  // no options of its own
    2,   // status of a command line without the action
    2,   // and of a wrong one for it
};

}  // namespace

UPDKIT_COMMAND(script, kScriptCommand);
