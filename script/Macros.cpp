// The macro list and its substitution into each line read.
#include "script/Macros.h"

#include <cstring>

#include "ourlib/src/ErrFrame.h"
#include "script/ScriptState.h"
#include "script/TokenReader.h"

namespace {

struct Macro {
  Macro* next;
  char* name;
  char* value;
};

Macro* g_first = nullptr;  // in definition order

void FreeMacro(Macro* m) {
  MemFree(m->name);
  MemFree(m->value);
  MemFree(m);
}

// Replaces length `cut` at `at` in the line by value; false when the line
// would grow past kMaxLineLength.
bool Replace(int at, int cut, const char* value, int valueLength) {
  const int newLength = g_line.length - cut + valueLength;
  if (newLength > kMaxLineLength) return false;
  LineReserve(newLength + 1);
  char* line = g_line.line;
  std::memmove(line + at + valueLength, line + at + cut, static_cast<size_t>(g_line.length - at - cut + 1));
  std::memcpy(line + at, value, static_cast<size_t>(valueLength));
  g_line.length = newLength;
  return true;
}

}  // namespace

void MacroSet(const char* name, const char* value) {
  Macro** link = &g_first;
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
  while (g_first != nullptr) {
    Macro* m = g_first;
    g_first = m->next;
    FreeMacro(m);
  }
}

bool MacroListEmpty() { return g_first == nullptr; }

int MacroSubstitute() {
  for (const Macro* m = g_first; m != nullptr; m = m->next) {
    const int nameLength = static_cast<int>(std::strlen(m->name));
    if (nameLength == 0) continue;  // an empty name occurs nowhere
    const int valueLength = static_cast<int>(std::strlen(m->value));
    const char* found = std::strstr(g_line.line, m->name);
    while (found != nullptr) {
      const int at = static_cast<int>(found - g_line.line);
      // A value holding its own name past its first character would be found
      // again in every inserted copy; the length limit ends that.
      if (!Replace(at, nameLength, m->value, valueLength)) return ERR_LINE_TOO_LONG;
      if (at + 1 > g_line.length) break;  // an empty value at the line end
      found = std::strstr(g_line.line + at + 1, m->name);
    }
  }
  return g_line.length;
}
