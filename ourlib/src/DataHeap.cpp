// The data heap: first-fit allocation by address from a free list kept in
// ascending order, whose head node is the header itself (its link the
// header's first free block, its "size" the logical size), ending in the
// wilderness block. Every offset and size read from the file is checked
// before use: a damaged heap gives -5, never an access outside the view.
#include "ourlib/src/DataHeap.h"

#include <cstring>
#include <memory>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngineRun.h"

namespace {

// The free list's head node, read as a block: the logical size stands for
// its size word and the first free block for its link.
constexpr uint32_t kHeadNode = kMapHdrLogicalSize;
static_assert(kHeadNode + kBlockNext == kMapHdrFreeHead, "the head node's link is the free head");

bool Writable(const DataHeap* h) { return (h->file.flags & MF_WRITABLE) != 0; }
uint32_t Logical(const DataHeap* h) { return MapLogicalSize(&h->file); }
// One word of the file; straight from the view where it lies inside, else
// with the mapped-file layer's checks.
uint32_t Word(DataHeap* h, uint64_t off) {
  const MappedFile& f = h->file;
  if (f.base != nullptr && (f.flags & MF_UNMAPPED) == 0 && off + 4 <= f.mappedSize)
    return GetU32(f.base + off);
  return static_cast<uint32_t>(MapReadInt(&h->file, static_cast<uint32_t>(off)));
}
// Writes one word; straight into the view where the file already holds it.
void SetWord(DataHeap* h, uint64_t off, uint32_t v) {
  MappedFile& f = h->file;
  if (f.base != nullptr && (f.flags & (MF_UNMAPPED | MF_WRITABLE)) == MF_WRITABLE &&
      off + 4 <= f.mappedSize && off + 4 <= Logical(h)) {
    PutU32(f.base + off, v);
    return;
  }
  MapWriteInt(&h->file, static_cast<uint32_t>(off), static_cast<int32_t>(v));
}
uint32_t NextFree(DataHeap* h, uint64_t block) { return Word(h, block + kBlockNext); }
void SetNextFree(DataHeap* h, uint64_t block, uint32_t next) {
  SetWord(h, block + kBlockNext, next);
}
int Damaged() { return RaiseError(ERR_NOT_STORE); }

// A free block's header must lie after the previous block and in the file.
void CheckFreeAt(const DataHeap* h, uint64_t off, uint64_t prevEnd) {
  if (off < prevEnd || off % 4 != 0 || off + kFreeBlockHeader > Logical(h)) Damaged();
}

void SetMapBit(std::vector<uint64_t>& map, uint64_t off, bool on) {
  size_t slot = static_cast<size_t>(off / 4);
  if (slot / 64 >= map.size()) map.resize(slot / 64 + 1024, 0);
  uint64_t mask = uint64_t{1} << (slot % 64);
  if (on) {
    map[slot / 64] |= mask;
  } else {
    map[slot / 64] &= ~mask;
  }
}

// A block starts (on) or stops (off) at off; a block that stops is not in use.
void MarkStart(DataHeap* h, uint64_t off, bool on) {
  if (!h->startsBuilt) return;
  SetMapBit(h->starts, off, on);
  if (!on) SetMapBit(h->inUse, off, false);
}

void MarkUsed(DataHeap* h, uint64_t off, bool on) {
  if (h->startsBuilt) SetMapBit(h->inUse, off, on);
}

bool IsStart(const DataHeap* h, uint64_t off) { return HeapMapBit(h->starts, off); }

// Walks the free list to its last block (the wilderness) and the blocks from
// 32 up to it, noting every block start.
void BuildStarts(DataHeap* h) {
  h->starts.assign(Logical(h) / 4 / 64 + 1024, 0);
  h->inUse.assign(h->starts.size(), 0);
  h->startsBuilt = true;
  h->tilingBroken = true;
  int rc = Guard([&] {
    uint64_t prevEnd = kHeapFirstBlock, wild = 0;
    for (uint64_t cur = NextFree(h, kHeadNode); cur != 0;) {
      CheckFreeAt(h, cur, prevEnd);
      uint32_t size = Word(h, cur + kBlockSize);
      if ((size & 3) != 0 || size < kFreeBlockHeader) Damaged();
      wild = cur;
      prevEnd = cur + size;
      cur = NextFree(h, cur);
    }
    if (wild == 0) Damaged();
    uint64_t off = kHeapFirstBlock;
    while (off < wild) {
      uint32_t word = Word(h, off + kBlockSize);
      uint32_t size = word & ~kBlockUsed;
      if ((size & 3) != 0 || size < kFreeBlockHeader || off + size > wild) Damaged();
      MarkStart(h, off, true);
      MarkUsed(h, off, (word & kBlockUsed) != 0);
      off += size;
    }
    if (off != wild) Damaged();
    MarkStart(h, wild, true);
  });
  h->tilingBroken = rc != 0;
}

// Copies the file's free list into memory once, checking it on the way:
// ascending, every block inside the file, sizes multiples of 4.
void EnsureFreeIndex(DataHeap* h) {
  if (h->freeIndexBuilt) return;
  h->freeIndex.Clear();
  uint64_t prevEnd = kHeapFirstBlock;
  for (uint64_t cur = NextFree(h, kHeadNode); cur != 0;) {
    CheckFreeAt(h, cur, prevEnd);
    uint32_t size = Word(h, cur + kBlockSize);
    if ((size & 3) != 0 || size < kFreeBlockHeader) Damaged();
    h->freeIndex.Insert(static_cast<uint32_t>(cur), size);
    prevEnd = cur + size;
    cur = NextFree(h, cur);
  }
  h->freeIndexBuilt = true;
}

// Checks that recordOffset is the record offset of a used block of at
// least length bytes inside the file; the block's size.
uint32_t CheckRecord(DataHeap* h, int32_t recordOffset, uint32_t length) {
  bool unmapped = (h->file.flags & MF_UNMAPPED) != 0;
  uint64_t logical = unmapped ? h->file.mappedSize : Logical(h);
  uint64_t o = static_cast<uint32_t>(recordOffset);
  if (recordOffset < static_cast<int32_t>(kHeapFirstBlock + kBlockRecord) || o % 4 != 0 ||
      o >= logical) {
    Damaged();
  }
  uint64_t q = o - kBlockRecord;
  uint32_t word = 0;
  if (!unmapped && h->file.base != nullptr && q + kBlockSize + 4 <= h->file.mappedSize) {
    word = GetU32(h->file.base + q + kBlockSize);
  } else {
    uint8_t bytes[4];
    int rc = MapRead(&h->file, static_cast<uint32_t>(q + kBlockSize), bytes, 4);
    if (rc != 0) RaiseError(rc);
    word = GetU32(bytes);
  }
  uint32_t size = word & ~3u;
  if ((word & 3) != kBlockUsed || size < kFreeBlockHeader || q + size > logical ||
      length > size - kBlockRecord) {
    Damaged();
  }
  if (!unmapped) {
    if (!h->startsBuilt) BuildStarts(h);
    if (h->tilingBroken || !IsStart(h, q)) Damaged();
  }
  return size;
}

void WriteHeader(DataHeap* h) {
  if (!Writable(h)) return;
  uint8_t link[4];
  if (MapRead(&h->file, kMapHdrFreeHead, link, 4) == 0) {
    std::memcpy(h->file.header + kMapHdrFreeHead, link, 4);
  }
  MapWrite(&h->file, 0, h->file.header, kMapHeaderSize);
}

// Closes a heap whose open failed: a file opened for update is cut back to
// the size it had.
struct AbandonHeap {
  void operator()(DataHeap* h) const {
    if (h->file.flags & MF_WRITABLE) MapSetLogicalSize(&h->file, h->file.openedSize);
    MapClose(&h->file, 0);
    delete h;
  }
};

DataHeap* OpenChecked(const char* path, bool update) {
  std::unique_ptr<DataHeap, AbandonHeap> h(new DataHeap);
  MappedFile* mf = &h->file;
  if (update) {
    // A missing data file is not created: the store is not a store.
    if (!plat::Env::Default()->Exists(path)) return RaiseError(ERR_NOT_STORE), nullptr;
    if (MapOpenUpdate(mf, path, kHeapGrowth) == nullptr) return nullptr;
  } else if (MapOpenRead(mf, path, 0) == nullptr) {
    return nullptr;
  }
  uint32_t fileSize = update ? mf->openedSize : mf->mappedSize;
  if (fileSize < kMapHeaderSize || mf->base == nullptr) Damaged();
  const uint8_t* b = mf->base;
  if (std::memcmp(b, "DKFM", 4) != 0 || GetU32(b + kHeapHdrVersion) != kHeapVersion) Damaged();
  uint32_t head = GetU32(b + kMapHdrFreeHead);
  if (head >= fileSize || (b[head] & 3) != 0) Damaged();
  std::memcpy(mf->header, b, kMapHeaderSize);
  uint32_t logical = MapLogicalSize(mf);
  if (logical < kHeapHeaderSize || logical > fileSize) Damaged();
  return h.release();
}

}  // namespace

DataHeap* HeapCreate(const char* path) {
  DataHeap* result = nullptr;
  RunRaising([&] {
    std::unique_ptr<DataHeap, AbandonHeap> h(new DataHeap);
    if (MapCreate(&h->file, path, kHeapGrowth, kHeapGrowth) == nullptr) return;
    uint8_t header[kHeapHeaderSize] = {};
    std::memcpy(header, "DKFM", 4);
    PutU32(header + kHeapHdrVersion, kHeapVersion);
    PutU32(header + kMapHdrLogicalSize, kHeapHeaderSize);
    PutU32(header + kMapHdrFreeHead, kHeapFirstBlock);
    PutU32(header + kHeapHdrWilderness + kBlockSize, kWildernessSize);
    std::memcpy(h->file.header, header, kMapHeaderSize);
    MapWrite(&h->file, 0, header, kHeapHeaderSize);
    h->file.openedSize = kHeapHeaderSize;
    result = h.release();
  });
  return result;
}

DataHeap* HeapOpenRead(const char* path) {
  DataHeap* result = nullptr;
  RunRaising([&] { result = OpenChecked(path, false); });
  return result;
}

DataHeap* HeapOpenUpdate(const char* path) {
  DataHeap* result = nullptr;
  RunRaising([&] { result = OpenChecked(path, true); });
  return result;
}

void HeapFlush(DataHeap* heap) {
  RunRaising([&] { WriteHeader(heap); });
}

void HeapClose(DataHeap* heap) {
  if (heap == nullptr) return;
  if (!(heap->file.flags & MF_UNMAPPED)) Guard([&] { WriteHeader(heap); });
  MapClose(&heap->file, 0);
  delete heap;
}

int32_t HeapAlloc(DataHeap* h, uint32_t length) {
  if (length == 0) return -1;
  int32_t result = -1;
  int rc = RunRaising([&] {
    if (length > kWildernessSize) RaiseError(ERR_NO_MEMORY);
    uint32_t need = (length + kBlockRecord + 3) & ~3u;
    if (need < kFreeBlockHeader) need = kFreeBlockHeader;
    EnsureFreeIndex(h);
    uint32_t cur = 0, size = 0, found = 0, foundSize = 0;
    if (!h->freeIndex.FirstFit(need, &cur, &size)) RaiseError(ERR_NO_MEMORY);
    uint64_t prev = h->freeIndex.Before(cur, &found, &foundSize) ? found : kHeadNode;
    uint32_t next = h->freeIndex.AtOrAfter(cur + 1, &found, &foundSize) ? found : 0;
    // The file's list must say the same as its copy.
    if (NextFree(h, prev) != cur || Word(h, cur + kBlockSize) != size || NextFree(h, cur) != next) {
      Damaged();
    }
    result = static_cast<int32_t>(cur + kBlockRecord);
    if (!Writable(h)) return;
    if (need < size - kFreeBlockHeader) {
      // Split: the remainder stays on the list where the block was.
      uint8_t rest[kFreeBlockHeader];
      PutU32(rest + kBlockSize, size - need);
      PutU32(rest + kBlockNext, next);
      MapWrite(&h->file, cur + need, rest, kFreeBlockHeader);
      SetNextFree(h, prev, NextFree(h, prev) + need);
      SetWord(h, cur + kBlockSize, need);
      MarkStart(h, cur + need, true);
      h->freeIndex.Move(cur, cur + need, size - need);
    } else {
      SetNextFree(h, prev, next);
      h->freeIndex.Erase(cur);
    }
    SetWord(h, cur + kBlockSize, Word(h, cur + kBlockSize) | kBlockUsed);
    MarkUsed(h, cur, true);
  });
  return rc != 0 ? rc : result;
}

int HeapFree(DataHeap* h, int32_t recordOffset) {
  return RunRaising([&] {
    uint32_t logical = Logical(h);
    if (recordOffset == 0 || static_cast<uint32_t>(recordOffset) >= logical) return;
    uint32_t a = CheckRecord(h, recordOffset, 0);
    if (!Writable(h)) return;
    EnsureFreeIndex(h);
    uint32_t q = static_cast<uint32_t>(recordOffset) - kBlockRecord;
    // P: the last free node before q (the head node if none); S: its next.
    uint32_t p = kHeadNode, pSize = 0, s = 0, sSize = 0;
    uint64_t pEnd = kHeapFirstBlock;
    if (h->freeIndex.Before(q, &p, &pSize)) {
      pEnd = static_cast<uint64_t>(p) + pSize;
    } else {
      p = kHeadNode;
    }
    if (!h->freeIndex.AtOrAfter(q, &s, &sSize)) Damaged();
    if (pEnd > q || s < static_cast<uint64_t>(q) + a || NextFree(h, p) != s) Damaged();
    uint32_t fin, finSize;
    MarkUsed(h, q, false);
    if (p == kHeadNode || pEnd != q) {
      SetNextFree(h, p, q);
      SetNextFree(h, q, s);
      fin = q;
      finSize = a;
    } else {
      fin = p;
      finSize = pSize + a;
      MarkStart(h, q, false);
    }
    if (s == q + a) {
      if (Word(h, s + kBlockSize) != sSize) Damaged();
      SetNextFree(h, fin, NextFree(h, s));
      finSize += sSize;
      MarkStart(h, s, false);
      if (static_cast<uint64_t>(s) + kFreeBlockHeader == logical) {
        MapSetLogicalSize(&h->file, fin + kFreeBlockHeader);  // the wilderness moved down
      }
    }
    SetWord(h, fin + kBlockSize, finSize);
    // The list in memory follows: a new block takes the place of the one it
    // absorbed, or its own; P keeps its place.
    const bool absorbed = s == q + a;
    if (fin == q && absorbed) {
      h->freeIndex.Move(s, q, finSize);
    } else if (fin == q) {
      h->freeIndex.Insert(q, finSize);
    } else {
      if (absorbed) h->freeIndex.Erase(s);
      h->freeIndex.Move(p, p, finSize);
    }
  });
}

int HeapCheckRecordSlowly(DataHeap* heap, int32_t recordOffset, uint32_t length) {
  return RunRaising([&] { CheckRecord(heap, recordOffset, length); });
}
