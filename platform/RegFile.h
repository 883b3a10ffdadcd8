// The registry as a text file, in the formats regedit exports and Wine
// keeps. regedit's: a first line "REGEDIT4" or "Windows Registry Editor
// Version 5.00", then sections
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Varnholt\Marovex\Version]
//   "Server"="eu.example.net"
//   "Version"=dword:01020003
//   "Folder"=hex(1):43,3a,5c,00,00,...
// Wine's (a prefix's system.reg): a first line "WINE REGISTRY Version 2",
// sections relative to HKEY_LOCAL_MACHINE with the time of their last
// change ("[Software\\Varnholt\\Marovex] 1700000000", "#time=..."), texts
// with C-like escapes ("\\x00e9", "\\0") and str(N): for other text types.
// Lines starting with ';' are comments; a hex list may go on over lines
// ending in '\'. Both LF and CR LF are read.
//
// A value holds the bytes a program sees through the ANSI registry calls
// (RegQueryValueExA). A REGEDIT4 file is text of the ANSI code page and
// its hex(N) bytes are those very bytes. "Windows Registry Editor Version
// 5.00" and Wine's files are Unicode: the file is UTF-16LE after its
// byte-order mark (as regedit writes it) or UTF-8, and a text value's
// characters and its hex(1), hex(2) and hex(7) bytes (UTF-16LE) are turned
// into the code page as Windows turns them for those calls, and back.
//
// A file is written back in its own format, encoding, first lines and line
// ends; what did not change is written as it was read (so that characters
// the code page lacks survive), and a changed Wine section gets the time
// of the change. Texts are written "..." only when that form gives back
// exactly the stored bytes; anything else, such as a whole 260-byte field,
// as hex(N): (Wine: "..." with "\\0" escapes), so every value keeps its
// exact length.
//
// Portable: the POSIX registry backend keeps HKEY_LOCAL_MACHINE in such a
// file; updkit and the tests read and write it on every build.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace plat {
namespace regfile {

constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";
// A longer physical line makes the file unreadable.
constexpr size_t kMaxLine = 64 * 1024;

enum class Format {
  Regedit4,  // "REGEDIT4": text of the ANSI code page
  Regedit5,  // "Windows Registry Editor Version 5.00": Unicode
  Wine,      // "WINE REGISTRY Version 2": Unicode, Wine's own sections and escapes
};

enum class Encoding {
  Plain,     // the code page for REGEDIT4, UTF-8 for the others; no mark
  Utf8Mark,  // UTF-8 after EF BB BF
  Utf16Le,   // UTF-16LE after FF FE, as regedit exports
};

// A value as it was read, and its lines in the file.
struct KeptValue {
  RegValue value;
  std::string text;
};

struct Key {
  std::string path;  // below HKEY_LOCAL_MACHINE: "SOFTWARE\\Varnholt"
  std::vector<RegValue> values;
  // As read from the file (empty for a key added since): the section's own
  // lines (Wine: with its option lines) and each value as read.
  std::string head = {};
  std::vector<KeptValue> kept = {};
};

struct Document {
  Format format = Format::Regedit4;
  Encoding encoding = Encoding::Plain;
  std::string lineEnd = "\n";
  // The lines before the first section, from the format's first line on
  // (Wine: the root and #arch lines); empty: the format's first line.
  std::string preamble;
  std::vector<Key> keys;  // in file order
};

// Parses a file's bytes; on a syntax error, an unknown value type, an
// overlong line, a section outside HKEY_LOCAL_MACHINE (or a Wine file of
// another root) returns kRegErrBadFormat and sets *errorLine (1-based) when
// given.
int Parse(const std::string& bytes, Document* doc, int* errorLine = nullptr);
// The file's bytes for doc.
std::string Serialize(const Document& doc);

// Key and value names compare without regard to ASCII case, as in Windows.
Key* FindKey(Document* doc, const std::string& path);
// True when path is a listed key or the parent of one.
bool KeyExists(const Document& doc, const std::string& path);
// True when path is base or a key below it (every path is below "").
bool IsSameOrBelow(const std::string& path, const std::string& base);
Key* AddKey(Document* doc, const std::string& path);
RegValue* FindValue(Key* key, const std::string& name);
void SetValue(Key* key, const RegValue& value);

}  // namespace regfile
}  // namespace plat
