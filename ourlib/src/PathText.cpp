#include "ourlib/src/PathText.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/CodePage.h"

namespace {

// Bytes of the character at p: 2 for a lead byte with its trail, else 1.
size_t Width(const char* p) {
  return (plat::IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') ? 2 : 1;
}

// Copies n bytes of src into a field of `capacity` bytes, cut to fit.
void CopyPart(char* dst, size_t capacity, const char* src, size_t n) {
  std::string part(src, n);
  CopyBounded(dst, capacity, part.c_str());
}

}  // namespace

const char* LastCharacter(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p += Width(p)) last = p;
  return last;
}

const char* FindBackslash(const char* text) {
  for (const char* p = text; *p != '\0'; p += Width(p)) {
    if (*p == '\\') return p;
  }
  return nullptr;
}

bool EndsWithBackslash(const char* text) {
  const char* last = LastCharacter(text);
  return last != nullptr && *last == '\\';
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

bool AddBackslash(char* text, size_t capacity) {
  if (EndsWithBackslash(text)) return true;
  return AppendBounded(text, capacity, "\\");
}

bool CopyBounded(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) return false;
  size_t n = 0;
  while (src[n] != '\0') {
    size_t width = Width(src + n);
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

void SplitPath(const char* path, PathParts* parts) {
  parts->drive[0] = parts->dir[0] = parts->fname[0] = parts->ext[0] = '\0';
  if (path == nullptr) return;
  const char* p = path;
  if (p[0] != '\0' && p[1] == ':') {
    CopyPart(parts->drive, sizeof parts->drive, p, 2);
    p += 2;
  }
  // The folder runs to the last separator and the extension from the last
  // dot after it; the trail byte of a double-byte character is neither.
  const char* lastSep = nullptr;
  const char* lastDot = nullptr;
  for (const char* q = p; *q != '\0'; q += Width(q)) {
    if (*q == '\\' || *q == '/') {
      lastSep = q;
      lastDot = nullptr;
    } else if (*q == '.') {
      lastDot = q;
    }
  }
  const char* name = p;
  if (lastSep != nullptr) {
    CopyPart(parts->dir, sizeof parts->dir, p, static_cast<size_t>(lastSep + 1 - p));
    name = lastSep + 1;
  }
  if (lastDot != nullptr) {
    CopyPart(parts->fname, sizeof parts->fname, name, static_cast<size_t>(lastDot - name));
    CopyPart(parts->ext, sizeof parts->ext, lastDot, std::strlen(lastDot));
  } else {
    CopyPart(parts->fname, sizeof parts->fname, name, std::strlen(name));
  }
}

bool MakePath(char* out, size_t capacity, const char* drive, const char* dir, const char* fname,
              const char* ext) {
  if (capacity == 0) return false;
  out[0] = '\0';
  bool whole = true;
  if (drive != nullptr && drive[0] != '\0') {
    char d[3] = {drive[0], ':', '\0'};
    whole &= AppendBounded(out, capacity, d);
  }
  if (dir != nullptr && dir[0] != '\0') {
    whole &= AppendBounded(out, capacity, dir);
    const char* last = LastCharacter(dir);
    if (*last != '\\' && *last != '/') whole &= AppendBounded(out, capacity, "\\");
  }
  if (fname != nullptr) whole &= AppendBounded(out, capacity, fname);
  if (ext != nullptr && ext[0] != '\0') {
    if (ext[0] != '.') whole &= AppendBounded(out, capacity, ".");
    whole &= AppendBounded(out, capacity, ext);
  }
  return whole;
}
