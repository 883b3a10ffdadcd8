// Index files: create, open (with the repair of a lost tree list), flush and
// close; tree descriptors and node space.
#include <cstdio>
#include <cstring>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngine.h"
#include "ourlib/src/StoreEngineRun.h"

using namespace btree;

namespace {

constexpr uint32_t kIndexInitialSize = 0x100000;

// Closes a context whose open failed: nothing is flushed, and a file opened
// for update is cut back to the size it had.
struct AbandonIndex {
  void operator()(IndexFile* ix) const {
    if (ix->file.flags & MF_WRITABLE) MapSetLogicalSize(&ix->file, ix->file.openedSize);
    MapClose(&ix->file, 0);
    delete ix;
  }
};
// A freshly created index is closed as it stands (cut at its logical size).
struct CloseCreated {
  void operator()(IndexFile* ix) const {
    MapClose(&ix->file, 0);
    delete ix;
  }
};

void ApplyConfig(TreeDescriptor* t, const KeyConfig* cfg) {
  if (cfg == nullptr) return;
  t->compare = cfg->compare;
  t->keyLength = cfg->keyLength;
  PutI32(t->disk + kDescKeyType, cfg->keyType);
  PutU16(t->disk + kDescFixedLength, cfg->fixedLength);
}

void NameTree(TreeDescriptor* t) {
  char name[16];
  std::snprintf(name, sizeof name, "%08ld", static_cast<long>(GetI16(t->disk + kDescNumber)));
  std::memset(t->disk + kDescName, 0, kDescNameSize);
  size_t n = std::strlen(name);
  std::memcpy(t->disk + kDescName, name, n < kDescNameSize - 1 ? n : kDescNameSize - 1);
}

IndexFile* CreateImpl(const char* path, const KeyConfig* cfg, int duplicates) {
  std::unique_ptr<IndexFile, CloseCreated> ix(new IndexFile);
  if (MapCreate(&ix->file, path, kIndexInitialSize, kIndexGrowth) == nullptr) return nullptr;
  uint8_t* h = ix->file.header;
  std::memcpy(h, "DKBT", 4);
  PutU16(h + kIndexHdrVersion, kIndexVersion);
  PutI16(h + kIndexHdrNodeSize, kIndexNodeSize);
  MapSetLogicalSize(&ix->file, kMapHeaderSize);
  MapSetFreeHead(&ix->file, -1);
  PutI16(h + kIndexHdrTreeCount, 0);
  PutI32(h + kIndexHdrTreeList, static_cast<int32_t>(kFirstDescriptor));
  ix->nodeSize = kIndexNodeSize;
  MapWrite(&ix->file, 0, h, kMapHeaderSize);
  MapReserve(&ix->file, kFirstDescriptor, kDescriptorSize);

  TreeDescriptor* t = new TreeDescriptor;
  ix->trees = ix->current = t;
  ApplyConfig(t, cfg);
  PutI32(t->disk + kDescNext, -1);
  PutI16(t->disk + kDescNumber, GetI16(h + kIndexHdrTreeCount));
  PutI16(h + kIndexHdrTreeCount, static_cast<int16_t>(GetI16(h + kIndexHdrTreeCount) + 1));
  IndexInitTree(ix.get(), kFirstDescriptor, duplicates);
  NoteKeyKind(t);
  IndexFirst(ix.get(), nullptr, nullptr);
  return ix.release();
}

// A tree list of -1: the descriptor at 32 is taken off the second list,
// given a new empty root and made the head of the tree list.
void RepairTreeList(IndexFile* ix, const KeyConfig* cfg) {
  if (!Writable(ix)) RaiseError(ERR_NOT_STORE);  // a read-only open cannot make the root
  TreeDescriptor* t = ix->current;
  uint8_t* h = ix->file.header;
  uint32_t logical = MapLogicalSize(&ix->file);
  const int32_t first = static_cast<int32_t>(kFirstDescriptor);
  std::memcpy(t->disk, ix->file.base + kFirstDescriptor, kDescriptorSize);
  int32_t after = GetI32(t->disk + kDescNext);
  int32_t head = GetI32(h + kIndexHdrSecondList);
  if (head == first) {
    PutI32(h + kIndexHdrSecondList, after);
  } else {
    // Walk the list (bounded: a cycle ends the walk) to unlink 32.
    int32_t prev = head;
    for (uint32_t steps = 0; steps < logical / kDescriptorSize; ++steps) {
      if (prev < first || static_cast<uint32_t>(prev) + kDescriptorSize > logical) break;
      int32_t next = MapReadInt(&ix->file, static_cast<uint32_t>(prev) + kDescNext);
      if (next == first) {
        MapWriteInt(&ix->file, static_cast<uint32_t>(prev) + kDescNext, after);
        break;
      }
      prev = next;
    }
  }
  ApplyConfig(t, cfg);
  IndexInitTree(ix, kFirstDescriptor, GetI16(t->disk + kDescDuplicates));
  PutI32(t->disk + kDescNext, GetI32(h + kIndexHdrTreeList));
  PutI32(h + kIndexHdrTreeList, first);
  t->dirty = 1;
  MarkDirty(ix);
}

IndexFile* OpenImpl(const char* path, const KeyConfig* cfg, int mode) {
  std::unique_ptr<IndexFile, AbandonIndex> ix(new IndexFile);
  MappedFile* mf = &ix->file;
  MappedFile* ok =
      mode == MODE_READ ? MapOpenRead(mf, path, 0) : MapOpenUpdate(mf, path, kIndexGrowth);
  if (ok == nullptr) return nullptr;
  uint32_t fileSize = mode == MODE_READ ? mf->mappedSize : mf->openedSize;
  if (fileSize < kMapHeaderSize) RaiseError(ERR_NOT_STORE);
  std::memcpy(mf->header, mf->base, kMapHeaderSize);
  uint8_t* h = mf->header;
  if (std::memcmp(h, "DKBT", 4) != 0) RaiseError(ERR_NOT_STORE);
  if (h[kIndexHdrMajor] != 1) RaiseError(ERR_VERSION);
  int16_t nodeSize = GetI16(h + kIndexHdrNodeSize);
  if (nodeSize < 64) RaiseError(ERR_NOT_STORE);
  ix->nodeSize = static_cast<uint32_t>(nodeSize);
  uint32_t logical = MapLogicalSize(mf);
  if (logical < kFirstNode + ix->nodeSize || logical > fileSize ||
      (logical - kFirstNode) % ix->nodeSize != 0) {
    RaiseError(ERR_NOT_STORE);
  }
  TreeDescriptor* t = new TreeDescriptor;
  ix->trees = ix->current = t;
  ApplyConfig(t, cfg);
  int32_t list = GetI32(h + kIndexHdrTreeList);
  if (list == 0) list = static_cast<int32_t>(kFirstDescriptor);
  if (list == -1) {
    RepairTreeList(ix.get(), cfg);
  } else {
    if (list < static_cast<int32_t>(kFirstDescriptor) ||
        static_cast<uint32_t>(list) + kDescriptorSize > logical) {
      RaiseError(ERR_NOT_STORE);
    }
    std::memcpy(t->disk, mf->base + list, kDescriptorSize);
    t->ownOffset = list;
  }
  if (!ValidNodeOffset(ix.get(), TreeRoot(t)) || TreeHeight(t) < 1 ||
      TreeHeight(t) > kMaxTreeLevels) {
    RaiseError(ERR_NOT_STORE);
  }
  NoteKeyKind(t);
  IndexFirst(ix.get(), nullptr, nullptr);
  return ix.release();
}

}  // namespace

IndexFile::~IndexFile() {
  while (trees != nullptr) {
    TreeDescriptor* next = trees->nextOpen;
    delete trees;
    trees = next;
  }
}

IndexFile* IndexCreate(const char* path, const KeyConfig* cfg, int duplicates) {
  IndexFile* ix = nullptr;
  RunRaising([&] { ix = CreateImpl(path, cfg, duplicates); });
  return ix;
}

IndexFile* IndexOpen(const char* path, const KeyConfig* cfg, int mode) {
  IndexFile* ix = nullptr;
  RunRaising([&] { ix = OpenImpl(path, cfg, mode); });
  return ix;
}

IndexFile* IndexOpenOrCreate(const char* path, const KeyConfig* cfg, int duplicates) {
  return IsIndexFile(path) ? IndexOpen(path, cfg, MODE_UPDATE) : IndexCreate(path, cfg, duplicates);
}

void IndexClose(IndexFile* index) {
  if (index == nullptr) return;
  Guard([&] { IndexFlush(index); });
  MapClose(&index->file, 0);
  delete index;
}

int32_t NodeAlloc(IndexFile* ix) {
  int32_t head = MapFreeHead(&ix->file);
  if (head == -1) return static_cast<int32_t>(MapLogicalSize(&ix->file));
  uint8_t* n = Node(ix, head);
  if (NodeLeft(n) != kFreeMark) return RaiseError(ERR_NOT_STORE);
  MapSetFreeHead(&ix->file, NodeNextFree(n));
  MarkDirty(ix);
  return head;
}

void NodeFree(IndexFile* ix, int32_t offset) {
  MapReserve(&ix->file, static_cast<uint32_t>(offset), ix->nodeSize);
  uint8_t* n = Node(ix, offset);
  SetNodeNextFree(n, MapFreeHead(&ix->file));
  MapSetFreeHead(&ix->file, offset);
  SetNodeLeft(n, kFreeMark);
  MarkDirty(ix);
}

void IndexInitTree(IndexFile* ix, uint32_t descOffset, int duplicates) {
  TreeDescriptor* t = ix->current;
  t->ownOffset = static_cast<int32_t>(descOffset);
  SetTreeHeight(t, 1);
  PutI16(t->disk + kDescDuplicates, static_cast<int16_t>(duplicates != 0));
  t->level = 0;
  t->path[0] = {-1, -1};
  NameTree(t);
  int32_t root = NodeAlloc(ix);
  ReserveNodeForTree(ix, root);
  uint8_t* n = ix->file.base + root;
  std::memset(n, 0, ix->nodeSize);
  SetNodeSelf(n, -1);
  SetNodeLeft(n, -1);
  PutI32(t->disk + kDescRoot, root);
  MarkDirty(ix);
  IndexWriteTree(ix, t);
}

void IndexWriteTree(IndexFile* ix, TreeDescriptor* t) {
  if (t->disk[kDescName] == 0) {
    NameTree(t);
    t->dirty = 1;
  }
  if (t->dirty) {
    MarkDirty(ix);
    MapWrite(&ix->file, static_cast<uint32_t>(t->ownOffset), t->disk, kDescriptorSize);
  }
  MapReserve(&ix->file, static_cast<uint32_t>(TreeRoot(t)), ix->nodeSize);
  t->dirty = 0;
}

void IndexFlush(IndexFile* ix) {
  for (TreeDescriptor* t = ix->trees; t != nullptr; t = t->nextOpen) IndexWriteTree(ix, t);
  if (ix->file.flags & MF_DIRTY) {
    MapWrite(&ix->file, 0, ix->file.header, kMapHeaderSize);
    if (Writable(ix)) ix->file.flags &= ~MF_DIRTY;
  }
}
