#include "app/PathSplit.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "ourlib/src/PathText.h"
#include "platform/codepage.h"

namespace {

bool Lead(char c) { return plat::IsLeadByte(static_cast<uint8_t>(c)); }

// Copies n bytes of src into a field of `capacity` bytes, cut to fit.
void CopyPart(char* dst, size_t capacity, const char* src, size_t n) {
  std::string part(src, n);
  CopyBounded(dst, capacity, part.c_str());
}

}  // namespace

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
  for (const char* q = p; *q != '\0';) {
    if (*q == '\\' || *q == '/') {
      lastSep = q;
      lastDot = nullptr;
    } else if (*q == '.') {
      lastDot = q;
    }
    q += (Lead(*q) && q[1] != '\0') ? 2 : 1;
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
