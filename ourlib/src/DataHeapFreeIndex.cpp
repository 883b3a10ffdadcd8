#include "ourlib/src/DataHeapFreeIndex.h"

#include <cstddef>

void FreeBlockIndex::Clear() {
  nodes_.clear();
  spare_.clear();
  root_ = -1;
}

int FreeBlockIndex::NewNode(uint32_t offset, uint32_t size) {
  seed_ ^= seed_ << 13;  // xorshift: treap priorities
  seed_ ^= seed_ >> 17;
  seed_ ^= seed_ << 5;
  Node n{offset, size, size, seed_, -1, -1};
  if (!spare_.empty()) {
    int i = spare_.back();
    spare_.pop_back();
    At(i) = n;
    return i;
  }
  nodes_.push_back(n);
  return static_cast<int>(nodes_.size() - 1);
}

void FreeBlockIndex::Pull(int t) {
  Node& n = At(t);
  n.maxSize = n.size;
  if (n.left >= 0 && At(n.left).maxSize > n.maxSize) n.maxSize = At(n.left).maxSize;
  if (n.right >= 0 && At(n.right).maxSize > n.maxSize) n.maxSize = At(n.right).maxSize;
}

void FreeBlockIndex::Split(int t, uint32_t offset, int* below, int* rest) {
  if (t < 0) {
    *below = *rest = -1;
    return;
  }
  Node& n = At(t);
  if (n.offset < offset) {
    int r = n.right;
    Split(r, offset, &At(t).right, rest);
    *below = t;
  } else {
    int l = n.left;
    Split(l, offset, below, &At(t).left);
    *rest = t;
  }
  Pull(t);
}

int FreeBlockIndex::Merge(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  if (At(a).priority > At(b).priority) {
    int m = Merge(At(a).right, b);
    At(a).right = m;
    Pull(a);
    return a;
  }
  int m = Merge(a, At(b).left);
  At(b).left = m;
  Pull(b);
  return b;
}

void FreeBlockIndex::Insert(uint32_t offset, uint32_t size) {
  Erase(offset);
  int below, rest;
  Split(root_, offset, &below, &rest);
  root_ = Merge(Merge(below, NewNode(offset, size)), rest);
}

void FreeBlockIndex::Erase(uint32_t offset) {
  int below, rest, hit, above;
  Split(root_, offset, &below, &rest);
  Split(rest, offset + 1, &hit, &above);
  if (hit >= 0) spare_.push_back(hit);  // keys are unique: hit is one node
  root_ = Merge(below, above);
}

bool FreeBlockIndex::MoveIn(int t, uint32_t offset, uint32_t newOffset, uint32_t newSize) {
  if (t < 0) return false;
  Node& n = At(t);
  if (n.offset == offset) {
    n.offset = newOffset;
    n.size = newSize;
  } else if (!MoveIn(offset < n.offset ? n.left : n.right, offset, newOffset, newSize)) {
    return false;
  }
  Pull(t);
  return true;
}

void FreeBlockIndex::Move(uint32_t offset, uint32_t newOffset, uint32_t newSize) {
  MoveIn(root_, offset, newOffset, newSize);
}

bool FreeBlockIndex::FirstFit(uint32_t need, uint32_t* offset, uint32_t* size) const {
  int t = root_;
  if (t < 0 || At(t).maxSize < need) return false;
  for (;;) {
    const Node& n = At(t);
    if (n.left >= 0 && At(n.left).maxSize >= need) {
      t = n.left;
    } else if (n.size >= need) {
      *offset = n.offset;
      *size = n.size;
      return true;
    } else {
      t = n.right;  // the subtree's maximum says a fit lies to the right
    }
  }
}

bool FreeBlockIndex::Before(uint32_t offset, uint32_t* found, uint32_t* size) const {
  bool any = false;
  for (int t = root_; t >= 0;) {
    const Node& n = At(t);
    if (n.offset < offset) {
      *found = n.offset;
      *size = n.size;
      any = true;
      t = n.right;
    } else {
      t = n.left;
    }
  }
  return any;
}

bool FreeBlockIndex::AtOrAfter(uint32_t offset, uint32_t* found, uint32_t* size) const {
  bool any = false;
  for (int t = root_; t >= 0;) {
    const Node& n = At(t);
    if (n.offset >= offset) {
      *found = n.offset;
      *size = n.size;
      any = true;
      t = n.left;
    } else {
      t = n.right;
    }
  }
  return any;
}

void FreeBlockIndex::Collect(int t, std::vector<std::pair<uint32_t, uint32_t>>* out) const {
  if (t < 0) return;
  Collect(At(t).left, out);
  out->push_back({At(t).offset, At(t).size});
  Collect(At(t).right, out);
}

std::vector<std::pair<uint32_t, uint32_t>> FreeBlockIndex::Items() const {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  Collect(root_, &out);
  return out;
}
