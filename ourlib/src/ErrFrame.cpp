#include "ourlib/src/ErrFrame.h"

#include <cstdlib>
#include <cstring>

namespace {
FirstError g_first = {nullptr, 0, 0};
}  // namespace

int RaiseError(int code) {
  if (ErrFrameHead() != nullptr) throw RaisedError{code};
  return code;
}

int RaiseErrorAt(int code, int force, const char* file, int line) {
  if (force != 0 || g_first.file == nullptr) {
    g_first.file = file;
    g_first.line = line;
    g_first.code = code;
  }
  return RaiseError(code);
}

FirstError& FirstErrorRecord() { return g_first; }

void* MemAlloc(size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) RaiseError(ERR_NO_MEMORY);
  return p;
}

void* MemAllocZero(size_t n) {
  void* p = std::calloc(n == 0 ? 1 : n, 1);
  if (p == nullptr) RaiseError(ERR_NO_MEMORY);
  return p;
}

void* MemRealloc(void* p, size_t n) {
  void* q = std::realloc(p, n == 0 ? 1 : n);
  if (q == nullptr) RaiseError(ERR_NO_MEMORY);  // p stays valid and owned by the caller
  return q;
}

char* MemStrDup(const char* s) {
  if (s == nullptr) return nullptr;
  size_t n = std::strlen(s) + 1;
  char* p = static_cast<char*>(MemAlloc(n));
  if (p != nullptr) std::memcpy(p, s, n);
  return p;
}

void MemFree(void* p) { std::free(p); }
