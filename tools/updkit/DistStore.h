// A game's record store in two versions compared record by record, and the
// store an update ships to bring the old one up to the new: the records that
// are new or changed, each with the key's info bytes and pack method as the
// new store has them, fonts with their surfaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dist {

struct RecordRef {
  uint8_t section = 0;
  std::string name;    // the key's name bytes (a zero byte among them is possible)
  bool added = false;  // shipped: only in NEW (else changed)
};

struct StoreDiff {
  std::vector<RecordRef> shipped;      // new or changed, in NEW's key order
  std::vector<RecordRef> gone;         // in OLD only: an update cannot remove them
  std::vector<RecordRef> unshippable;  // new or changed, but the updater never copies
                                       // them (section 255, a zero byte in the name)
};

// A record as messages and the report name it: the section's name and the
// record's name ("M_USER scout"; bytes that do not print escaped).
std::string RecordName(uint8_t section, const std::string& name);

// Compares every keyed record of the store at oldPath with the store at
// newPath (".DKX" paths, both opened read-only). A record is the same when
// its info bytes, pack method and unpacked bytes are; a font (section 3)
// when its surfaces and the bytes after its surface table are. Every
// record that ships is read whole once, so a damaged one is found here.
// "" or what failed.
std::string CompareStores(const std::string& oldPath, const std::string& newPath, StoreDiff* diff);

// Makes the store at outPath (new) with the records of the store at newPath
// that diff ships: each stored exactly as NEW stores it, a font's surfaces
// as unnamed records its table points to. "" or what failed; the store is
// there only when the whole of it was written.
std::string WriteShippedStore(const std::string& newPath, const StoreDiff& diff,
                              const std::string& outPath);

}  // namespace dist
