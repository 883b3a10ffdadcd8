// The registry as a text file, in the format regedit exports: a first line
// "REGEDIT4" or "Windows Registry Editor Version 5.00", then sections
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Varnholt\Marovex\Version]
//   "Server"="eu.example.net"
//   "Version"=dword:01020003
//   "Folder"=hex(1):43,3a,5c,00,00,...
// Texts are written "..." (with \\ and \" escapes) only when that form gives
// back exactly the stored bytes (the text and one terminating zero);
// anything else, such as a whole 260-byte field, is written hex(N): so every
// value keeps its exact length. Lines starting with ';' are comments; a
// hex list may go on over lines ending in '\'. Both LF and CR LF are read.
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

struct Key {
  std::string path;  // below HKEY_LOCAL_MACHINE: "SOFTWARE\\Varnholt"
  std::vector<RegValue> values;
};

struct Document {
  std::vector<Key> keys;  // in file order
};

// Parses text; on a syntax error, an unknown value type, an overlong line or
// a section outside HKEY_LOCAL_MACHINE returns kRegErrBadFormat and sets
// *errorLine (1-based) when given.
int Parse(const std::string& text, Document* doc, int* errorLine = nullptr);
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
