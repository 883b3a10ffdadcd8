// Path texts as the program keeps them: 8-bit, zero-terminated, in fixed
// 260-byte fields, double-byte aware where they are searched or cut. This
// is the one home of portable path text (bounded copies, separators,
// splitting and joining) for every layer; what turns such a text into a
// path the operating system takes is platform/NativePath.h.
#pragma once

#include <cstddef>

constexpr size_t kPathField = 260;  // 259 characters and the terminator

// Appends a backslash to the text in a field of `capacity` bytes unless it is
// empty or its last whole character is a backslash, a slash or a colon.
// Returns false (text unchanged) when the backslash would not fit.
bool EnsureTrailingSeparator(char* path, size_t capacity = kPathField);

// An empty text becomes a single backslash; otherwise a backslash is appended
// unless the last character already is one. False (text unchanged) when it
// would not fit the field of `capacity` bytes.
bool AddBackslash(char* text, size_t capacity = kPathField);

// Whether the last whole character of text is a backslash.
bool EndsWithBackslash(const char* text);

// The last whole character of text, or null for an empty text. The trail
// byte of a double-byte character is never taken for a character of its own.
const char* LastCharacter(const char* text);

// The first backslash at or after text that is a character of its own (not
// the trail byte of a double-byte character), or null.
const char* FindBackslash(const char* text);

// Copies src into a field of `capacity` bytes, cut so that it always ends in
// a terminator and never in half a double-byte character. Returns false
// when src had to be cut.
bool CopyBounded(char* dst, size_t capacity, const char* src);

// Appends src to the text in a field of `capacity` bytes, with CopyBounded's
// rules. Returns false when src had to be cut.
bool AppendBounded(char* dst, size_t capacity, const char* src);

// Splitting and joining Windows-style paths the way the C runtime's
// _splitpath and _makepath do, on every build: a drive is a letter and a
// colon, both '\\' and '/' separate folders, the extension starts at the
// last '.' of the last component.

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
