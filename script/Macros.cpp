// The macro list and its substitution into each line read.
#include "script/Macros.h"

#include <cstring>

#include "ourlib/src/ErrFrame.h"
#include "script/ScriptState.h"
#include "script/TokenReader.h"

namespace {

void FreeMacro(Macro* m) {
  MemFree(m->name);
  MemFree(m->value);
  MemFree(m);
}

// Replaces length `cut` at `at` in the line by value; false when the line
// would grow past kMaxLineLength.
bool Replace(int at, int cut, const char* value, int valueLength) {
  const int newLength = Line().length - cut + valueLength;
  if (newLength > kMaxLineLength) return false;
  LineReserve(newLength + 1);
  char* line = Line().line;
  std::memmove(line + at + valueLength, line + at + cut,
               static_cast<size_t>(Line().length - at - cut + 1));
  std::memcpy(line + at, value, static_cast<size_t>(valueLength));
  Line().length = newLength;
  return true;
}

}  // namespace

void MacroSet(const char* name, const char* value) {
  Macro** link = &Script().macros;
  while (*link != nullptr && std::strcmp((*link)->name, name) != 0) link = &(*link)->next;
  if (std::strcmp(name, value) == 0) {
    // A value equal to the name undefines the macro.
    if (*link != nullptr) {
      Macro* gone = *link;
      *link = gone->next;
      FreeMacro(gone);
    }
    return;
  }
  char* copy = MemStrDup(value);
  if (copy == nullptr) return;
  if (*link != nullptr) {
    MemFree((*link)->value);
    (*link)->value = copy;
    return;
  }
  Macro* m = static_cast<Macro*>(MemAllocZero(sizeof(Macro)));
  char* nameCopy = m != nullptr ? MemStrDup(name) : nullptr;
  if (nameCopy == nullptr) {
    MemFree(m);
    MemFree(copy);
    return;
  }
  m->name = nameCopy;
  m->value = copy;
  *link = m;
}

void MacroFreeAll() {
  while (Script().macros != nullptr) {
    Macro* m = Script().macros;
    Script().macros = m->next;
    FreeMacro(m);
  }
}

bool MacroListEmpty() { return Script().macros == nullptr; }

int MacroSubstitute() {
  for (const Macro* m = Script().macros; m != nullptr; m = m->next) {
    const int nameLength = static_cast<int>(std::strlen(m->name));
    if (nameLength == 0) continue;  // an empty name occurs nowhere
    const int valueLength = static_cast<int>(std::strlen(m->value));
    const char* found = std::strstr(Line().line, m->name);
    while (found != nullptr) {
      const int at = static_cast<int>(found - Line().line);
      // A value holding its own name past its first character would be found
      // again in every inserted copy; the length limit ends that.
      if (!Replace(at, nameLength, m->value, valueLength)) return ERR_LINE_TOO_LONG;
      if (at + 1 > Line().length) break;  // an empty value at the line end
      found = std::strstr(Line().line + at + 1, m->name);
    }
  }
  return Line().length;
}
