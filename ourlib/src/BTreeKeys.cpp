// Keys, entries and checked node access of the B-tree.
#include <cstring>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"

namespace {

const KeyConfig kBuiltin[8] = {
    {KEY_CHAR, nullptr, nullptr, 0},  {KEY_BYTE, nullptr, nullptr, 0},
    {KEY_SHORT, nullptr, nullptr, 0}, {KEY_WORD, nullptr, nullptr, 0},
    {KEY_LONG, nullptr, nullptr, 0},  {KEY_DWORD, nullptr, nullptr, 0},
    {KEY_TEXT, nullptr, nullptr, 0},  {KEY_TEXT_NOCASE, nullptr, nullptr, 0},
};

bool IsBuiltin(int32_t type) { return type >= KEY_CHAR && type <= KEY_TEXT_NOCASE; }

int32_t DiskKeyType(const TreeDescriptor* t) { return GetI32(t->disk + kDescKeyType); }
uint32_t DiskFixedLength(const TreeDescriptor* t) { return GetU16(t->disk + kDescFixedLength); }

// The custom length function may read a fixed header of the key; near the end
// of a node's entries it is given a zero-padded copy so that it never reads
// past the node.
constexpr uint32_t kLengthProbe = 64;

// avail for a caller's key, which is whole by contract.
constexpr uint32_t kCallerKey = 0xFFFFFFFFu;

// Length of a key with at most avail readable bytes; -1 when it cannot be had.
int64_t KeyLengthBounded(IndexFile* ix, const uint8_t* key, uint32_t avail) {
  const TreeDescriptor* t = ix->current;
  uint32_t fixed = DiskFixedLength(t);
  if (fixed != 0) return fixed;
  switch (DiskKeyType(t)) {
    case KEY_CHAR:
    case KEY_BYTE:
      return 1;
    case KEY_SHORT:
    case KEY_WORD:
      return 2;
    case KEY_LONG:
    case KEY_DWORD:
      return 4;
    case KEY_TEXT:
    case KEY_TEXT_NOCASE: {
      if (avail == kCallerKey)
        return static_cast<int64_t>(std::strlen(reinterpret_cast<const char*>(key))) + 1;
      const void* end = std::memchr(key, 0, avail);
      if (end == nullptr) return -1;
      return static_cast<const uint8_t*>(end) - key + 1;
    }
    default:
      break;
  }
  if (t->keyLength == nullptr) return -1;
  if (avail >= kLengthProbe) return t->keyLength(key);  // also kCallerKey
  uint8_t probe[kLengthProbe] = {};
  std::memcpy(probe, key, avail);
  return t->keyLength(probe);
}

int Sign(int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

int LowerAscii(uint8_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

}  // namespace

const KeyConfig* BuiltinKeyConfig(int32_t keyType) {
  return IsBuiltin(keyType) ? &kBuiltin[keyType - 1] : nullptr;
}

void NoteKeyKind(TreeDescriptor* t) {
  t->recordKeys = !IsBuiltin(DiskKeyType(t)) && DiskFixedLength(t) == 0 &&
                  t->compare == RecKeyCompare && t->keyLength == RecKeyLength;
}

int32_t TreeRoot(const TreeDescriptor* t) { return GetI32(t->disk + kDescRoot); }
int TreeHeight(const TreeDescriptor* t) { return GetI16(t->disk + kDescHeight); }
bool TreeDuplicates(const TreeDescriptor* t) { return GetI16(t->disk + kDescDuplicates) != 0; }
void SetTreeHeight(TreeDescriptor* t, int height) {
  PutI16(t->disk + kDescHeight, static_cast<int16_t>(height));
  t->dirty = 1;
}

namespace btree {

uint32_t CallerKeyLength(IndexFile* ix, const void* key) {
  int64_t len = KeyLengthBounded(ix, static_cast<const uint8_t*>(key), kCallerKey);
  if (len <= 0) RaiseError(ERR_NOT_STORE);
  if (len + kEntryHeader > Capacity(ix)) RaiseError(ERR_NO_MEMORY);
  return static_cast<uint32_t>(len);
}

uint32_t AnyEntrySize(IndexFile* ix, const uint8_t* n, uint32_t pos) {
  uint32_t used = NodeUsed(n);
  if (pos + kEntryHeader >= used) RaiseError(ERR_NOT_STORE);
  uint32_t avail = used - pos - kEntryHeader;
  int64_t len = KeyLengthBounded(ix, EntryAt(n, pos) + kEntryHeader, avail);
  if (len <= 0 || len > avail) RaiseError(ERR_NOT_STORE);
  return static_cast<uint32_t>(len) + kEntryHeader;
}

int32_t LastEntryPos(IndexFile* ix, const uint8_t* n) {
  uint32_t used = NodeUsed(n);
  int32_t last = -1;
  for (uint32_t pos = 0; pos < used; pos += EntrySize(ix, n, pos)) last = static_cast<int32_t>(pos);
  return last;
}

int CompareKeys(IndexFile* ix, void* search, const uint8_t* stored) {
  const TreeDescriptor* t = ix->current;
  const uint8_t* a = static_cast<const uint8_t*>(search);
  const uint8_t* b = stored;
  switch (DiskKeyType(t)) {
    case KEY_CHAR:
      return static_cast<int8_t>(a[0]) - static_cast<int8_t>(b[0]);
    case KEY_BYTE:
      return a[0] - b[0];
    case KEY_SHORT:
      return GetI16(a) - GetI16(b);
    case KEY_WORD:
      return static_cast<uint16_t>(GetI16(a)) - static_cast<uint16_t>(GetI16(b));
    case KEY_LONG:
    case KEY_DWORD: {
      int32_t d = static_cast<int32_t>(GetU32(a) - GetU32(b));
      return Sign(d);
    }
    case KEY_TEXT: {
      for (;; ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == 0) return 0;
      }
    }
    case KEY_TEXT_NOCASE: {
      for (;; ++a, ++b) {
        int x = LowerAscii(*a), y = LowerAscii(*b);
        if (x != y) return x - y;
        if (x == 0) return 0;
      }
    }
    default:
      break;
  }
  if (t->compare == nullptr) RaiseError(ERR_NOT_STORE);
  return t->compare(search, stored);
}

int CompareEntry(IndexFile* ix, void* search, const uint8_t* n, uint32_t pos) {
  const uint8_t* key = EntryAt(n, pos) + kEntryHeader;
  if (ix->current->recordKeys) return reckey::Compare(static_cast<uint8_t*>(search), key);
  uint32_t avail = NodeUsed(n) - pos - kEntryHeader;
  if (avail >= kLengthProbe) return CompareKeys(ix, search, key);
  uint8_t padded[kLengthProbe] = {};
  std::memcpy(padded, key, avail);
  return CompareKeys(ix, search, padded);
}

uint8_t* Scratch(IndexFile* ix, int i, uint32_t n) {
  std::vector<uint8_t>& v = ix->scratch[i];
  if (v.size() < n) {
    try {
      v.resize(n);
    } catch (const std::bad_alloc&) {
      RaiseError(ERR_NO_MEMORY);
    }
  }
  return v.data();
}

void RemoveEntry(IndexFile* ix, uint8_t* n, uint32_t pos) {
  uint32_t size = EntrySize(ix, n, pos);
  uint32_t used = NodeUsed(n);
  std::memmove(EntryAt(n, pos), EntryAt(n, pos + size), used - pos - size);
  SetNodeUsed(n, used - size);
}

void ReserveNodeForTree(IndexFile* ix, int32_t off) {
  int rc = Guard([&] { MapReserve(&ix->file, static_cast<uint32_t>(off), ix->nodeSize); });
  if (rc > 0) rc = static_cast<int>(static_cast<uint32_t>(rc) | 0xFFFF0000u);
  if (rc != 0) RaiseError(rc);
}

}  // namespace btree
