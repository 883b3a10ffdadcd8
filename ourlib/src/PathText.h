// Path texts as the program keeps them: 8-bit, zero-terminated, in fixed
// 260-byte fields, double-byte aware where they are searched or cut.
#pragma once

#include <cstddef>

constexpr size_t kPathField = 260;  // 259 characters and the terminator

// Appends a backslash to the text in a field of `capacity` bytes unless it is
// empty or its last whole character is a backslash, a slash or a colon.
// Returns false (text unchanged) when the backslash would not fit.
bool EnsureTrailingSeparator(char* path, size_t capacity = kPathField);

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
