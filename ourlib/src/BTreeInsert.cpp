// Insert: an entry goes directly after the last entry not after its key; a
// full node splits at its median (the last entry starting before half the
// used bytes + 4) and the promoted entry moves up; a split root grows the
// tree at the top without moving the root.
#include <cstring>
#include <vector>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngineRun.h"

using namespace btree;

namespace {

std::vector<uint32_t> EntrySizes(IndexFile* ix, const uint8_t* n, int32_t removed) {
  std::vector<uint32_t> sizes;
  sizes.reserve(64);
  uint32_t used = NodeUsed(n);
  for (uint32_t pos = 0; pos < used;) {
    uint32_t size = EntrySize(ix, n, pos);
    if (static_cast<int32_t>(pos) != removed) sizes.push_back(size);
    pos += size;
  }
  return sizes;
}

// Start of the median entry of a node of `used` bytes; *index its index.
uint32_t MedianOf(const std::vector<uint32_t>& sizes, uint32_t used, size_t* index) {
  uint32_t med = 0, pos = 0;
  for (size_t i = 0; i < sizes.size() && pos < used / 2 + 4; pos += sizes[i], ++i) {
    med = pos;
    *index = i;
  }
  return med;
}

uint32_t MedianPos(IndexFile* ix, const uint8_t* n) {
  uint32_t used = NodeUsed(n);
  uint32_t med = 0;
  for (uint32_t pos = 0; pos < used && pos < used / 2 + 4; pos += EntrySize(ix, n, pos)) med = pos;
  return med;
}

void PutEntry(uint8_t* n, uint32_t pos, const uint8_t* entry, uint32_t esize) {
  uint32_t used = NodeUsed(n);
  std::memmove(EntryAt(n, pos + esize), EntryAt(n, pos), used - pos);
  std::memcpy(EntryAt(n, pos), entry, esize);
  SetNodeUsed(n, used + esize);
}

// The root has split: its content moves to a new node that becomes its only
// child, and the root keeps just the promoted entry.
void GrowAtTop(IndexFile* ix, const uint8_t* promoted, uint32_t psize) {
  TreeDescriptor* t = ix->current;
  if (TreeHeight(t) >= kMaxTreeLevels) RaiseError(ERR_NO_MEMORY);
  int32_t copy = NodeAlloc(ix);
  MapReserve(&ix->file, static_cast<uint32_t>(copy), ix->nodeSize);
  uint8_t* root = LoadLevel(ix, 0);
  uint8_t* cn = ix->file.base + copy;
  std::memcpy(cn, root, ix->nodeSize);
  SetNodeSelf(cn, copy);
  SetNodeLeft(root, copy);
  std::memcpy(EntryAt(root, 0), promoted, psize);
  SetNodeUsed(root, psize);
  SetTreeHeight(t, TreeHeight(t) + 1);
}

}  // namespace

namespace btree {

bool CanInsertAtLevel(IndexFile* ix, int level, uint32_t pos, uint32_t esize, int32_t removed) {
  TreeDescriptor* t = ix->current;
  const uint32_t cap = Capacity(ix);
  // An entry that fits where it lands splits nothing (the entries after it
  // are moved, not read).
  if (removed < 0 && NodeUsed(LoadLevel(ix, level)) + esize <= cap) return true;
  std::vector<uint32_t> sizes = EntrySizes(ix, LoadLevel(ix, level), removed);
  for (;;) {
    uint32_t used = 0;
    for (uint32_t s : sizes) used += s;
    if (used + esize <= cap) return true;
    size_t mi = 0;
    uint32_t med = MedianOf(sizes, used, &mi);
    uint32_t psize = esize;
    if (pos != med) {
      psize = sizes[mi];
      uint32_t lands = pos < med ? med : used - psize - med;
      if (lands + esize > cap) return false;
    }
    if (level == 0) return TreeHeight(t) < kMaxTreeLevels;
    --level;
    const uint8_t* n = LoadLevel(ix, level);
    sizes = EntrySizes(ix, n, -1);
    pos = PosAfter(ix, n, t->path[level].pos);
    esize = psize;
  }
}

bool InsertAtLevel(IndexFile* ix, int level, uint32_t pos, const uint8_t* entry, uint32_t esize) {
  TreeDescriptor* t = ix->current;
  const uint32_t cap = Capacity(ix);
  int cur = 0;  // scratch buffer holding the entry to insert at this level
  if (entry != ix->scratch[0].data()) std::memcpy(Scratch(ix, 0, esize), entry, esize);
  Scratch(ix, 1, cap);
  Scratch(ix, 0, cap);
  bool split = false;
  for (;;) {
    uint8_t* n = LoadLevel(ix, level);
    uint32_t used = NodeUsed(n);
    if (used + esize <= cap) {
      PutEntry(n, pos, ix->scratch[cur].data(), esize);
      return split;
    }
    split = true;
    uint32_t med = MedianPos(ix, n);
    int prom = cur;
    uint32_t psize = esize;
    if (pos != med) {
      prom = 1 - cur;
      psize = EntrySize(ix, n, med);
      std::memcpy(ix->scratch[prom].data(), EntryAt(n, med), psize);
      RemoveEntry(ix, n, med);
    }
    int32_t right = NodeAlloc(ix);
    MapReserve(&ix->file, static_cast<uint32_t>(right), ix->nodeSize);
    n = LoadLevel(ix, level);  // the view may have moved
    uint8_t* rn = ix->file.base + right;
    uint32_t moved = NodeUsed(n) - med;
    SetNodeSelf(rn, right);
    SetNodeLeft(rn, EntryChild(ix->scratch[prom].data()));
    std::memcpy(EntryAt(rn, 0), EntryAt(n, med), moved);
    SetNodeUsed(rn, moved);
    SetNodeUsed(n, med);
    SetEntryChild(ix->scratch[prom].data(), right);
    if (prom != cur) {
      if (pos < med) {
        PutEntry(n, pos, ix->scratch[cur].data(), esize);
      } else {
        PutEntry(rn, pos - psize - med, ix->scratch[cur].data(), esize);
      }
    }
    if (level == 0) {
      GrowAtTop(ix, ix->scratch[prom].data(), psize);
      return true;
    }
    --level;
    pos = PosAfter(ix, LoadLevel(ix, level), t->path[level].pos);
    cur = prom;
    esize = psize;
  }
}

}  // namespace btree

namespace {

// Inserts key at the cursor, where a search for it (that did not meet it,
// or met it in a tree with duplicates) has left it.
void InsertAtCursor(IndexFile* ix, const void* key, uint32_t klen, int32_t value) {
  TreeDescriptor* t = ix->current;
  uint32_t esize = klen + kEntryHeader;
  int level = t->level;
  uint32_t pos = PosAfter(ix, LoadLevel(ix, level), t->path[level].pos);
  if (!CanInsertAtLevel(ix, level, pos, esize, -1)) RaiseError(ERR_NO_MEMORY);
  uint8_t* e = Scratch(ix, 0, esize);
  SetEntryChild(e, -1);
  SetEntryValue(e, value);
  std::memcpy(e + kEntryHeader, key, klen);
  MarkDirty(ix);
  if (InsertAtLevel(ix, level, pos, e, esize)) {
    KeyCopy probe(key, klen);
    FindKey(ix, probe.get(), false, nullptr);
  }
}

}  // namespace

int IndexInsert(IndexFile* index, const void* key, int32_t value) {
  return RunRaising([&] {
    TreeDescriptor* t = index->current;
    uint32_t klen = CallerKeyLength(index, key);
    KeyCopy probe(key, klen);
    bool found = FindKey(index, probe.get(), false, nullptr);
    if (found && !TreeDuplicates(t)) RaiseError(ERR_DUPLICATE);
    if (!Writable(index)) return;
    InsertAtCursor(index, key, klen, value);
  });
}

PutPlace IndexPlace(IndexFile* index, const void* key, int32_t* value) {
  PutPlace place = PutPlace::kElse;
  RunRaising([&] {
    TreeDescriptor* t = index->current;
    if (!Writable(index) || TreeDuplicates(t)) return;
    uint32_t klen = 0;
    if (Guard([&] { klen = CallerKeyLength(index, key); }) != 0) return;
    KeyCopy probe(key, klen);
    int met = -1;
    FindKey(index, probe.get(), false, &met);
    if (met < 0) {
      place = PutPlace::kAbsent;
      return;
    }
    const uint8_t* n = LoadLevel(index, met);
    uint32_t pos = static_cast<uint32_t>(t->path[met].pos);
    // An equal entry without a child ends the search where it stands.
    if (met != t->level) {
      *value = EntryValue(EntryAt(n, pos));
      place = PutPlace::kInner;
      return;
    }
    uint32_t size = EntrySize(index, n, pos);
    if (size != klen + kEntryHeader) return;
    // Taking the entry out leaves nothing to settle in a node of at least
    // half the capacity, or in a root that is not left empty above a child.
    uint32_t after = NodeUsed(n) - size;
    bool settled = met == 0 ? (after > 0 || NodeLeft(n) == -1) : after >= Capacity(index) / 2;
    *value = EntryValue(EntryAt(n, pos));
    place = settled ? PutPlace::kInPlace : PutPlace::kLeaf;
  });
  return place;
}

int IndexInsertPlaced(IndexFile* index, const void* key, int32_t value) {
  return RunRaising([&] { InsertAtCursor(index, key, CallerKeyLength(index, key), value); });
}

int IndexReplacePlaced(IndexFile* index, const void* key, int32_t value) {
  return RunRaising([&] {
    TreeDescriptor* t = index->current;
    uint8_t* n = LoadLevel(index, t->level);
    uint32_t pos = static_cast<uint32_t>(t->path[t->level].pos);
    uint8_t* e = EntryAt(n, pos);
    // Taken out and put back at the same place: the same child (none), the
    // new value and key.
    SetEntryValue(e, value);
    std::memcpy(e + kEntryHeader, key, EntrySize(index, n, pos) - kEntryHeader);
    MarkDirty(index);
  });
}
