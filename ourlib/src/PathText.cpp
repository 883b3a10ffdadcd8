#include "ourlib/src/PathText.h"

#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

static bool Lead(char c) { return plat::IsLeadByte(static_cast<uint8_t>(c)); }

const char* LastCharacter(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0';) {
    last = p;
    p += (Lead(*p) && p[1] != '\0') ? 2 : 1;
  }
  return last;
}

const char* FindBackslash(const char* text) {
  for (const char* p = text; *p != '\0';) {
    if (*p == '\\') return p;
    p += (Lead(*p) && p[1] != '\0') ? 2 : 1;
  }
  return nullptr;
}

bool EnsureTrailingSeparator(char* path, size_t capacity) {
  const char* last = LastCharacter(path);
  if (last == nullptr) return true;
  if (*last == '\\' || *last == '/' || *last == ':') return true;
  size_t n = std::strlen(path);
  if (n + 2 > capacity) return false;
  path[n] = '\\';
  path[n + 1] = '\0';
  return true;
}

bool CopyBounded(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) return false;
  size_t n = 0;
  while (src[n] != '\0') {
    size_t width = (Lead(src[n]) && src[n + 1] != '\0') ? 2 : 1;
    if (n + width + 1 > capacity) {
      dst[n] = '\0';
      return false;
    }
    std::memcpy(dst + n, src + n, width);
    n += width;
  }
  dst[n] = '\0';
  return true;
}

bool AppendBounded(char* dst, size_t capacity, const char* src) {
  size_t n = std::strlen(dst);
  if (n >= capacity) return false;
  return CopyBounded(dst + n, capacity - n, src);
}
