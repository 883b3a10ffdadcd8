// Bulk loading into an empty tree: keys arrive in order and fill nodes
// completely from left to right; a full path grows the tree at the top, and
// a freshly started right edge carries its first key as an entry (its nodes
// have no leftmost child).
#include <cstring>
#include <vector>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngineRun.h"

using namespace btree;

namespace {

struct SourceKey {
  std::vector<uint8_t> bytes;
  uint32_t length = 0;
  int32_t value = 0;
};

bool ReadNext(IndexFile* source, SourceKey* k) {
  KeyOut out;
  out.buffer = k->bytes.data();
  out.capacity = static_cast<uint32_t>(k->bytes.size());
  int rc = IndexNextFiltered(source, &out, &k->value, nullptr);
  if (rc == ERR_NOT_FOUND) return false;
  if (rc != 0) RaiseError(rc);
  k->length = out.length;
  return true;
}

// Appends key k as the last entry of node off with child -1; its position.
uint32_t Append(IndexFile* ix, int32_t off, const SourceKey& k) {
  uint8_t* n = Node(ix, off);
  uint32_t pos = NodeUsed(n);
  uint8_t* e = EntryAt(n, pos);
  SetEntryChild(e, -1);
  SetEntryValue(e, k.value);
  std::memcpy(e + kEntryHeader, k.bytes.data(), k.length);
  SetNodeUsed(n, pos + k.length + kEntryHeader);
  return pos;
}

int32_t NewNode(IndexFile* ix) {
  int32_t off = NodeAlloc(ix);
  ReserveNodeForTree(ix, off);
  uint8_t* n = ix->file.base + off;
  SetNodeSelf(n, off);
  SetNodeLeft(n, -1);
  SetNodeUsed(n, 0);
  return off;
}

void BulkImpl(IndexFile* target, IndexFile* source) {
  TreeDescriptor* t = target->current;
  const uint32_t cap = Capacity(target);
  uint8_t* root = LoadLevel(target, 0);
  if (NodeUsed(root) != 0 || NodeLeft(root) != -1) RaiseError(ERR_NOT_STORE);
  if (!Writable(target)) return;
  MarkDirty(target);
  IndexFirst(source, source->current->filter, source->current->filterData);

  int32_t nodes[kMaxTreeLevels] = {TreeRoot(t)};
  int cur = 0, bottom = 0;
  SourceKey k;
  k.bytes.resize(Capacity(source));
  bool have = ReadNext(source, &k);
  while (have) {
    uint32_t esize = k.length + kEntryHeader;
    if (esize > cap) RaiseError(ERR_NO_MEMORY);
    if (NodeUsed(Node(target, nodes[cur])) + esize <= cap) {
      Append(target, nodes[cur], k);
      have = ReadNext(source, &k);
      continue;
    }
    int level = cur - 1;
    while (level >= 0 && NodeUsed(Node(target, nodes[level])) + esize > cap) --level;
    if (level < 0) {
      if (bottom + 1 >= kMaxTreeLevels) RaiseNow(ERR_NO_MEMORY);
      int32_t copy = NodeAlloc(target);
      ReserveNodeForTree(target, copy);
      root = LoadLevel(target, 0);
      std::memcpy(target->file.base + copy, root, target->nodeSize);
      SetNodeSelf(target->file.base + copy, copy);
      SetNodeLeft(root, copy);
      SetNodeUsed(root, 0);
      SetTreeHeight(t, TreeHeight(t) + 1);
      for (int i = bottom; i >= 1; --i) nodes[i + 1] = nodes[i];
      nodes[1] = copy;
      ++bottom;
      level = 0;
    }
    for (;;) {
      uint32_t pos = Append(target, nodes[level], k);
      have = ReadNext(source, &k);
      if (!have) break;
      int32_t child = NewNode(target);
      SetEntryChild(EntryAt(Node(target, nodes[level]), pos), child);
      nodes[++level] = child;
      if (level >= bottom) break;
    }
    cur = bottom;
  }
}

}  // namespace

int IndexBulkCopy(IndexFile* target, IndexFile* source) {
  return RunRaising([&] { BulkImpl(target, source); });
}
