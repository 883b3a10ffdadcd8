// Pairs of game folders for `updkit dist make`, and what a folder holds as
// the game sees it, to compare an updated installation with the new folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace disttest {

struct Record {
  Record(uint8_t section, std::string name, std::string bytes, int pack = 0, std::string info = "")
      : section(section),
        name(std::move(name)),
        bytes(std::move(bytes)),
        pack(pack),
        info(std::move(info)) {}
  uint8_t section;
  std::string name;
  std::string bytes;  // a font's bytes after its surface table
  int pack;
  std::string info;                   // up to 12 bytes
  std::vector<std::string> surfaces;  // a font's (section 3)
};

// A font record: its surfaces, and the bytes after its table.
inline Record Font(std::string name, std::vector<std::string> surfaces, std::string tail = "") {
  Record r(3, std::move(name), std::move(tail));
  r.surfaces = std::move(surfaces);
  return r;
}

// What a folder holds, by path with its letters in upper case (as Windows
// matches names): a file's bytes; a store's records under its ".DKX" (its
// ".DKD" left out), each with its key's pack method and info bytes and a
// font with its surfaces' bytes in place of their offsets; "" for an empty
// folder.
using Contents = std::map<std::string, std::string>;
Contents ContentsOf(const std::string& root);

// Expects an updated installation to hold every path of NEW as NEW has it,
// but those in `left` (which the update cannot make as NEW has them), and
// besides only what OLD had and empty folders (the installation's own).
void ExpectUpdated(const Contents& installed, const Contents& olds, const Contents& news,
                   const std::vector<std::string>& left = {});

// An OLD and a NEW game folder below root. Paths are relative, with '/'.
struct GamePair {
  explicit GamePair(const std::string& root);
  std::string oldRoot, newRoot;
  // The last-write time each file that NEW adds or changes was given; the
  // hours go round 02, 09, 14 and 21 o'clock.
  std::map<std::string, uint64_t> times;

  void Old(const std::string& rel, const std::string& bytes) const;
  void New(const std::string& rel, const std::string& bytes);
  void Both(const std::string& rel, const std::string& bytes);
  void OldStore(const std::string& rel, const std::vector<Record>& records) const;
  void NewStore(const std::string& rel, const std::vector<Record>& records) const;
  void NewFolder(const std::string& rel) const;
};

// Copies the folder from onto to (made when missing).
void CopyFolder(const std::string& from, const std::string& to);

}  // namespace disttest
