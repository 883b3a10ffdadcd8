// The store level: opening both files of a store together, and the record
// operations that combine the index and the data heap.
#include "ourlib/src/StoreEngine.h"

#include <cstring>
#include <memory>

#include "ourlib/src/BTreeNode.h"
#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/PathText.h"
#include "ourlib/src/StoreEngineRun.h"

namespace {

void FormName(const char* path, const char* ext, char* out) {
  if (!StoreFileName(path, ext, out, kPathField)) RaiseError(ERR_NOT_STORE);
}

// Runs under a frame: a raise leaves through the engine's owner, which
// closes what was opened (a half-made unmapped heap included).
StoreEngine* OpenImpl(const char* path, const KeyConfig* cfg, int duplicates, int mode,
                      uint32_t flags) {
  std::unique_ptr<StoreEngine> engine(new (std::nothrow) StoreEngine);
  if (!engine) RaiseError(ERR_NO_MEMORY);
  char name[kPathField];
  FormName(path, ".DKX", name);
  if (mode == MODE_READ) {
    engine->index = IndexOpen(name, cfg, MODE_READ);
  } else if (mode == MODE_CREATE) {
    engine->index = IndexCreate(name, cfg, duplicates);
  } else {
    engine->index = IndexOpenOrCreate(name, cfg, duplicates);
  }
  FormName(path, ".DKD", name);
  if (mode == MODE_READ && (flags & MF_UNMAPPED)) {
    engine->heap = new DataHeap;
    if (MapOpenRead(&engine->heap->file, name, MF_UNMAPPED) == nullptr) RaiseError(ERR_SYSTEM);
  } else if (mode == MODE_READ) {
    engine->heap = HeapOpenRead(name);
  } else if (mode == MODE_CREATE) {
    engine->heap = HeapCreate(name);
  } else {
    engine->heap = HeapOpenUpdate(name);
  }
  return engine.release();
}

}  // namespace

StoreEngine* StoreOpen(const char* path, const KeyConfig* cfg, int duplicates, int mode,
                       uint32_t flags, int32_t /*creationValue: accepted, unused*/) {
  StoreEngine* engine = nullptr;
  RunRaising([&] { engine = OpenImpl(path, cfg, duplicates, mode, flags); });
  return engine;
}

StoreEngine::~StoreEngine() {
  IndexClose(index);
  HeapClose(heap);
}

void StoreClose(StoreEngine* engine) { delete engine; }

bool IsIndexFile(const char* path) {
  std::unique_ptr<plat::File> file;
  if (plat::Env::Default()->Open(path, plat::Access::Read, plat::Share::None,
                                 plat::Disposition::OpenExisting, plat::ATTR_NORMAL, &file) != 0) {
    return false;
  }
  uint8_t header[kMapHeaderSize];
  uint32_t got = 0;
  if (file->Read(header, kMapHeaderSize, &got) != 0 || got != kMapHeaderSize) return false;
  return std::memcmp(header, "DKBT", 4) == 0 && header[kIndexHdrMajor] == 1;
}

bool StoreExists(const char* path) {
  char name[kPathField];
  if (!StoreFileName(path, ".DKX", name, sizeof name) || !IsIndexFile(name)) return false;
  if (!StoreFileName(path, ".DKD", name, sizeof name)) return false;
  uint32_t attributes = 0;
  return plat::Env::Default()->GetAttributes(name, &attributes) == 0;
}

bool StoreOwnsPointer(const StoreEngine* engine, const void* p) {
  if (engine == nullptr || p == nullptr) return false;
  const uint8_t* q = static_cast<const uint8_t*>(p);
  auto inside = [q](const MappedFile& mf) {
    return mf.base != nullptr && q >= mf.base && q < mf.base + mf.mappedSize;
  };
  return (engine->heap && inside(engine->heap->file)) ||
         (engine->index && inside(engine->index->file));
}

int32_t StorePutRecord(StoreEngine* engine, const void* key, const void* bytes, uint32_t length) {
  int32_t offset = -1;
  int rc = RunRaising([&] {
    offset = HeapAlloc(engine->heap, length);
    if (offset == -1) return;
    int code =
        Guard([&] { MapWrite(&engine->heap->file, static_cast<uint32_t>(offset), bytes, length); });
    if (code == 0 && key != nullptr) code = Guard([&] { IndexInsert(engine->index, key, offset); });
    if (code != 0) {
      Guard([&] { HeapFree(engine->heap, offset); });
      RaiseError(code);
    }
  });
  return rc != 0 ? rc : offset;
}

int32_t StoreReplaceRecord(StoreEngine* engine, void* key, const void* bytes, uint32_t length) {
  int32_t offset = -1;
  int rc = RunRaising([&] {
    IndexFile* ix = engine->index;
    int32_t old = 0;
    PutPlace place = length == 0 ? PutPlace::kElse : IndexPlace(ix, key, &old);
    // The searches may write into their key: they get a copy (a key too long
    // for a node goes as it is, to be refused by the insert).
    uint32_t klen = 0;
    Guard([&] { klen = btree::CallerKeyLength(ix, key); });
    btree::KeyCopy copy(key, klen);
    void* probe = klen != 0 ? copy.get() : key;
    if (place == PutPlace::kElse) {
      StoreRemoveKey(engine, probe);
      offset = StorePutRecord(engine, key, bytes, length);
      return;
    }
    // From here on as StoreRemoveKey and StorePutRecord go: the old value is
    // checked before anything changes, the key deleted, the old block freed,
    // the new one taken and written, the key inserted.
    if (place != PutPlace::kAbsent && old != 0) HeapCheckRecord(engine->heap, old, 0);
    if (place == PutPlace::kLeaf) IndexDeletePlaced(ix, probe);
    if (place == PutPlace::kInner) IndexDelete(ix, probe, nullptr);
    int code = 0;
    if (place != PutPlace::kAbsent && old != 0) code = Guard([&] { HeapFree(engine->heap, old); });
    if (code == 0) code = Guard([&] { offset = HeapAlloc(engine->heap, length); });
    bool allocated = code == 0;
    if (code == 0) {
      code = Guard(
          [&] { MapWrite(&engine->heap->file, static_cast<uint32_t>(offset), bytes, length); });
    }
    if (code == 0) {
      code = Guard([&] {
        if (place == PutPlace::kInPlace) {
          IndexReplacePlaced(ix, key, offset);
        } else {
          IndexInsertPlaced(ix, key, offset);
        }
      });
    }
    if (code != 0) {
      // As after a delete and a failed put: the new block freed, the key gone.
      if (allocated) Guard([&] { HeapFree(engine->heap, offset); });
      if (place == PutPlace::kInPlace) Guard([&] { IndexDelete(ix, probe, nullptr); });
      RaiseError(code);
    }
  });
  return rc != 0 ? rc : offset;
}

int StoreRemoveKey(StoreEngine* engine, void* key) {
  int result = ERR_NOT_FOUND;
  int rc = RunRaising([&] {
    int32_t value = 0;
    // The value is checked before anything changes: a key pointing at no
    // used block gives -5 and stays.
    if (IndexLookup(engine->index, key, &value, nullptr) != 0) return;
    if (value != 0) HeapCheckRecord(engine->heap, value, 0);
    if (IndexDelete(engine->index, key, &value) != 0) return;
    if (value != 0) HeapFree(engine->heap, value);
    result = 0;
  });
  return rc != 0 ? rc : result;
}

int32_t StoreGetRecord(StoreEngine* engine, void* key, void* buffer, uint32_t length) {
  int32_t result = ERR_NOT_FOUND;
  int rc = RunRaising([&] {
    int32_t value = 0;
    if (IndexLookup(engine->index, key, &value, nullptr) != 0) return;
    StoreReadRecord(engine, value, buffer, length);
    result = value;
  });
  return rc != 0 ? -1 : result;
}

int StoreReadRecord(StoreEngine* engine, int32_t recordOffset, void* buffer, uint32_t length) {
  return RunRaising([&] {
    HeapCheckRecord(engine->heap, recordOffset, length);
    if (buffer != nullptr)
      MapReadRaise(&engine->heap->file, static_cast<uint32_t>(recordOffset), buffer, length);
  });
}

int32_t StoreNextRecord(StoreEngine* engine, KeyOut* key) {
  int32_t result = ERR_NOT_FOUND;
  int rc = RunRaising([&] {
    int32_t value = 0;
    if (IndexNextFiltered(engine->index, key, &value, nullptr) != 0) return;
    // Record offsets come in no order: the next key's check is asked for now.
    HeapPrefetchCheck(engine->heap, engine->index->valueAhead);
    if (key == nullptr || !key->allocate) {
      HeapCheckRecord(engine->heap, value, 0);
    } else if (int code = Guard([&] { HeapCheckRecord(engine->heap, value, 0); })) {
      MemFreeNull(key->buffer);  // the key copy made for the caller
      RaiseError(code);
    }
    result = value;
  });
  return rc != 0 ? -1 : result;
}

uint8_t* StoreRecordPointer(StoreEngine* engine, int32_t recordOffset) {
  MappedFile& mf = engine->heap->file;
  if ((mf.flags & MF_UNMAPPED) || mf.base == nullptr) return nullptr;
  return mf.base + recordOffset;
}
