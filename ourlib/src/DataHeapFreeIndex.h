// An in-memory copy of a data heap's free list, ordered by address and
// augmented with the largest block size of every subtree, so that the first
// block by address that fits a request is found in O(log n) instead of by a
// walk of the whole list (which made many replaced records quadratic). The
// file's list stays the authority: the heap changes both in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class FreeBlockIndex {
 public:
  void Clear();
  void Insert(uint32_t offset, uint32_t size);
  void Erase(uint32_t offset);
  // The block at offset becomes one of newSize at newOffset, where no other
  // block lies between the two offsets: its place in the order stays.
  void Move(uint32_t offset, uint32_t newOffset, uint32_t newSize);
  // The lowest-addressed block of at least need bytes.
  bool FirstFit(uint32_t need, uint32_t* offset, uint32_t* size) const;
  // The last block before offset, and the first at or after it.
  bool Before(uint32_t offset, uint32_t* found, uint32_t* size) const;
  bool AtOrAfter(uint32_t offset, uint32_t* found, uint32_t* size) const;
  // All blocks in address order (for the checker).
  std::vector<std::pair<uint32_t, uint32_t>> Items() const;

 private:
  struct Node {
    uint32_t offset, size, maxSize, priority;
    int left, right;
  };
  Node& At(int i) { return nodes_[static_cast<std::size_t>(i)]; }
  const Node& At(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
  int NewNode(uint32_t offset, uint32_t size);
  void Pull(int t);
  // Splits t into keys below offset and keys at or above it.
  void Split(int t, uint32_t offset, int* below, int* rest);
  int Merge(int a, int b);
  bool MoveIn(int t, uint32_t offset, uint32_t newOffset, uint32_t newSize);
  void Collect(int t, std::vector<std::pair<uint32_t, uint32_t>>* out) const;

  std::vector<Node> nodes_;
  std::vector<int> spare_;
  int root_ = -1;
  uint32_t seed_ = 0x9E3779B9u;
};
