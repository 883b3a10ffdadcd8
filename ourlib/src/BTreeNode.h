// Node and entry access shared by the B-tree's parts (not for callers of the
// index). Every offset, entry count and key length taken from the file is
// checked here before it is used: a damaged index raises -5, never reads
// outside its view.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "ourlib/src/BTree.h"
#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"

namespace btree {

// A node, node size bytes (BTree.h gives the header and the descriptors
// before the first one): each field's offset, its size and what it holds;
// bytes 10..15 are zero.
enum : uint32_t {
  kNodeSelf = 0,      // 4  the node's own offset (in the root -1 or stale, never read there)
  kNodeNextFree = 0,  // 4  the same field in a free node: the next free node, -1 ending the list
  kNodeLeft = 4,      // 4  leftmost child, keys before the first entry: -1 for none,
                      //    kFreeMark on a free node
  kNodeUsed = 8,      // 2  bytes of entries in use
  kNodeEntries = 16,  // .. entries, back to back (kNodeHeader)
};
static_assert(kNodeEntries == kNodeHeader, "entries follow the node header");
// An entry, kEntryHeader + key length bytes.
enum : uint32_t {
  kEntryChild = 0,  // 4  child: keys after this entry's and before the next one's, -1 for none
  kEntryValue = 4,  // 4  value
  kEntryKey = 8,    // .. key (kEntryHeader)
};
static_assert(kEntryKey == kEntryHeader, "the key follows child and value");

constexpr uint32_t kFirstNode = 64;  // header and the first descriptor come first
constexpr int32_t kFreeMark = -2;    // leftmost child of a node on the free list

inline uint32_t Capacity(const IndexFile* ix) { return ix->nodeSize - kNodeHeader; }
inline bool Writable(const IndexFile* ix) { return (ix->file.flags & MF_WRITABLE) != 0; }
inline void MarkDirty(IndexFile* ix) { ix->file.flags |= MF_DIRTY; }

// Raises code where what follows must not run. Inner code always runs under
// a frame (RunRaising), so the raise never returns; the throw only says so
// to the compiler.
[[noreturn]] inline void RaiseNow(int code) {
  RaiseError(code);
  throw RaisedError{code};
}

// True when off names a whole node inside the file's view and logical size.
inline bool ValidNodeOffset(const IndexFile* ix, int32_t off) {
  if (off < static_cast<int32_t>(kFirstNode)) return false;
  uint64_t end = static_cast<uint64_t>(off) + ix->nodeSize;
  if (end > ix->file.mappedSize || end > GetU32(ix->file.header + kMapHdrLogicalSize)) return false;
  uint32_t rel = static_cast<uint32_t>(off) - kFirstNode;
  uint32_t size = ix->nodeSize;
  return (size & (size - 1)) == 0 ? (rel & (size - 1)) == 0 : rel % size == 0;
}

inline int32_t NodeSelf(const uint8_t* n) { return GetI32(n + kNodeSelf); }
inline void SetNodeSelf(uint8_t* n, int32_t v) { PutI32(n + kNodeSelf, v); }
inline int32_t NodeNextFree(const uint8_t* n) { return GetI32(n + kNodeNextFree); }
inline void SetNodeNextFree(uint8_t* n, int32_t v) { PutI32(n + kNodeNextFree, v); }
inline int32_t NodeLeft(const uint8_t* n) { return GetI32(n + kNodeLeft); }
inline void SetNodeLeft(uint8_t* n, int32_t v) { PutI32(n + kNodeLeft, v); }
// The used bytes as stored; negative only in a damaged node.
inline int16_t NodeUsedField(const uint8_t* n) { return GetI16(n + kNodeUsed); }
inline uint32_t NodeUsed(const uint8_t* n) { return GetU16(n + kNodeUsed); }
inline void SetNodeUsed(uint8_t* n, uint32_t used) {
  PutU16(n + kNodeUsed, static_cast<uint16_t>(used));
}
// The node at off, checked (offset and used bytes); raises -5.
inline uint8_t* Node(IndexFile* ix, int32_t off) {
  if (ix->file.base == nullptr) RaiseNow(ERR_NO_VIEW);
  if (!ValidNodeOffset(ix, off)) RaiseNow(ERR_NOT_STORE);
  uint8_t* n = ix->file.base + off;
  if (NodeUsedField(n) < 0 || NodeUsed(n) > Capacity(ix)) RaiseNow(ERR_NOT_STORE);
  return n;
}
inline uint8_t* EntryAt(uint8_t* n, uint32_t pos) { return n + kNodeHeader + pos; }
inline const uint8_t* EntryAt(const uint8_t* n, uint32_t pos) { return n + kNodeHeader + pos; }
inline int32_t EntryChild(const uint8_t* e) { return GetI32(e + kEntryChild); }
inline void SetEntryChild(uint8_t* e, int32_t v) { PutI32(e + kEntryChild, v); }
inline int32_t EntryValue(const uint8_t* e) { return GetI32(e + kEntryValue); }
inline void SetEntryValue(uint8_t* e, int32_t v) { PutI32(e + kEntryValue, v); }

// Length of a key the caller gives (no file bytes involved); raises -2 when
// its entry would not fit into an empty node.
uint32_t CallerKeyLength(IndexFile* ix, const void* key);
// Size (key length + 8) of the entry at pos of node n, checked to lie inside
// the node's used bytes; raises -5.
uint32_t AnyEntrySize(IndexFile* ix, const uint8_t* n, uint32_t pos);
// The same for a tree of record keys, whose length is the header's and the name's.
inline uint32_t RecordEntrySize(const uint8_t* n, uint32_t pos) {
  uint32_t used = NodeUsed(n);
  if (pos + kEntryHeader + kRecKeyHeader > used) RaiseNow(ERR_NOT_STORE);
  uint32_t len = static_cast<uint32_t>(reckey::Length(EntryAt(n, pos) + kEntryHeader));
  if (len > used - pos - kEntryHeader) RaiseNow(ERR_NOT_STORE);
  return len + kEntryHeader;
}
inline uint32_t EntrySize(IndexFile* ix, const uint8_t* n, uint32_t pos) {
  return ix->current->recordKeys ? RecordEntrySize(n, pos) : AnyEntrySize(ix, n, pos);
}
// Position after the entry at pos (0 for pos -1).
inline uint32_t PosAfter(IndexFile* ix, const uint8_t* n, int32_t pos) {
  return pos < 0 ? 0 : static_cast<uint32_t>(pos) + EntrySize(ix, n, static_cast<uint32_t>(pos));
}
// Position of the last entry of n (-1 when empty).
int32_t LastEntryPos(IndexFile* ix, const uint8_t* n);
// Compares a search key with a stored key by the tree's key type.
int CompareKeys(IndexFile* ix, void* search, const uint8_t* stored);
// Compares a search key with the key of the entry at pos of node n (whose
// size the caller has checked). A custom compare may read a fixed header
// past a short key: near the end of the entries it is given a zero-padded
// copy, so that it never reads past the node.
int CompareEntry(IndexFile* ix, void* search, const uint8_t* n, uint32_t pos);

// Walks node n for a search key: the position of the last entry not after
// it (-1 when the first entry already sorts after it); *equal tells whether
// that entry's key equals it. Every entry's size is checked before its key
// is compared.
int32_t LastNotAfter(IndexFile* ix, const uint8_t* n, void* key, bool* equal);

// IndexFind under the caller's frame; *metLevel (when given) receives the
// level where an equal key was met, -1 when none was.
bool FindKey(IndexFile* ix, void* key, bool exact, int* metLevel);

// A copy of a caller's key to search with (a search may write into its
// key), on the stack unless the key is long.
class KeyCopy {
 public:
  KeyCopy(const void* key, uint32_t length) {
    if (length > sizeof local_) {
      heap_.resize(length);
      p_ = heap_.data();
    }
    std::memcpy(p_, key, length);
  }
  KeyCopy(const KeyCopy&) = delete;
  KeyCopy& operator=(const KeyCopy&) = delete;
  uint8_t* get() { return p_; }

 private:
  uint8_t local_[600];
  std::vector<uint8_t> heap_;
  uint8_t* p_ = local_;
};

// Grows scratch buffer i to hold n bytes.
uint8_t* Scratch(IndexFile* ix, int i, uint32_t n);

// Loads the node for a level: level 0 is always the root.
inline uint8_t* LoadLevel(IndexFile* ix, int level) {
  TreeDescriptor* t = ix->current;
  int32_t off = level == 0 ? TreeRoot(t) : t->path[level].node;
  ix->currentNode = off;
  return Node(ix, off);
}

// Reserves node space, reporting a positive system code with its upper 16
// bits set (tree creation and bulk loading).
void ReserveNodeForTree(IndexFile* ix, int32_t off);

// Inserts entry (size esize, child already set) at byte position pos of the
// node at level, splitting upward as needed and growing the tree at the top.
// Returns true when any node was split. The entry buffer may be one of the
// scratch buffers.
bool InsertAtLevel(IndexFile* ix, int level, uint32_t pos, const uint8_t* entry, uint32_t esize);
// True when InsertAtLevel(level, pos, esize) can be done without a ninth
// level and without overfilling the node the entry lands in. `removed` is
// the position of an entry to be taken out of the level's node first (-1 none).
bool CanInsertAtLevel(IndexFile* ix, int level, uint32_t pos, uint32_t esize, int32_t removed);
// Removes the entry at pos of node n (later entries move down).
void RemoveEntry(IndexFile* ix, uint8_t* n, uint32_t pos);

}  // namespace btree
