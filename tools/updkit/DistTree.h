// Two installed game folders compared as Windows sees them: names matched
// without regard to (ASCII) case, a file with the same bytes on both sides
// unchanged, a record store (a ".DKX" with its ".DKD" beside it) in both
// folders one thing to be compared record by record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dist {

// A path below a game folder as the script and the packages name it:
// components joined by backslashes, none at either end.
struct TreeChange {
  enum Kind {
    kChanged,      // a file in both folders whose bytes differ
    kNew,          // a file only in NEW
    kEmptyFolder,  // an empty folder only in NEW (other new folders come with their files)
    kStore,        // a store in both whose files differ: rel names NEW's ".DKX"
    kGone,         // a file or folder only in OLD: rel as OLD spells it
  };
  Kind kind;
  std::string rel;      // as NEW spells it (OLD for kGone)
  std::string oldRel;   // kStore: OLD's ".DKX"
  bool folder = false;  // kGone: a folder (its files are listed on their own)
  uint64_t size = 0;    // kChanged, kNew: the file's size in NEW
};

// ASCII upper case: what two names are matched by.
std::string Folded(const std::string& text);

// root and a path below it, as the Env takes it.
std::string Join(const std::string& root, const std::string& rel);

// Lists both folders and compares them: the changes of NEW in the order of
// their folded paths, then what only OLD has. "" or what made the
// comparison impossible (a folder that cannot be read, two names in one
// folder that differ only in case, a name Windows cannot hold, a file on one
// side where the other has a folder).
std::string CompareTrees(const std::string& oldRoot, const std::string& newRoot,
                         std::vector<TreeChange>* changes);

}  // namespace dist
