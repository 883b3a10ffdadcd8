#include "update/StoreGuarded.h"

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/StoreEngine.h"

cMf32* GuardedOpen(const char* path, int mode, int compactOnClose, int32_t creation) {
  cMf32* handle = nullptr;
  if (Guard([&] { handle = cMf32::Open(path, mode, compactOnClose, creation); }) != 0)
    return nullptr;
  return handle;
}

int GuardedDelete(cMf32** handle) {
  if (handle == nullptr || *handle == nullptr) return 1;
  cMf32* h = *handle;
  *handle = nullptr;
  return Guard([&] { delete h; }) == 0 ? 1 : 0;
}

int GuardedToBeg(cMf32* handle, KeyFilterFn filter, void* filterData) {
  if (handle == nullptr) return 0;
  return Guard([&] { handle->ToBeg(filter, filterData); }) == 0 ? 1 : 0;
}

void* GuardedRecPut(cMf32* handle, uint8_t section, const char* name, const void* data,
                    int32_t length, const void* info, int pack, int32_t* storedLength) {
  if (handle == nullptr) return nullptr;
  void* result = nullptr;
  if (Guard([&] {
        result = handle->RecPut(section, name, data, length, info, pack, storedLength);
      }) != 0) {
    return nullptr;
  }
  return result;
}

int32_t GuardedRecPutNoname(cMf32* handle, const void* data, int32_t length) {
  if (handle == nullptr) return -1;
  int32_t offset = -1;
  if (Guard([&] { offset = handle->RecPutNoname(data, length); }) != 0) return -1;
  return offset;
}

uint8_t* GuardedRecPtr(cMf32* handle, int32_t recordOffset) {
  if (handle == nullptr) return nullptr;
  uint8_t* p = nullptr;
  if (Guard([&] { p = handle->RecPtr(recordOffset); }) != 0) return nullptr;
  return p;
}

void* GuardedRecGet(cMf32* handle, uint8_t section, const char* name) {
  if (handle == nullptr) return nullptr;
  void* record = nullptr;
  if (Guard([&] { record = handle->RecGet(section, name, nullptr, 1); }) != 0) return nullptr;
  return record;
}

void* GuardedRecGetAt(cMf32* handle, const uint8_t* key, int32_t recordOffset) {
  if (handle == nullptr) return nullptr;
  void* record = nullptr;
  if (Guard([&] { record = handle->RecGetAt(key, recordOffset); }) != 0) return nullptr;
  return record;
}

void GuardedRecMemFree(cMf32* handle, void** record) {
  if (handle == nullptr) return;
  Guard([&] { handle->RecMemFree(record); });
}

uint8_t* GuardedRecKeyGetNext(cMf32* handle, int* error, int32_t* recordOffset) {
  if (error != nullptr) *error = 0;
  if (handle == nullptr) {
    if (error != nullptr) *error = ERR_REC_ARGUMENT;
    return nullptr;
  }
  uint8_t* key = nullptr;
  int code = Guard([&] { key = handle->RecKeyGetNext(nullptr, recordOffset); });
  if (code != 0) {
    if (error != nullptr) *error = code;
    return nullptr;
  }
  return key;
}

void* GuardedAlloc(size_t size) {
  void* p = nullptr;
  if (Guard([&] { p = MemAlloc(size); }) != 0) return nullptr;
  return p;
}

StoreHandle::~StoreHandle() {
  cMf32* h = handle_;
  handle_ = nullptr;
  if (h != nullptr) Guard([&] { delete h; });
}

int StoreHandle::Open(const char* path, int mode, int compactOnClose, unsigned options) {
  const char* open = path;
  if ((mode == MFO_UPDATE || mode == MFO_CREATE) && (options & kInPlace) == 0) {
    // Finishes an interrupted change of the store first, then copies it.
    StoreChange::Start start =
        mode == MFO_CREATE ? StoreChange::Start::Empty : StoreChange::Start::Copy;
    if (int code = change_.Begin(path, start)) return code;
    open = change_.WorkingPath();
    changing_ = true;
  }
  if ((options & kExisting) != 0 && !StoreExists(path)) return ERR_NOT_STORE;
  return Guard([&] { handle_ = cMf32::Open(open, mode, compactOnClose, 0); });
}

int StoreHandle::Close() {
  cMf32* h = handle_;
  handle_ = nullptr;
  int code = h != nullptr ? Guard([&] { delete h; }) : 0;
  if (code == 0 && changing_) code = change_.Commit();
  changing_ = false;
  return code;
}
