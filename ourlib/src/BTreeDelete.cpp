// Delete: an entry with a child is replaced by its in-order successor, which
// is then removed from the bottom; an underfull node borrows from or merges
// with its right sibling (its left one when it is the last child); an empty
// root takes over its only child.
//
// Trees made by the bulk loader have internal nodes without a leftmost child
// (-1). A child of -1 ends every descent here, the successor's own child
// takes the leftmost place of its node when the successor leaves it, and -1
// is never taken for a sibling node.
//
// An emptied node below the root is not left empty. The descent for a
// successor ends in the first node without a leftmost child; were that node
// empty there would be no key to take, and the key above it could be neither
// deleted nor replaced. The size rules of the rebalancing leave an emptied
// node as it is in some cases: above all on the right edge of a bulk-loaded
// tree, where nodes start with an entry and have no leftmost child, so that
// a node under the only entry of such a node has no sibling on either side.
// An emptied node is therefore settled whatever the size rules say: a
// missing sibling counts as an empty node to merge with (the node takes the
// separator and the parent loses it, as in any merge); with a sibling on
// hand the node merges when the result fits, else borrows. Every node stays
// at its level, so the height still tells the depth. In all other cases the
// size rules hold as they are. An empty node that a descent meets all the
// same (a store written elsewhere, a split or a borrow among entries near
// the node size) is settled the same way before the delete goes on.
#include <cstring>
#include <vector>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngineRun.h"

using namespace btree;

namespace {

// Sets the path from the root down to node target (depth-first; used only
// when a key search cannot tell equal keys apart).
bool PathTo(IndexFile* ix, int level, int32_t node, int32_t target) {
  TreeDescriptor* t = ix->current;
  t->path[level].node = node;
  if (node == target) {
    t->level = level;
    return true;
  }
  if (level + 1 >= kMaxTreeLevels) return false;
  const uint8_t* n = LoadLevel(ix, level);
  std::vector<std::pair<int32_t, int32_t>> children;  // (position, child)
  children.push_back({-1, NodeLeft(n)});
  for (uint32_t pos = 0; pos < NodeUsed(n); pos += EntrySize(ix, n, pos)) {
    children.push_back({static_cast<int32_t>(pos), EntryChild(EntryAt(n, pos))});
  }
  for (const auto& c : children) {
    if (c.second == -1) continue;
    t->path[level].pos = c.first;
    if (PathTo(ix, level + 1, c.second, target)) return true;
  }
  return false;
}

// After splits above it, the path to the successor's node is found again:
// by its key, which leads there unless equal keys stand in the way.
void RefindPath(IndexFile* ix, void* key, int32_t target) {
  TreeDescriptor* t = ix->current;
  int level = 0;
  t->path[0].node = TreeRoot(t);
  for (;;) {
    if (t->path[level].node == target) {
      t->level = level;
      return;
    }
    const uint8_t* n = LoadLevel(ix, level);
    bool equal = false;
    int32_t last = LastNotAfter(ix, n, key, &equal);
    t->path[level].pos = last;
    int32_t child = last < 0 ? NodeLeft(n) : EntryChild(EntryAt(n, static_cast<uint32_t>(last)));
    if (child == -1 || level + 1 >= kMaxTreeLevels) break;
    t->path[++level].node = child;
  }
  if (!PathTo(ix, 0, TreeRoot(t), target)) RaiseError(ERR_NOT_STORE);
}

// Replaces the entry at pos of the node at level by entry (esize bytes),
// splitting upward if it does not fit. Checked beforehand by the caller.
void ReplaceAt(IndexFile* ix, int level, uint32_t pos, uint8_t* entry, uint32_t esize) {
  RemoveEntry(ix, LoadLevel(ix, level), pos);
  InsertAtLevel(ix, level, pos, entry, esize);
}

// What rebalancing a node of nused bytes with a sibling of sibUsed bytes
// does, the separator between them taking m: merge when all fits, borrow
// when the sibling has more to give; an emptied node is settled anyway (see
// the top of the file): merged when the result fits, else given an entry.
enum class Plan { kNothing, kMerge, kBorrow };
Plan PlanWith(uint32_t sibUsed, uint32_t nused, uint32_t m, uint32_t cap, bool empty) {
  if (sibUsed + nused + m < cap) return Plan::kMerge;
  if (nused + m < sibUsed) return Plan::kBorrow;
  if (!empty) return Plan::kNothing;
  return sibUsed + m <= cap ? Plan::kMerge : Plan::kBorrow;
}

// A borrow: the entry at pos of node `from` (size bytes) moves up to replace
// the separator at sepPos of the parent of level. The entry's child becomes
// the leftmost child of node `gets`, and `child` the moved entry's own.
void MoveUp(IndexFile* ix, int level, uint32_t sepPos, uint8_t* from, uint32_t pos, uint32_t size,
            uint8_t* gets, int32_t child, uint8_t* scratch) {
  SetNodeLeft(gets, EntryChild(EntryAt(from, pos)));
  std::memcpy(scratch, EntryAt(from, pos), size);
  RemoveEntry(ix, from, pos);
  SetEntryChild(scratch, child);
  ReplaceAt(ix, level - 1, sepPos, scratch, size);
}

// Rebalances the underfull node at level with a sibling. Returns the
// position in the parent of the separator to remove after a merge, or -1.
int32_t Rebalance(IndexFile* ix, int level) {
  TreeDescriptor* t = ix->current;
  const uint32_t cap = Capacity(ix);
  uint8_t* pn = LoadLevel(ix, level - 1);
  int32_t via = t->path[level - 1].pos;
  uint32_t sp = PosAfter(ix, pn, via);
  const int32_t self = t->path[level].node;
  uint8_t* nn = LoadLevel(ix, level);
  uint32_t nused = NodeUsed(nn);
  const bool empty = nused == 0;  // must not stay so (see the top of the file)
  uint8_t* s0 = Scratch(ix, 0, cap);

  if (sp < NodeUsed(pn)) {  // right sibling
    uint32_t m = EntrySize(ix, pn, sp);
    int32_t right = EntryChild(EntryAt(pn, sp));
    if (right == -1 && empty) {  // merge with a missing right node
      std::memcpy(EntryAt(nn, 0), EntryAt(pn, sp), m);
      SetEntryChild(EntryAt(nn, 0), -1);
      SetNodeUsed(nn, m);
      return static_cast<int32_t>(sp);
    }
    if (!(m + nused < cap || empty) || right == -1) return -1;
    uint8_t* rn = Node(ix, right);
    uint32_t rused = NodeUsed(rn);
    Plan plan = PlanWith(rused, nused, m, cap, empty);
    if (plan == Plan::kNothing) return -1;
    bool merge = plan == Plan::kMerge;
    uint32_t fsize = 0;
    if (!merge) {
      if (rused == 0) return -1;
      fsize = EntrySize(ix, rn, 0);
      if (!CanInsertAtLevel(ix, level - 1, sp, fsize, static_cast<int32_t>(sp))) return -1;
      pn = LoadLevel(ix, level - 1);
      nn = LoadLevel(ix, level);
      rn = Node(ix, right);
    }
    std::memcpy(s0, EntryAt(pn, sp), m);
    SetEntryChild(s0, NodeLeft(rn));
    std::memcpy(EntryAt(nn, nused), s0, m);
    SetNodeUsed(nn, nused + m);
    if (merge) {
      std::memcpy(EntryAt(nn, nused + m), EntryAt(rn, 0), rused);
      SetNodeUsed(nn, nused + m + rused);
      NodeFree(ix, right);
      return static_cast<int32_t>(sp);
    }
    MoveUp(ix, level, sp, rn, 0, fsize, rn, right, s0);
    return -1;
  }

  if (via < 0) return -1;  // a parent without entries has no separator
  uint32_t spos = static_cast<uint32_t>(via);
  uint32_t m = EntrySize(ix, pn, spos);
  if (!(m + nused < cap || empty)) return -1;
  int32_t before = -1;
  for (uint32_t pos = 0; pos < spos; pos += EntrySize(ix, pn, pos))
    before = static_cast<int32_t>(pos);
  int32_t left = before < 0 ? NodeLeft(pn) : EntryChild(EntryAt(pn, static_cast<uint32_t>(before)));
  if (left == -1) {
    if (!empty) return -1;
    // Merge with a missing left node: the node takes the separator at its
    // front and the missing node's place in the parent.
    std::memcpy(EntryAt(nn, 0), EntryAt(pn, spos), m);
    SetEntryChild(EntryAt(nn, 0), NodeLeft(nn));
    SetNodeLeft(nn, -1);
    SetNodeUsed(nn, m);
    if (before < 0) {
      SetNodeLeft(pn, self);
    } else {
      SetEntryChild(EntryAt(pn, static_cast<uint32_t>(before)), self);
    }
    return via;
  }
  uint8_t* ln = Node(ix, left);
  uint32_t lused = NodeUsed(ln);
  Plan plan = PlanWith(lused, nused, m, cap, empty);
  if (plan == Plan::kNothing) return -1;
  bool merge = plan == Plan::kMerge;
  int32_t lastPos = -1;
  uint32_t lsize = 0;
  if (!merge) {
    lastPos = LastEntryPos(ix, ln);
    if (lastPos < 0) return -1;
    lsize = EntrySize(ix, ln, static_cast<uint32_t>(lastPos));
    if (!CanInsertAtLevel(ix, level - 1, spos, lsize, via)) return -1;
    pn = LoadLevel(ix, level - 1);
    nn = LoadLevel(ix, level);
    ln = Node(ix, left);
  }
  std::memcpy(s0, EntryAt(pn, spos), m);
  SetEntryChild(s0, NodeLeft(nn));
  std::memmove(EntryAt(nn, m), EntryAt(nn, 0), nused);
  std::memcpy(EntryAt(nn, 0), s0, m);
  nused += m;
  SetNodeUsed(nn, nused);
  if (merge) {
    std::memcpy(EntryAt(ln, lused), EntryAt(nn, 0), nused);
    SetNodeUsed(ln, lused + nused);
    NodeFree(ix, self);
    return via;
  }
  MoveUp(ix, level, spos, ln, static_cast<uint32_t>(lastPos), lsize, nn, self, s0);
  return -1;
}

// Restores the fill rules from the node at level upward, after an entry left
// it; each merge takes the separator out of the parent and goes on there.
void Settle(IndexFile* ix, int level) {
  TreeDescriptor* t = ix->current;
  const uint32_t cap = Capacity(ix);
  for (;;) {
    uint8_t* n = LoadLevel(ix, level);
    if (level == 0) {
      int32_t child = NodeLeft(n);
      if (NodeUsed(n) == 0 && child != -1) {
        std::memcpy(n, Node(ix, child), ix->nodeSize);
        NodeFree(ix, child);
        SetTreeHeight(t, TreeHeight(t) - 1);
      }
      return;
    }
    if (NodeUsed(n) >= cap / 2) return;
    int32_t sep = Rebalance(ix, level);
    if (sep < 0) return;
    --level;
    RemoveEntry(ix, LoadLevel(ix, level), static_cast<uint32_t>(sep));
  }
}

// Takes out the entry at (level, pos) and restores the fill rules upward.
void RemoveAndRebalance(IndexFile* ix, int level, uint32_t pos) {
  RemoveEntry(ix, LoadLevel(ix, level), pos);
  Settle(ix, level);
}

void DeleteImpl(IndexFile* ix, void* key, int32_t* value, int* result) {
  TreeDescriptor* t = ix->current;
  *result = ERR_NOT_FOUND;
  // Each round that meets an empty node settles it first; the node count
  // bounds the rounds.
  uint32_t rounds = (MapLogicalSize(&ix->file) - kFirstNode) / ix->nodeSize + 1;
  for (;;) {
    if (!IndexFind(ix, key, true)) return;
    int level = t->level;
    uint32_t pos = static_cast<uint32_t>(t->path[level].pos);
    uint8_t* n = LoadLevel(ix, level);
    const uint8_t* e = EntryAt(n, pos);
    int32_t child = EntryChild(e);
    if (value) *value = EntryValue(e);
    *result = 0;
    if (!Writable(ix)) return;
    if (child == -1) {
      MarkDirty(ix);
      RemoveAndRebalance(ix, level, pos);
      break;
    }
    // The in-order successor: down the leftmost children to the bottom.
    int bottom = level;
    int32_t c = child;
    while (c != -1) {
      if (bottom + 1 >= kMaxTreeLevels) RaiseNow(ERR_NOT_STORE);
      t->path[++bottom] = {c, -1};
      c = NodeLeft(LoadLevel(ix, bottom));
    }
    t->level = bottom;
    uint8_t* bn = LoadLevel(ix, bottom);
    int32_t target = t->path[bottom].node;
    if (NodeUsed(bn) == 0) {
      // An empty node, as a store written elsewhere or a split of entries
      // near the node size may leave: settled like an emptied one, then the
      // key is searched again.
      if (--rounds == 0) RaiseNow(ERR_NOT_STORE);
      MarkDirty(ix);
      Settle(ix, bottom);
      const uint8_t* after = Node(ix, target);
      if (NodeUsed(after) == 0 && NodeLeft(after) != kFreeMark) RaiseNow(ERR_NOT_STORE);
      continue;
    }
    uint32_t ssize = EntrySize(ix, bn, 0);
    if (!CanInsertAtLevel(ix, level, pos, ssize, static_cast<int32_t>(pos)))
      RaiseError(ERR_NO_MEMORY);
    MarkDirty(ix);
    std::vector<uint8_t> succKey(EntryAt(bn, 0) + kEntryHeader, EntryAt(bn, 0) + ssize);
    uint8_t* s0 = Scratch(ix, 0, ssize);
    std::memcpy(s0, EntryAt(LoadLevel(ix, bottom), 0), ssize);
    SetEntryChild(s0, child);
    RemoveEntry(ix, LoadLevel(ix, level), pos);
    if (InsertAtLevel(ix, level, pos, s0, ssize)) {
      RefindPath(ix, succKey.data(), target);
      bottom = t->level;
    }
    bn = LoadLevel(ix, bottom);
    // The successor's node has no leftmost child (the descent ended there):
    // the successor's own subtree takes that place.
    SetNodeLeft(bn, EntryChild(EntryAt(bn, 0)));
    RemoveAndRebalance(ix, bottom, 0);
    break;
  }
  IndexFind(ix, key, false);
}

}  // namespace

int IndexDeletePlaced(IndexFile* index, void* key) {
  return RunRaising([&] {
    TreeDescriptor* t = index->current;
    MarkDirty(index);
    RemoveAndRebalance(index, t->level, static_cast<uint32_t>(t->path[t->level].pos));
    FindKey(index, key, false, nullptr);
  });
}

int IndexDelete(IndexFile* index, void* key, int32_t* value) {
  int result = ERR_NOT_FOUND;
  int rc = RunRaising([&] { DeleteImpl(index, key, value, &result); });
  return rc != 0 ? rc : result;
}
