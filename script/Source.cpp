// The stack of open script sources and the line fetch.
#include "script/Source.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "ourlib/src/ErrFrame.h"
#include "script/Lexer.h"
#include "script/Macros.h"
#include "script/ScriptState.h"

LineState g_line;

namespace {

// The state of the source that was current before a source was opened
// (for the script itself, the empty state of no source).
struct SourceRecord {
  std::unique_ptr<SourceRecord> next;
  void* handle = nullptr;
  const SourceInterface* source = nullptr;
  uint16_t flags = 0;
  int tokenCode = 0;
  int scanState = 0;
  std::string tokenText;
  std::string fileName;
  int lineNumber = 0;
  TokenValueWord value;
  std::string stringBuffer;
};

std::unique_ptr<SourceRecord> g_stack;

void FreeLineBuffer() {
  MemFreeNull(g_line.line);
  g_line.capacity = 0;
}

// Reads the next line of the current source and applies the macros to it.
// Returns its length, -1 when the source is exhausted, or a negative code.
int ReadLine() {
  LineReserve(kLineBufferSize);
  int n = g_line.source->SourceReadLine(g_line.handle, g_line.line, kLineBufferSize - 1);
  if (n < 0) {
    g_line.length = -1;
    if (n != -1) ++g_line.lineNumber;  // a line refused by the source: its error names it
    return n;
  }
  g_line.length = n;
  ++g_line.lineNumber;  // counted before substitution, so its errors name this line
  if (n > 0 && (LexFlags & LEX_MACROS_ON) && !MacroListEmpty()) {
    n = MacroSubstitute();
    if (n < 0) return n;
    g_line.length = n;
  }
  return n;
}

}  // namespace

void LineReserve(int bytes) {
  if (g_line.capacity >= bytes) return;
  char* grown = static_cast<char*>(MemRealloc(g_line.line, static_cast<size_t>(bytes)));
  if (grown == nullptr) return;  // raised; without a frame the old buffer stays
  if (g_line.line == nullptr) grown[0] = '\0';
  g_line.line = grown;
  g_line.capacity = bytes;
}

int OpenSource(const char* path, const SourceInterface& source) {
  if (!g_stack) {
    MacroFreeAll();
    LexFlags = LEX_INCLUDE_ON | LEX_MACROS_ON;
    g_line.pushedBack = -1;
  }
  std::unique_ptr<SourceRecord> record;
  const bool lineWasAllocated = g_line.line != nullptr;
  void* handle = nullptr;
  std::string name;
  int code = Guard([&] {
    try {
      name = path != nullptr ? path : "";
      record.reset(new SourceRecord);
      LineReserve(kLineBufferSize);
      record->handle = g_line.handle;
      record->source = g_line.source;
      record->tokenText = TokenText;
      record->stringBuffer = TokenString;
      record->fileName = g_line.fileName;
    } catch (const std::bad_alloc&) {
      RaiseError(ERR_NO_MEMORY);
    }
    // A name that does not fit the file-name field is refused like a file
    // that cannot be opened.
    if (name.size() >= static_cast<size_t>(kFileNameField)) RaiseError(ERR_OPEN_FAILED);
    handle = source.SourceOpen != nullptr ? source.SourceOpen(name.c_str()) : nullptr;
    if (handle == nullptr) RaiseError(ERR_OPEN_FAILED);
  });
  if (code == 0 && (record == nullptr || handle == nullptr)) code = ERR_OPEN_FAILED;
  if (code != 0) {
    if (!lineWasAllocated && !g_stack) FreeLineBuffer();
    return RaiseError(code);
  }

  g_line.source = &source;
  g_line.handle = handle;
  std::memcpy(g_line.fileName, name.c_str(), name.size() + 1);
  record->value = TokenValue;
  record->lineNumber = g_line.lineNumber;
  record->flags = LexFlags;
  record->tokenCode = TokenCode;
  record->scanState = g_line.scanState;
  LexFlags = static_cast<uint16_t>((LexFlags & ~(LEX_END_OF_INPUT | LEX_INCLUDED)) | LEX_LINE_END_TOKENS);

  g_line.pos = 1;
  g_line.length = 0;
  g_line.lineNumber = 0;
  g_line.tokenStart = 0;
  g_line.scanState = TokenCode;
  TokenCode = TOK_OTHER;
  record->next = std::move(g_stack);
  g_stack = std::move(record);
  return 0;
}

int CloseSource() {
  if (g_line.handle != nullptr) {
    void* handle = g_line.handle;
    g_line.handle = nullptr;
    if (g_line.source != nullptr && g_line.source->SourceClose != nullptr) g_line.source->SourceClose(handle);
  }
  std::unique_ptr<SourceRecord> top = std::move(g_stack);
  if (top) {
    g_stack = std::move(top->next);
    // The saved texts came from buffers of the same size, so they fit.
    std::memcpy(TokenText, top->tokenText.c_str(), top->tokenText.size() + 1);
    std::memcpy(TokenString, top->stringBuffer.c_str(), top->stringBuffer.size() + 1);
    std::memcpy(g_line.fileName, top->fileName.c_str(), top->fileName.size() + 1);
    LexFlags = top->flags;
    TokenValue = top->value;
    TokenCode = top->tokenCode;
    g_line.scanState = top->scanState;
    g_line.handle = top->handle;
    g_line.source = top->source;
    g_line.lineNumber = top->lineNumber;
  }
  if (!g_stack) {
    FreeLineBuffer();
    g_line.length = 0;
    g_line.pos = 1;
    TokenText[0] = '\0';
    TokenString[0] = '\0';
    g_line.fileName[0] = '\0';
    MacroFreeAll();
  }
  return g_stack ? 1 : 0;
}

void CloseAllSources() {
  while (CloseSource()) {
  }
}

int SourceDepth() {
  int depth = 0;
  for (const SourceRecord* r = g_stack.get(); r != nullptr; r = r->next.get()) ++depth;
  return depth;
}

const char* SourceCurrentName() { return g_line.fileName; }
int SourceCurrentLine() { return g_line.lineNumber; }

int FetchLine() {
  TokenCode = TOK_OTHER;
  if (g_line.handle == nullptr || g_line.line == nullptr) return ERR_PAST_END;
  for (;;) {
    if (g_line.pos > g_line.length) {
      if (LexFlags & LEX_END_OF_INPUT) {
        LexFlags &= static_cast<uint16_t>(~LEX_END_OF_INPUT);
        g_line.pos = 1;
        g_line.length = 0;
        if (g_line.source->SourceMoreInput == nullptr || g_line.source->SourceMoreInput(g_line.handle) == 0)
          return ERR_PAST_END;
      }
      g_line.continued = false;
      int n = ReadLine();
      while (n == -1) {
        if (!(LexFlags & LEX_INCLUDED)) {
          LexFlags |= LEX_END_OF_INPUT;
          break;
        }
        if (g_line.source->SourceNotify != nullptr) g_line.source->SourceNotify(g_line.fileName, 0);
        CloseSource();
        TokenCode = TOK_OTHER;
        if (g_line.handle == nullptr) return ERR_PAST_END;
        n = ReadLine();
      }
      if (n < -1) return n;
      if (n >= 0) {
        TokenCode = TOK_OTHER;
        g_line.pos = 0;
        g_line.tokenStart = 0;
        if (g_line.length > 0 && g_line.line[g_line.length - 1] == '\\') {
          g_line.line[--g_line.length] = '\0';
          g_line.continued = true;
        }
      }
    }
    if (LexFlags & LEX_END_OF_INPUT) {
      TokenCode = TOK_END_OF_INPUT;
      return 0;
    }
    if (LexFlags & LEX_IN_COMMENT) {
      // Inside a block comment blanks are not skipped: the lexer scans them.
      if (g_line.pos < g_line.length) return 0;
    } else {
      while (g_line.pos < g_line.length && LexIsBlank(static_cast<unsigned char>(g_line.line[g_line.pos])))
        ++g_line.pos;
      if (g_line.pos < g_line.length) return 0;
    }
    g_line.pos = g_line.length + 1;
    TokenCode = TOK_END_OF_LINE;
    if (g_line.continued) continue;
    if (LexFlags & LEX_LINE_END_TOKENS) return 0;
  }
}
