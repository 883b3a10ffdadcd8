// How updkit prints bytes that may hold anything (token texts, record names)
// on one tab-separated line.
#pragma once

#include <string>

// A backslash becomes \\, tab, line feed and carriage return \t \n \r, other
// bytes below 0x20 or from 0x7F \xHH (lower case); the rest stays.
std::string EscapeBytes(const char* text);
