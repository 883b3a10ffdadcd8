// The mapped-file layer: every byte of a store's index and data file is read
// and written through a MappedFile (a view of the whole file plus a 32-byte
// copy of its header, whose two fields below the layer keeps itself).
//
// Error codes (ErrorCodes.h; raised with RaiseError, so returned when no
// frame is active): ERR_NO_MEMORY, ERR_PAST_END (a read past the mapped size
// or a short unmapped read), ERR_UNMAPPED_WRITE (a write, growth or word
// access in unmapped mode), ERR_NO_VIEW, ERR_SYSTEM (a system call failed
// without a code), and the system's own positive codes.
// Offsets are file offsets; a file never reaches 2 GiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrorCodes.h"
#include "platform/Env.h"

enum : uint32_t {
  MF_DIRTY = 0x10,         // index only: the header copy must be written at close
  MF_UNMAPPED = 0x100000,  // read-only access by seek and read, no view
  MF_OWNED = 0x400000,     // allocated by the open call, freed by MapClose
  MF_WRITABLE = 0x800000,  // read/write: grows on demand, cut to the logical size at close
};

constexpr uint32_t kMapHeaderSize = 32;
// The header fields both store files share (offsets in the file).
constexpr uint32_t kMapHdrLogicalSize = 8;  // the end of the content; the file is cut there
constexpr uint32_t kMapHdrFreeHead = 12;    // the head of the file's free list

struct MappedFile {
  std::string name;
  uint32_t flags = 0;
  std::unique_ptr<plat::File> handle;
  uint8_t header[kMapHeaderSize] = {};
  std::unique_ptr<plat::Mapping> view;
  uint8_t* base = nullptr;  // null when nothing is mapped
  uint32_t mappedSize = 0;  // for MF_UNMAPPED: the file size
  uint32_t growth = 0;      // least number of bytes a writable view grows by
  uint32_t openedSize = 0;  // MapOpenUpdate: the file size before the view grew it
};

// The header copy's fields that the layer itself keeps.
inline uint32_t MapLogicalSize(const MappedFile* mf) {
  return GetU32(mf->header + kMapHdrLogicalSize);
}
inline void MapSetLogicalSize(MappedFile* mf, uint32_t size) {
  PutU32(mf->header + kMapHdrLogicalSize, size);
}
inline int32_t MapFreeHead(const MappedFile* mf) { return GetI32(mf->header + kMapHdrFreeHead); }
inline void MapSetFreeHead(MappedFile* mf, int32_t offset) {
  PutI32(mf->header + kMapHdrFreeHead, offset);
}

// Opens return obj, or a new MF_OWNED object when obj is null (obj is
// cleared first). On failure the object is closed (and freed when owned)
// and the system's code (or -253) is raised; null comes back without a frame.
//
// Creates or truncates path (read/write, no sharing) and maps initialSize
// bytes; logical size 0.
MappedFile* MapCreate(MappedFile* obj, const char* path, uint32_t initialSize, uint32_t growth);
// Opens an existing file for reading, sharing reads. With MF_UNMAPPED in
// flags nothing is mapped; otherwise the whole file is mapped read-only.
// Mapped and logical size are the file size.
MappedFile* MapOpenRead(MappedFile* obj, const char* path, uint32_t flags);
// Opens or creates path read/write without sharing and maps file size +
// growth bytes; mapped and logical size are file size + growth until the
// caller loads the header copy.
MappedFile* MapOpenUpdate(MappedFile* obj, const char* path, uint32_t growth);
// Unmaps; a writable file is cut at size (0: at the logical size); closes
// the handle; frees obj when MF_OWNED. Null is ignored. Never raises.
void MapClose(MappedFile* obj, uint32_t size);

// Remaps at mapped size + extra. -48 unmapped; on failure the old size is
// mapped again and the system code (or -253) raised.
int MapGrow(MappedFile* obj, uint32_t extra);
// Copies length bytes from src (null: copies nothing) to offset, growing the
// view by max(shortfall, growth) as needed and raising the logical size to
// offset + length. Does nothing on a file that is not MF_WRITABLE.
// -48 unmapped, -81 no view.
int MapWrite(MappedFile* obj, uint32_t offset, const void* src, uint32_t length);
// MapWrite without copying: makes [offset, offset + length) part of the file.
int MapReserve(MappedFile* obj, uint32_t offset, uint32_t length);
// Reads length bytes at offset into dst (null: only checks). Returns the
// code (0, -14, -81, system code or -253) without raising.
int MapRead(MappedFile* obj, uint32_t offset, void* dst, uint32_t length);
// MapRead that raises a nonzero code.
int MapReadRaise(MappedFile* obj, uint32_t offset, void* dst, uint32_t length);
// One little-endian 32-bit value, with MapRead's checks (raised) and -48 in
// unmapped mode.
int32_t MapReadInt(MappedFile* obj, uint32_t offset);
// One little-endian 32-bit value, with MapWrite's checks and growth.
int MapWriteInt(MappedFile* obj, uint32_t offset, int32_t value);

// The store file-name rule: a path ending in ".DKX" or ".DKD" (any case)
// has that extension replaced by ext; any other path gets ext appended.
// ext is ".DKX", ".DKD", ".$$X" (formed from the ".DKX" name) or "" (the
// name both files share, which the working files of a change start from).
// Returns false when the result would not fit a 260-byte field.
bool StoreFileName(const char* path, const char* ext, char* out, size_t capacity);
