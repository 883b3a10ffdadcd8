// The guarded forms of the record-store operations, as the update operations
// call them: each installs an error frame around one cMf32 operation and
// turns a raised code into a failure result (the operation has already
// reported it to the debug reporter). None of them raises.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ourlib/src/Mf32int.h"

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
void GuardedRecMemFree(cMf32* handle, void** record);
// The next key in the handle's own buffer, or null at the end. A failure
// also gives null; *error (when given) tells the two apart: 0 at the end,
// the raised code after a failure.
uint8_t* GuardedRecKeyGetNext(cMf32* handle, int* error = nullptr);
// A work buffer from the raising allocator, or null.
void* GuardedAlloc(size_t size);
