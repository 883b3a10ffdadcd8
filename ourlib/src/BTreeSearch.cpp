// Search and iteration. The cursor is the descriptor's path: one (node,
// position) pair per level, position -1 standing before the first entry.
// A child of -1 ends a descent wherever it stands.
#include <cstddef>
#include <cstring>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngineRun.h"

using namespace btree;

namespace {

// One level deeper on the path; a tree deeper than the path is damaged.
int Deeper(int level) {
  if (level + 1 >= kMaxTreeLevels) RaiseNow(ERR_NOT_STORE);
  return level + 1;
}

// How far ahead of the entry it hands out iteration asks for the node's bytes.
constexpr uint32_t kPrefetchAhead = 256;

// Asks the processor for the node that iteration reaches after the bottom
// node at level: the child of the next entry one level up. Nodes lie in the
// file in the order they were made, not in key order, so each one is
// otherwise a wait for memory.
void PrefetchNextNode(IndexFile* ix, int level) {
  if (level == 0) return;
  TreeDescriptor* t = ix->current;
  const uint8_t* up = LoadLevel(ix, level - 1);
  uint32_t next = PosAfter(ix, up, t->path[level - 1].pos);
  if (next + kEntryHeader > NodeUsed(up)) return;  // its child field only is read
  int32_t child = EntryChild(EntryAt(up, next));
  if (!ValidNodeOffset(ix, child)) return;
  // Its header and first entries; the rest follows as the entries are read.
  __builtin_prefetch(ix->file.base + child);
  __builtin_prefetch(ix->file.base + child + 64);
}

// Descends from (level, its position) through leftmost children to the
// bottom, recording position -1 on every new level.
void DescendLeftmost(IndexFile* ix, int level, int32_t child) {
  TreeDescriptor* t = ix->current;
  while (child != -1) {
    level = Deeper(level);
    t->path[level] = {child, -1};
    child = NodeLeft(LoadLevel(ix, level));
  }
  t->level = level;
  PrefetchNextNode(ix, level);
}

// The walk of a node for any key configuration.
int32_t ScanAny(IndexFile* ix, const uint8_t* n, void* key, bool* equal) {
  uint32_t used = NodeUsed(n);
  int32_t last = -1;
  *equal = false;
  for (uint32_t pos = 0; pos < used;) {
    uint32_t size = AnyEntrySize(ix, n, pos);
    int c = CompareEntry(ix, key, n, pos);
    if (c < 0) break;
    last = static_cast<int32_t>(pos);
    if (c == 0) {
      *equal = true;
      break;
    }
    pos += size;
  }
  return last;
}

// The same walk for record keys, with each entry's size checked as
// RecordEntrySize does and the probe's section and name length read once:
// they decide most steps.
int32_t ScanRecordKeys(const uint8_t* n, uint8_t* probe, bool* equal) {
  const uint8_t* first = EntryAt(n, 0);
  const uint8_t* end = first + NodeUsed(n);
  const int section = probe[kRecKeyAtSection];
  const int nameLength = GetI16(probe + kRecKeyAtNameLength);
  int32_t last = -1;
  *equal = false;
  for (const uint8_t* e = first; e < end;) {
    if (end - e < static_cast<ptrdiff_t>(kEntryHeader + kRecKeyHeader)) RaiseNow(ERR_NOT_STORE);
    const uint8_t* stored = e + kEntryHeader;
    const int length = GetI16(stored + kRecKeyAtNameLength);
    const ptrdiff_t size = kEntryHeader + kRecKeyHeader + (length > 0 ? length : 0);
    if (size > end - e) RaiseNow(ERR_NOT_STORE);
    int c = section - stored[kRecKeyAtSection];
    if (c == 0) c = nameLength - length;
    if (c == 0) c = reckey::Compare(probe, stored);
    if (c < 0) break;
    last = static_cast<int32_t>(e - first);
    if (c == 0) {
      *equal = true;
      break;
    }
    e += size;
  }
  return last;
}

}  // namespace

namespace btree {

int32_t LastNotAfter(IndexFile* ix, const uint8_t* n, void* key, bool* equal) {
  return ix->current->recordKeys ? ScanRecordKeys(n, static_cast<uint8_t*>(key), equal)
                                 : ScanAny(ix, n, key, equal);
}

bool FindKey(IndexFile* ix, void* key, bool exact, int* metLevel) {
  TreeDescriptor* t = ix->current;
  t->parked = false;
  bool met = false;
  int level = 0;
  t->path[0].node = TreeRoot(t);
  if (metLevel != nullptr) *metLevel = -1;
  for (;;) {
    uint8_t* n = LoadLevel(ix, level);
    bool found = false;
    int32_t last = LastNotAfter(ix, n, key, &found);
    if (found && metLevel != nullptr) *metLevel = level;
    t->path[level].pos = last;
    t->level = level;
    met = met || found;
    if (found && exact) return true;
    int32_t child = last < 0 ? NodeLeft(n) : EntryChild(EntryAt(n, static_cast<uint32_t>(last)));
    if (child == -1) return met;
    level = Deeper(level);
    t->path[level] = {child, -1};
  }
}

}  // namespace btree

namespace {

// Parks the cursor after the last key: -4 from now until IndexFirst.
int Park(IndexFile* ix) {
  TreeDescriptor* t = ix->current;
  t->parked = true;
  t->filter = nullptr;
  t->filterData = nullptr;
  return ERR_NOT_FOUND;
}

// Moves the cursor to the next entry; the entry's address and *size (its
// size, checked), or null at the end.
const uint8_t* NextEntry(IndexFile* ix, uint32_t* size) {
  TreeDescriptor* t = ix->current;
  if (t->parked) return nullptr;
  int level = t->level;
  uint8_t* n = LoadLevel(ix, level);
  int32_t pos = t->path[level].pos;
  if (pos < 0 || static_cast<uint32_t>(pos) < NodeUsed(n)) {
    int32_t child = pos < 0 ? NodeLeft(n) : EntryChild(EntryAt(n, static_cast<uint32_t>(pos)));
    if (child != -1) {
      DescendLeftmost(ix, level, child);
      level = t->level;
      n = LoadLevel(ix, level);
      pos = -1;
    }
  }
  for (;;) {
    uint32_t next = (pos >= 0 && static_cast<uint32_t>(pos) >= NodeUsed(n)) ? NodeUsed(n)
                                                                            : PosAfter(ix, n, pos);
    if (next < NodeUsed(n)) {
      t->path[level].pos = static_cast<int32_t>(next);
      t->level = level;
      *size = EntrySize(ix, n, next);  // checks the key before it is handed out
      // The entries a few steps on, while this one is used.
      if (next + kPrefetchAhead < NodeUsed(n))
        __builtin_prefetch(EntryAt(n, next + kPrefetchAhead));
      uint32_t after = next + *size;
      ix->valueAhead = after + kEntryHeader <= NodeUsed(n) ? EntryValue(EntryAt(n, after)) : -1;
      return EntryAt(n, next);
    }
    t->path[level].pos = static_cast<int32_t>(NodeUsed(n));
    if (level == 0) {
      Park(ix);
      return nullptr;
    }
    --level;
    n = LoadLevel(ix, level);
    pos = t->path[level].pos;
  }
}

// Hands the key of entry e (len bytes) out as *key asks.
void GiveKey(const uint8_t* e, uint32_t len, KeyOut* key) {
  if (key == nullptr) return;
  const uint8_t* k = e + kEntryHeader;
  key->length = len;
  if (key->allocate) {
    void* copy = MemAlloc(len);
    if (copy == nullptr) RaiseError(ERR_NO_MEMORY);
    std::memcpy(copy, k, len);
    key->buffer = copy;
  } else if (key->buffer != nullptr) {
    if (len > key->capacity) RaiseError(ERR_PAST_END);
    std::memcpy(key->buffer, k, len);
  }
}

int NextImpl(IndexFile* ix, KeyOut* key, int32_t* value, int32_t* child, bool filtered) {
  TreeDescriptor* t = ix->current;
  for (;;) {
    uint32_t size = 0;
    const uint8_t* e = NextEntry(ix, &size);
    if (e == nullptr) return ERR_NOT_FOUND;
    if (filtered && t->filter != nullptr && t->filter(e + kEntryHeader, t->filterData) != 0)
      continue;
    GiveKey(e, size - kEntryHeader, key);
    if (value) *value = EntryValue(e);
    if (child) *child = EntryChild(e);
    return 0;
  }
}

}  // namespace

bool IndexFind(IndexFile* index, void* key, bool exact) {
  bool found = false;
  RunRaising([&] { found = FindKey(index, key, exact, nullptr); });
  return found;
}

int IndexLookup(IndexFile* index, void* key, int32_t* value, int32_t* child) {
  int result = ERR_NOT_FOUND;
  int rc = RunRaising([&] {
    if (!FindKey(index, key, true, nullptr)) return;
    TreeDescriptor* t = index->current;
    const uint8_t* n = LoadLevel(index, t->level);
    const uint8_t* e = EntryAt(n, static_cast<uint32_t>(t->path[t->level].pos));
    if (value) *value = EntryValue(e);
    if (child) *child = EntryChild(e);
    result = 0;
  });
  return rc != 0 ? rc : result;
}

void IndexFirst(IndexFile* index, KeyFilterFn filter, void* userData) {
  TreeDescriptor* t = index->current;
  t->filter = filter;
  t->filterData = userData;
  t->parked = false;
  t->path[0] = {TreeRoot(t), -1};
  t->level = 0;
  RunRaising([&] { DescendLeftmost(index, 0, NodeLeft(LoadLevel(index, 0))); });
}

int IndexNext(IndexFile* index, KeyOut* key, int32_t* value, int32_t* child) {
  int result = ERR_NOT_FOUND;
  int rc = RunRaising([&] { result = NextImpl(index, key, value, child, false); });
  return rc != 0 ? rc : result;
}

int IndexNextFiltered(IndexFile* index, KeyOut* key, int32_t* value, int32_t* child) {
  int result = ERR_NOT_FOUND;
  int rc = RunRaising([&] { result = NextImpl(index, key, value, child, true); });
  return rc != 0 ? rc : result;
}
