// The store checker: walks both files and reports the first broken rule.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngine.h"

using namespace btree;

namespace {

std::string Fmt(const char* fmt, long a = 0, long b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

struct TreeWalk {
  IndexFile* ix;
  std::set<int32_t> freeNodes, seen;
  std::vector<int32_t>* values;
  std::vector<uint8_t> probe, other;
  int maxDepth = 0;
  bool emptyAllowed = true;  // an empty node below the root
  std::string error;

  // Compares key a with b on zero-padded copies (a compare may write into
  // its search key, and may read a fixed header past a short key).
  int Compare(const uint8_t* a, uint32_t alen, const uint8_t* b, uint32_t blen) {
    probe.assign(a, a + alen);
    probe.resize(alen + 64, 0);
    other.assign(b, b + blen);
    other.resize(blen + 64, 0);
    return CompareKeys(ix, probe.data(), other.data());
  }

  // lo/hi: the keys the subtree lies between (null: open end).
  bool Walk(int32_t off, int level, const uint8_t* lo, uint32_t loLen, const uint8_t* hi,
            uint32_t hiLen) {
    if (level >= kMaxTreeLevels)
      return Fail(Fmt("node %ld lies deeper than %ld levels", off, kMaxTreeLevels));
    if (!ValidNodeOffset(ix, off))
      return Fail(Fmt("child offset %ld is not a node of the file", off));
    if (freeNodes.count(off))
      return Fail(Fmt("node %ld is in the tree and on the free-node list", off));
    if (!seen.insert(off).second) return Fail(Fmt("node %ld is reached twice", off));
    const uint8_t* n = ix->file.base + off;
    if (level > 0 && NodeSelf(n) != off)
      return Fail(Fmt("node %ld holds own offset %ld", off, NodeSelf(n)));
    if (NodeUsedField(n) < 0 || NodeUsed(n) > Capacity(ix))
      return Fail(Fmt("node %ld uses %ld bytes", off, NodeUsedField(n)));
    if (NodeLeft(n) == kFreeMark) return Fail(Fmt("node %ld in the tree is marked free", off));
    if (level > 0 && NodeUsed(n) == 0 && !emptyAllowed)
      return Fail(Fmt("node %ld below the root is empty", off));
    bool dups = TreeDuplicates(ix->current);
    uint32_t used = NodeUsed(n);
    if (level + 1 > maxDepth) maxDepth = level + 1;
    // Entries and order within the node and against the bounds.
    std::vector<uint32_t> positions;
    for (uint32_t pos = 0; pos < used;) {
      int32_t size = 0;
      if (Guard([&] { size = static_cast<int32_t>(EntrySize(ix, n, pos)); }) != 0) {
        return Fail(Fmt("node %ld: the entry at %ld runs past the used bytes", off, pos));
      }
      positions.push_back(pos);
      pos += static_cast<uint32_t>(size);
    }
    const uint8_t* prev = lo;
    uint32_t prevLen = loLen;
    bool prevIsBound = true;
    for (uint32_t pos : positions) {
      const uint8_t* key = EntryAt(n, pos) + kEntryHeader;
      uint32_t len = EntrySize(ix, n, pos) - kEntryHeader;
      if (prev != nullptr) {
        int c = Compare(key, len, prev, prevLen);
        if (c < 0 || (c == 0 && !dups && !prevIsBound)) {
          return Fail(Fmt("node %ld: key at %ld is out of order", off, pos));
        }
        if (c == 0 && !dups && prevIsBound && level > 0)
          return Fail(Fmt("node %ld: key at %ld repeats its separator", off, pos));
      }
      if (hi != nullptr && Compare(key, len, hi, hiLen) > 0)
        return Fail(Fmt("node %ld: key at %ld sorts after its subtree's bound", off, pos));
      if (values) values->push_back(EntryValue(EntryAt(n, pos)));
      prev = key;
      prevLen = len;
      prevIsBound = false;
    }
    // Subtrees: leftmost below the first key, each entry's child up to the next key.
    auto keyAt = [&](size_t i) { return EntryAt(n, positions[i]) + kEntryHeader; };
    auto lenAt = [&](size_t i) { return EntrySize(ix, n, positions[i]) - kEntryHeader; };
    if (NodeLeft(n) != -1) {
      bool none = positions.empty();
      if (!Walk(NodeLeft(n), level + 1, lo, loLen, none ? hi : keyAt(0), none ? hiLen : lenAt(0)))
        return false;
    }
    for (size_t i = 0; i < positions.size(); ++i) {
      const uint8_t* e = EntryAt(n, positions[i]);
      if (EntryChild(e) == -1) continue;
      bool last = i + 1 == positions.size();
      if (!Walk(EntryChild(e), level + 1, keyAt(i), lenAt(i), last ? hi : keyAt(i + 1),
                last ? hiLen : lenAt(i + 1))) {
        return false;
      }
    }
    return true;
  }

  bool Fail(const std::string& text) {
    if (error.empty()) error = text;
    return false;
  }
};

// emptyAllowed: an index of keys near the node size may hold empty nodes
// below the root (a split where one entry takes more than half the node
// leaves nothing beside it); a record store's keys (names of at most 512
// bytes) never make one, and one found there was left by a faulty delete.
std::string CheckIndex(IndexFile* ix, std::vector<int32_t>* values, bool emptyAllowed) {
  const MappedFile& mf = ix->file;
  if (mf.base == nullptr) return "the index is not mapped";
  if (std::memcmp(mf.header, "DKBT", 4) != 0) return "index magic is not DKBT";
  if (mf.header[kIndexHdrMajor] != 1) return "index major version is not 1";
  uint32_t logical = MapLogicalSize(&mf);
  if (logical > mf.mappedSize)
    return Fmt("index logical size %ld exceeds the view (%ld)", logical, mf.mappedSize);
  if (logical < kFirstNode || (logical - kFirstNode) % ix->nodeSize != 0)
    return Fmt("index logical size %ld is not a node boundary", logical);
  TreeDescriptor* t = ix->current;
  if (TreeHeight(t) < 1 || TreeHeight(t) > kMaxTreeLevels)
    return Fmt("tree height %ld", TreeHeight(t));
  TreeWalk w;
  w.ix = ix;
  w.values = values;
  w.emptyAllowed = emptyAllowed;
  uint32_t nodes = (logical - kFirstNode) / ix->nodeSize;
  uint32_t count = 0;
  for (int32_t f = MapFreeHead(&mf); f != -1; f = NodeNextFree(mf.base + f)) {
    if (++count > nodes) return "the free-node list has a cycle";
    if (!ValidNodeOffset(ix, f)) return Fmt("free node %ld is not a node of the file", f);
    if (NodeLeft(mf.base + f) != kFreeMark) return Fmt("free node %ld is not marked -2", f);
    w.freeNodes.insert(f);
  }
  bool ok = false;
  int rc = Guard([&] { ok = w.Walk(TreeRoot(t), 0, nullptr, 0, nullptr, 0); });
  if (rc != 0) return Fmt("error %ld while walking the tree", rc);
  if (!ok) return w.error;
  if (w.maxDepth != TreeHeight(t))
    return Fmt("tree is %ld levels deep, its height says %ld", w.maxDepth, TreeHeight(t));
  return "";
}

std::string CheckHeap(DataHeap* h, std::set<int32_t>* usedRecords) {
  MappedFile& mf = h->file;
  if (mf.flags & MF_UNMAPPED) return "";
  if (mf.base == nullptr) return "the data file is not mapped";
  if (std::memcmp(mf.header, "DKFM", 4) != 0) return "data magic is not DKFM";
  if (GetU32(mf.header + kHeapHdrVersion) != kHeapVersion) return "data version is not 257";
  uint64_t logical = MapLogicalSize(&mf);
  if (logical > mf.mappedSize || logical < kHeapHeaderSize)
    return Fmt("data logical size %ld", static_cast<long>(logical));
  const uint8_t* b = mf.base;
  std::set<uint64_t> freeBlocks;
  uint64_t prevEnd = kHeapFirstBlock, wild = 0;
  for (uint64_t cur = GetU32(b + kMapHdrFreeHead); cur != 0; cur = GetU32(b + cur + kBlockNext)) {
    if (cur < prevEnd || cur % 4 != 0 || cur + kFreeBlockHeader > logical)
      return Fmt("free block %ld is out of place", static_cast<long>(cur));
    if (!freeBlocks.empty() && cur == prevEnd)
      return Fmt("free block %ld was not merged with the one before", static_cast<long>(cur));
    uint32_t size = GetU32(b + cur + kBlockSize);
    if ((size & 3) != 0 || size < kFreeBlockHeader)
      return Fmt("free block %ld has size word %ld", static_cast<long>(cur),
                 static_cast<long>(size));
    freeBlocks.insert(cur);
    prevEnd = cur + size;
    wild = cur;
  }
  if (wild == 0) return "the free list has no wilderness block";
  if (h->freeIndexBuilt) {
    std::vector<std::pair<uint32_t, uint32_t>> copy = h->freeIndex.Items();
    size_t i = 0;
    for (uint64_t cur = GetU32(b + kMapHdrFreeHead); cur != 0;
         cur = GetU32(b + cur + kBlockNext), ++i) {
      if (i >= copy.size() || copy[i].first != cur ||
          copy[i].second != GetU32(b + cur + kBlockSize)) {
        return Fmt("the in-memory free list differs at block %ld", static_cast<long>(cur));
      }
    }
    if (i != copy.size()) return "the in-memory free list has blocks the file's has not";
  }
  if (wild + GetU32(b + wild + kBlockSize) != kHeapEnd)
    return "the wilderness block does not reach 1 GiB";
  for (uint64_t off = kHeapFirstBlock; off < wild;) {
    uint32_t word = GetU32(b + off + kBlockSize);
    uint32_t size = word & ~3u;
    if ((word & 2) != 0 || size < kFreeBlockHeader || off + size > wild)
      return Fmt("block %ld has size word %ld", static_cast<long>(off), static_cast<long>(word));
    bool isFree = freeBlocks.count(off) != 0;
    if (isFree == ((word & kBlockUsed) != 0))
      return Fmt("block %ld: in-use bit disagrees with the free list", static_cast<long>(off));
    if (h->startsBuilt && !h->tilingBroken) {
      if (!HeapMapBit(h->starts, off))
        return Fmt("block %ld is missing from the block-start map", static_cast<long>(off));
      if (HeapMapBit(h->inUse, off) == isFree)
        return Fmt("block %ld: the map of blocks in use disagrees", static_cast<long>(off));
    }
    if (!isFree && usedRecords) usedRecords->insert(static_cast<int32_t>(off + kBlockRecord));
    off += size;
    if (off > wild) return "blocks overlap the wilderness block";
  }
  return "";
}

}  // namespace

std::string IndexVerify(IndexFile* index) { return CheckIndex(index, nullptr, true); }

std::string HeapVerify(DataHeap* heap) { return CheckHeap(heap, nullptr); }

std::string StoreVerify(StoreEngine* engine) {
  std::vector<int32_t> values;
  std::string e = CheckIndex(engine->index, &values, false);
  if (!e.empty()) return "index: " + e;
  if (engine->heap->file.flags & MF_UNMAPPED) return "";
  std::set<int32_t> used;
  e = CheckHeap(engine->heap, &used);
  if (!e.empty()) return "data: " + e;
  std::set<int32_t> taken;
  for (int32_t v : values) {
    if (!used.count(v)) return Fmt("a key's value %ld is not a used block's record offset", v);
    if (!taken.insert(v).second) return Fmt("two keys share the block of record offset %ld", v);
  }
  return "";
}
