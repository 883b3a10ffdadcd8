// The system's ANSI code page: every name and text of the game's world
// (scripts, packages, stores, the registry, Report.txt) is bytes of it.
// Paths are searched and cut a whole character at a time; on POSIX the
// names become the file system's UTF-8 the way Wine makes them (the code
// page to UTF-16, then UTF-8), and texts shown at the console the terminal's
// encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// Windows: GetACP(). POSIX: the code page UPDATER_CODEPAGE names ("1251",
// "cp932"), one of 874, 1250 to 1258 (single-byte) and 932, 936, 949, 950
// (double-byte); 1252 without it or for one this build does not know.
unsigned AnsiCodePage();

// True when b starts a double-byte character in the ANSI code page.
bool IsLeadByte(uint8_t b);

// Text of the ANSI code page as UTF-16 (MultiByteToWideChar with CP_ACP):
// every byte, zero bytes included, gives its character; a byte that starts
// no character of the code page gives '?'.
std::u16string AnsiToWide(std::string_view text);
// UTF-16 as the ANSI code page; a character the code page lacks becomes '?'.
std::string WideToAnsi(std::u16string_view text);

// Portable: UTF-8 and UTF-16, both ways; a byte that starts no UTF-8
// sequence, or an unpaired surrogate, becomes U+FFFD.
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);
// The ANSI code page and UTF-8, through UTF-16; text of 7-bit characters
// alone is the same in both and comes back as it is.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// POSIX: uses code page cp from now on (0: UPDATER_CODEPAGE again); false,
// with nothing changed, for one this build does not know. Tests use it.
// Windows: the system's code page stays; true only for that one.
bool UseAnsiCodePage(unsigned cp);

}  // namespace plat
