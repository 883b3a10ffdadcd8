// The guarded forms of the record-store operations, as the update operations
// call them: each installs an error frame around one cMf32 operation and
// turns a raised code into a failure result (the operation has already
// reported it to the debug reporter). None of them raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ourlib/src/Mf32int.h"
#include "ourlib/src/StoreChange.h"

// The handle, or null.
cMf32* GuardedOpen(const char* path, int mode, int compactOnClose, int32_t creation);
// Deletes *handle: 1 when it closed cleanly or was null, 0 when the close
// failed; *handle is null afterwards in every case.
int GuardedDelete(cMf32** handle);
// 1, or 0 for a null handle or a failure.
int GuardedToBeg(cMf32* handle, KeyFilterFn filter, void* filterData);
// The stored bytes' address, or null (0) for a null handle or a failure.
void* GuardedRecPut(cMf32* handle, uint8_t section, const char* name, const void* data,
                    int32_t length, const void* info, int pack, int32_t* storedLength);
// The record offset, or -1.
int32_t GuardedRecPutNoname(cMf32* handle, const void* data, int32_t length);
// The address, or null.
uint8_t* GuardedRecPtr(cMf32* handle, int32_t recordOffset);
// The record (no caller buffer), or null; a miss is reported.
void* GuardedRecGet(cMf32* handle, uint8_t section, const char* name);
// The record of the key GuardedRecKeyGetNext has just given with its record
// offset (RecGetAt), or null.
void* GuardedRecGetAt(cMf32* handle, const uint8_t* key, int32_t recordOffset);
void GuardedRecMemFree(cMf32* handle, void** record);
// The next key in the handle's own buffer, or null at the end. A failure
// also gives null; *error (when given) tells the two apart: 0 at the end,
// the raised code after a failure. *recordOffset (when given) receives the
// key's record offset.
uint8_t* GuardedRecKeyGetNext(cMf32* handle, int* error = nullptr, int32_t* recordOffset = nullptr);
// A work buffer from the raising allocator, or null.
void* GuardedAlloc(size_t size);

// The owner of one cMf32 handle for the length of a scope, as the record
// update and `updkit store` hold their stores. Nothing here raises; the
// handle is closed when the owner goes, the destructor never throws.
//
// A store opened to be written (MFO_UPDATE, MFO_CREATE) is changed on copies
// of its files (StoreChange), which replace it only when Close succeeds;
// leaving the scope without Close, or a Close that fails, leaves the store
// exactly as it was.
class StoreHandle {
 public:
  enum Option : unsigned {
    kInPlace = 1,   // written straight into the store's own files: a failure or
                    // a crash leaves them half-written (StoreRecordsInPlace.h)
    kExisting = 2,  // a store must be there: without one (or with an index whose
                    // data file is gone) nothing is made anew
  };

  StoreHandle() = default;
  ~StoreHandle();
  StoreHandle(const StoreHandle&) = delete;
  StoreHandle& operator=(const StoreHandle&) = delete;

  // Opens the store at path with a cMf32 open mode: 0, or the code raised by
  // the open, returned by the start of the change, or ERR_NOT_STORE when
  // kExisting finds no store.
  int Open(const char* path, int mode, int compactOnClose = 0, unsigned options = 0);
  // Closes the handle, then puts a change in place of the store: 0, or the
  // code raised while closing or returned by the commit.
  int Close();

  cMf32* get() const { return handle_; }
  cMf32* operator->() const { return handle_; }

 private:
  StoreChange change_;  // its copies go only after the handle is closed
  cMf32* handle_ = nullptr;
  bool changing_ = false;
};
