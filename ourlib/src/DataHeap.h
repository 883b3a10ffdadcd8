// The data heap of a store's ".DKD" file: a 40-byte header, then blocks
// from offset 32 (the header's last 8 bytes are the first block's). All
// fields are little-endian (ByteCodec.h); the tables below give each field's
// offset, its size in bytes and what it holds.
//
// Free blocks are linked in ascending address order, the header's free-block
// and logical-size fields standing for the list's head node (its link and its
// "size"); the last free block is the wilderness block, which stands for all
// space up to 1 GiB and whose 8-byte header ends the file.
#pragma once

#include <cstdint>
#include <vector>

#include "ourlib/src/DataHeapFreeIndex.h"
#include "ourlib/src/MappedFile.h"

// Data file header, 40 bytes; bytes 16..31 are zero.
enum : uint32_t {
  kHeapHdrMagic = 0,        // 4  "DKFM"
  kHeapHdrVersion = 4,      // 4  kHeapVersion, compared as a whole
  kHeapHdrLogical = 8,      // 4  logical size (kMapHdrLogicalSize); 40 in a new file
  kHeapHdrFreeBlock = 12,   // 4  the first free block (kMapHdrFreeHead); 32 in a new file
  kHeapHdrWilderness = 32,  // 8  a new file's wilderness block: size kWildernessSize, link 0
};
static_assert(kHeapHdrLogical == kMapHdrLogicalSize && kHeapHdrFreeBlock == kMapHdrFreeHead,
              "the mapped-file layer keeps these two fields");
// A block, at a multiple of 4 from kHeapFirstBlock.
enum : uint32_t {
  kBlockSize = 0,    // 4  the block's whole size (a multiple of 4, at least 8); bit 0
                     //    (kBlockUsed) set while the block is in use
  kBlockNext = 4,    // 4  a free block: the next free block, 0 ending the list
  kBlockRecord = 4,  // .. a used block: the record's bytes; block + 4 is the record offset
};
constexpr uint32_t kBlockUsed = 1;        // the size word's in-use bit
constexpr uint32_t kFreeBlockHeader = 8;  // size word and link; also the least block size

constexpr uint32_t kHeapHeaderSize = 40;
constexpr uint32_t kHeapFirstBlock = 32;
constexpr uint32_t kHeapEnd = 0x40000000;  // where the wilderness block ends: 1 GiB
constexpr uint32_t kHeapGrowth = 0x100000;
constexpr uint32_t kWildernessSize = kHeapEnd - kHeapFirstBlock;
constexpr uint32_t kHeapVersion = 257;

struct DataHeap {
  MappedFile file;
  // The block maps, one bit per 4 bytes: the starts of all blocks, and the
  // starts of the blocks in use. Built from the file on first need and kept
  // up to date by alloc and free, so that a record offset can be checked to
  // be a used block's without walking the heap every time, nor reading the
  // block.
  std::vector<uint64_t> starts;
  std::vector<uint64_t> inUse;
  bool startsBuilt = false;
  bool tilingBroken = false;  // the blocks did not tile the file when built
  // The free list in memory (built from the file on first need).
  FreeBlockIndex freeIndex;
  bool freeIndexBuilt = false;
};

// Asks the processor ahead for what HeapCheckRecord(recordOffset, 0) will
// read (any value is harmless).
inline void HeapPrefetchCheck(const DataHeap* h, int32_t recordOffset) {
  size_t slot = static_cast<uint32_t>(recordOffset) / 4;
  if (recordOffset > 0 && slot / 64 < h->inUse.size()) __builtin_prefetch(&h->inUse[slot / 64]);
}

// Open calls return a new heap (HeapClose frees it) or raise.
// Creates path anew: header, logical size 40.
DataHeap* HeapCreate(const char* path);
// Opens mapped read-only / for update; -5 when the header check fails
// (mapped size below 32, magic, version 257, first free block's low bits).
DataHeap* HeapOpenRead(const char* path);
DataHeap* HeapOpenUpdate(const char* path);
// Writable: writes the header back and cuts the file at its logical size.
// Null is ignored. Never raises.
void HeapClose(DataHeap* heap);
// Writes the header back (writable heaps only); raises on failure.
void HeapFlush(DataHeap* heap);

// Record offset of a new used block for length bytes (first fit by address),
// or -1 for length 0. -2 when no block fits; -5 on a damaged free list.
// Growth re-maps: pointers into the view are invalid afterwards.
int32_t HeapAlloc(DataHeap* heap, uint32_t length);
// Returns the block of a record offset to the free list, merging with free
// neighbours. Offsets of 0 or at/past the logical size are ignored; an
// offset that is not a used block's record offset gives -5 and changes nothing.
int HeapFree(DataHeap* heap, int32_t recordOffset);
// HeapCheckRecord by reading the block (and building the block maps first
// when they are not yet).
int HeapCheckRecordSlowly(DataHeap* heap, int32_t recordOffset, uint32_t length);

// Whether the bit of file offset off (a multiple of 4) is set in a block map.
inline bool HeapMapBit(const std::vector<uint64_t>& map, uint64_t off) {
  size_t slot = static_cast<size_t>(off / 4);
  return slot / 64 < map.size() && (map[slot / 64] >> (slot % 64) & 1) != 0;
}

// 0 when recordOffset is a used block's record offset whose block holds at
// least length bytes inside the file; else -5 (or a read code). Works on
// unmapped heaps too. Whether a record offset is a used block's is known
// from the map of used blocks once it is built: the block need not be read.
inline int HeapCheckRecord(DataHeap* heap, int32_t recordOffset, uint32_t length) {
  if (length == 0 && heap->startsBuilt && !heap->tilingBroken &&
      (heap->file.flags & MF_UNMAPPED) == 0 &&
      recordOffset >= static_cast<int32_t>(kHeapFirstBlock + kBlockRecord) &&
      recordOffset % 4 == 0 && static_cast<uint32_t>(recordOffset) < MapLogicalSize(&heap->file) &&
      HeapMapBit(heap->inUse, static_cast<uint32_t>(recordOffset) - kBlockRecord)) {
    return 0;
  }
  return HeapCheckRecordSlowly(heap, recordOffset, length);
}
