// Splitting and joining Windows-style paths the way the C runtime's
// _splitpath and _makepath do, on every build: a drive is a letter and a
// colon, both '\\' and '/' separate folders, the extension starts at the
// last '.' of the last component. Double-byte aware.
#pragma once

#include <cstddef>

// Part sizes with their terminators, as the C runtime has them.
constexpr size_t kMaxDrive = 3;
constexpr size_t kMaxDir = 256;
constexpr size_t kMaxFname = 256;
constexpr size_t kMaxExt = 256;

struct PathParts {
  char drive[kMaxDrive];  // "C:" or empty
  char dir[kMaxDir];      // "\\logs\\" with its trailing separator, or empty
  char fname[kMaxFname];  // "updlog" or empty
  char ext[kMaxExt];      // ".txt" with its dot, or empty
};

// Splits path into its four parts; a part too long for its field is cut.
void SplitPath(const char* path, PathParts* parts);

// Joins the parts into a field of `capacity` bytes (any of them may be null
// or empty): a colon is added after a one-letter drive without one, a
// backslash after a folder that does not end in a separator, a dot before an
// extension that has none. The result is cut to fit. Returns false when cut.
bool MakePath(char* out, size_t capacity, const char* drive, const char* dir, const char* fname,
              const char* ext);
