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

namespace {

void FreeLineBuffer() {
  MemFreeNull(Line().line);
  Line().capacity = 0;
}

// Reads the next line of the current source and applies the macros to it.
// Returns its length, -1 when the source is exhausted, or a negative code.
int ReadLine() {
  LineReserve(kLineBufferSize);
  int n = Line().source->SourceReadLine(Line().handle, Line().line, kLineBufferSize - 1);
  if (n < 0) {
    Line().length = -1;
    if (n != -1) ++Line().lineNumber;  // a line refused by the source: its error names it
    return n;
  }
  Line().length = n;
  ++Line().lineNumber;  // counted before substitution, so its errors name this line
  if (n > 0 && (LexFlags & LEX_MACROS_ON) && !MacroListEmpty()) {
    n = MacroSubstitute();
    if (n < 0) return n;
    Line().length = n;
  }
  return n;
}

}  // namespace

void LineReserve(int bytes) {
  if (Line().capacity >= bytes) return;
  char* grown = static_cast<char*>(MemRealloc(Line().line, static_cast<size_t>(bytes)));
  if (grown == nullptr) return;  // raised; without a frame the old buffer stays
  if (Line().line == nullptr) grown[0] = '\0';
  Line().line = grown;
  Line().capacity = bytes;
}

int OpenSource(const char* path, const SourceInterface& source) {
  if (!Script().sources) {
    MacroFreeAll();
    LexFlags = kLexStartFlags;
    Line().pushedBack = -1;
  }
  std::unique_ptr<SourceRecord> record;
  const bool lineWasAllocated = Line().line != nullptr;
  void* handle = nullptr;
  std::string name;
  int code = Guard([&] {
    try {
      name = path != nullptr ? path : "";
      record.reset(new SourceRecord);
      LineReserve(kLineBufferSize);
      record->handle = Line().handle;
      record->source = Line().source;
      record->tokenText = TokenText;
      record->stringBuffer = TokenString;
      record->fileName = Line().fileName;
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
    if (!lineWasAllocated && !Script().sources) FreeLineBuffer();
    return RaiseError(code);
  }

  Line().source = &source;
  Line().handle = handle;
  std::memcpy(Line().fileName, name.c_str(), name.size() + 1);
  record->value = TokenValue;
  record->lineNumber = Line().lineNumber;
  record->flags = LexFlags;
  record->tokenCode = TokenCode;
  record->scanState = Line().scanState;
  LexFlags =
      static_cast<uint16_t>((LexFlags & ~(LEX_END_OF_INPUT | LEX_INCLUDED)) | LEX_LINE_END_TOKENS);

  Line().pos = 1;
  Line().length = 0;
  Line().lineNumber = 0;
  Line().tokenStart = 0;
  Line().scanState = TokenCode;
  TokenCode = TOK_OTHER;
  record->next = std::move(Script().sources);
  Script().sources = std::move(record);
  return 0;
}

int CloseSource() {
  if (Line().handle != nullptr) {
    void* handle = Line().handle;
    Line().handle = nullptr;
    if (Line().source != nullptr && Line().source->SourceClose != nullptr)
      Line().source->SourceClose(handle);
  }
  std::unique_ptr<SourceRecord> top = std::move(Script().sources);
  if (top) {
    Script().sources = std::move(top->next);
    // The saved texts came from buffers of the same size, so they fit.
    std::memcpy(TokenText, top->tokenText.c_str(), top->tokenText.size() + 1);
    std::memcpy(TokenString, top->stringBuffer.c_str(), top->stringBuffer.size() + 1);
    std::memcpy(Line().fileName, top->fileName.c_str(), top->fileName.size() + 1);
    LexFlags = top->flags;
    TokenValue = top->value;
    TokenCode = top->tokenCode;
    Line().scanState = top->scanState;
    Line().handle = top->handle;
    Line().source = top->source;
    Line().lineNumber = top->lineNumber;
  }
  if (!Script().sources) {
    FreeLineBuffer();
    Line().length = 0;
    Line().pos = 1;
    TokenText[0] = '\0';
    TokenString[0] = '\0';
    Line().fileName[0] = '\0';
    MacroFreeAll();
  }
  return Script().sources ? 1 : 0;
}

void CloseAllSources() {
  while (CloseSource()) {
  }
}

int SourceDepth() {
  int depth = 0;
  for (const SourceRecord* r = Script().sources.get(); r != nullptr; r = r->next.get()) ++depth;
  return depth;
}

const char* SourceCurrentName() { return Line().fileName; }
int SourceCurrentLine() { return Line().lineNumber; }

int FetchLine() {
  TokenCode = TOK_OTHER;
  if (Line().handle == nullptr || Line().line == nullptr) return ERR_PAST_END;
  for (;;) {
    if (Line().pos > Line().length) {
      if (LexFlags & LEX_END_OF_INPUT) {
        LexFlags &= static_cast<uint16_t>(~LEX_END_OF_INPUT);
        Line().pos = 1;
        Line().length = 0;
        if (Line().source->SourceMoreInput == nullptr ||
            Line().source->SourceMoreInput(Line().handle) == 0)
          return ERR_PAST_END;
      }
      Line().continued = false;
      int n = ReadLine();
      while (n == -1) {
        if (!(LexFlags & LEX_INCLUDED)) {
          LexFlags |= LEX_END_OF_INPUT;
          break;
        }
        if (Line().source->SourceNotify != nullptr) Line().source->SourceNotify(Line().fileName, 0);
        CloseSource();
        TokenCode = TOK_OTHER;
        if (Line().handle == nullptr) return ERR_PAST_END;
        n = ReadLine();
      }
      if (n < -1) return n;
      if (n >= 0) {
        TokenCode = TOK_OTHER;
        Line().pos = 0;
        Line().tokenStart = 0;
        if (Line().length > 0 && Line().line[Line().length - 1] == '\\') {
          Line().line[--Line().length] = '\0';
          Line().continued = true;
        }
      }
    }
    if (LexFlags & LEX_END_OF_INPUT) {
      TokenCode = TOK_END_OF_INPUT;
      return 0;
    }
    if (LexFlags & LEX_IN_COMMENT) {
      // Inside a block comment blanks are not skipped: the lexer scans them.
      if (Line().pos < Line().length) return 0;
    } else {
      while (Line().pos < Line().length &&
             LexIsBlank(static_cast<unsigned char>(Line().line[Line().pos])))
        ++Line().pos;
      if (Line().pos < Line().length) return 0;
    }
    Line().pos = Line().length + 1;
    TokenCode = TOK_END_OF_LINE;
    if (Line().continued) continue;
    if (LexFlags & LEX_LINE_END_TOKENS) return 0;
  }
}
