#include "ourlib/src/MappedFile.h"

#include <algorithm>
#include <cstring>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/PathText.h"

namespace {

// Files and views stay below 2 GiB: offsets in the formats are signed 32-bit.
constexpr uint64_t kMaxFileSize = 0x7FFFFFFF;
constexpr uint32_t kLargeFile = 8 << 20;  // from here on a view grows by a quarter

int SystemCode(int code) { return code != 0 ? code : ERR_SYSTEM; }

// Prepares obj for an open call: a new owned object when null, else cleared.
MappedFile* Prepare(MappedFile* obj, const char* path) {
  if (obj == nullptr) {
    obj = new (std::nothrow) MappedFile;
    if (obj == nullptr) {
      RaiseError(ERR_NO_MEMORY);
      return nullptr;
    }
    obj->flags = MF_OWNED;
  } else {
    obj->view.reset();
    obj->handle.reset();
    *obj = MappedFile();
  }
  obj->name = path;
  return obj;
}

// Closes a half-opened object (nothing is cut) and raises code.
MappedFile* Fail(MappedFile* obj, int code) {
  obj->flags &= ~MF_WRITABLE;
  MapClose(obj, 0);
  RaiseError(code);
  return nullptr;
}

// Prepares obj and opens path into its handle. With size given it also takes
// the file's size and refuses (ERR_NOT_STORE) a file that would pass the
// largest size once grown by `growth`. obj, or null after a failure that
// closed it and was raised.
MappedFile* OpenHandle(MappedFile* obj, const char* path, plat::Access access, plat::Share share,
                       plat::Disposition disposition, uint64_t* size, uint64_t growth = 0) {
  obj = Prepare(obj, path);
  if (obj == nullptr) return nullptr;
  plat::Env* env = plat::Env::Default();
  int rc = env->Open(path, access, share, disposition, plat::ATTR_NORMAL, &obj->handle);
  if (rc == 0 && size != nullptr) rc = obj->handle->Size(size);
  if (rc != 0) return Fail(obj, SystemCode(rc));
  if (size != nullptr && *size + growth > kMaxFileSize) return Fail(obj, ERR_NOT_STORE);
  return obj;
}

void TakeView(MappedFile* obj) {
  obj->base = obj->view ? obj->view->Data() : nullptr;
  obj->mappedSize = obj->view ? static_cast<uint32_t>(obj->view->Size()) : 0;
}

}  // namespace

MappedFile* MapCreate(MappedFile* obj, const char* path, uint32_t initialSize, uint32_t growth) {
  obj = OpenHandle(obj, path, plat::Access::ReadWrite, plat::Share::None,
                   plat::Disposition::CreateAlways, nullptr);
  if (obj == nullptr) return nullptr;
  int rc = plat::Env::Default()->Map(obj->handle.get(), true, initialSize, &obj->view);
  if (rc != 0) return Fail(obj, SystemCode(rc));
  TakeView(obj);
  obj->flags |= MF_WRITABLE;
  obj->growth = growth;
  MapSetLogicalSize(obj, 0);
  return obj;
}

MappedFile* MapOpenRead(MappedFile* obj, const char* path, uint32_t flags) {
  uint64_t size = 0;
  obj = OpenHandle(obj, path, plat::Access::Read, plat::Share::Read,
                   plat::Disposition::OpenExisting, &size);
  if (obj == nullptr) return nullptr;
  if (flags & MF_UNMAPPED) {
    obj->flags |= MF_UNMAPPED;
    obj->mappedSize = static_cast<uint32_t>(size);
  } else if (size > 0) {  // an empty file has nothing to map; its checks fail later
    int rc = plat::Env::Default()->Map(obj->handle.get(), false, size, &obj->view);
    if (rc != 0) return Fail(obj, SystemCode(rc));
    TakeView(obj);
  }
  MapSetLogicalSize(obj, static_cast<uint32_t>(size));
  return obj;
}

MappedFile* MapOpenUpdate(MappedFile* obj, const char* path, uint32_t growth) {
  uint64_t size = 0;
  obj = OpenHandle(obj, path, plat::Access::ReadWrite, plat::Share::None,
                   plat::Disposition::OpenAlways, &size, growth);
  if (obj == nullptr) return nullptr;
  // Until the header is loaded the file is mapped at its size + growth; a
  // failed open must not leave the file longer, so MF_WRITABLE (which cuts
  // at close) is set only once the view exists and the size is known.
  int rc = plat::Env::Default()->Map(obj->handle.get(), true, size + growth, &obj->view);
  if (rc != 0) {
    obj->view.reset();
    if (obj->handle->Seek(size) == 0) obj->handle->SetEnd();
    return Fail(obj, SystemCode(rc));
  }
  TakeView(obj);
  obj->flags |= MF_WRITABLE;
  obj->growth = growth;
  obj->openedSize = static_cast<uint32_t>(size);
  MapSetLogicalSize(obj, obj->mappedSize);
  return obj;
}

void MapClose(MappedFile* obj, uint32_t size) {
  if (obj == nullptr) return;
  // The view's changed pages are handed to the file before it goes, so that
  // a later flush of the file makes them durable on Windows too (where only
  // FlushViewOfFile writes them); a failure shows in that flush.
  if ((obj->flags & MF_WRITABLE) && obj->view) obj->view->Flush();
  obj->view.reset();
  obj->base = nullptr;
  if ((obj->flags & MF_WRITABLE) && obj->handle) {
    uint32_t end = size != 0 ? size : MapLogicalSize(obj);
    if (obj->handle->Seek(end) == 0) obj->handle->SetEnd();
  }
  obj->handle.reset();
  obj->name.clear();
  obj->mappedSize = 0;
  if (obj->flags & MF_OWNED) delete obj;
}

int MapGrow(MappedFile* obj, uint32_t extra) {
  if (obj->flags & MF_UNMAPPED) return RaiseError(ERR_UNMAPPED_WRITE);
  if (!obj->view) return RaiseError(ERR_NO_VIEW);
  uint64_t want = static_cast<uint64_t>(obj->mappedSize) + extra;
  if (want > kMaxFileSize) return RaiseError(ERR_NO_MEMORY);
  int rc = obj->view->Grow(want);
  TakeView(obj);  // the old view may sit at a new address after a failure too
  if (rc != 0) return RaiseError(SystemCode(rc));
  return 0;
}

int MapWrite(MappedFile* obj, uint32_t offset, const void* src, uint32_t length) {
  if (obj->flags & MF_UNMAPPED) return RaiseError(ERR_UNMAPPED_WRITE);
  if (obj->base == nullptr) return RaiseError(ERR_NO_VIEW);
  if (!(obj->flags & MF_WRITABLE)) return 0;
  uint64_t end = static_cast<uint64_t>(offset) + length;
  if (end > obj->mappedSize) {
    uint64_t shortfall = end - obj->mappedSize;
    uint64_t step = std::max<uint64_t>(shortfall, obj->growth);
    if (static_cast<uint64_t>(obj->mappedSize) + step > kMaxFileSize) {
      if (end > kMaxFileSize) return RaiseError(ERR_NO_MEMORY);
      step = kMaxFileSize - obj->mappedSize;
    }
    // A large file grows by a quarter of its size: each growth maps the file
    // anew, and every page of the new view is faulted in again when next
    // used. Where that much cannot be had, the plain step is tried.
    uint64_t large = std::min<uint64_t>(obj->mappedSize / 4, kMaxFileSize - obj->mappedSize);
    if (obj->mappedSize >= kLargeFile && large > step &&
        Guard([&] { MapGrow(obj, static_cast<uint32_t>(large)); }) == 0) {
      step = 0;
    }
    int rc = step != 0 ? MapGrow(obj, static_cast<uint32_t>(step)) : 0;
    if (rc != 0) return rc;
  }
  if (src != nullptr && length != 0) std::memmove(obj->base + offset, src, length);
  if (end > MapLogicalSize(obj)) MapSetLogicalSize(obj, static_cast<uint32_t>(end));
  return 0;
}

int MapReserve(MappedFile* obj, uint32_t offset, uint32_t length) {
  return MapWrite(obj, offset, nullptr, length);
}

int MapRead(MappedFile* obj, uint32_t offset, void* dst, uint32_t length) {
  if (obj->flags & MF_UNMAPPED) {
    if (dst == nullptr) return 0;
    if (!obj->handle) return ERR_NO_VIEW;
    int rc = obj->handle->Seek(offset);
    if (rc != 0) return SystemCode(rc);
    uint32_t got = 0;
    rc = obj->handle->Read(dst, length, &got);
    if (rc != 0) return SystemCode(rc);
    return got == length ? 0 : ERR_PAST_END;
  }
  if (obj->base == nullptr) return ERR_NO_VIEW;
  if (static_cast<uint64_t>(offset) + length > obj->mappedSize) return ERR_PAST_END;
  if (dst != nullptr && length != 0) std::memcpy(dst, obj->base + offset, length);
  return 0;
}

int MapReadRaise(MappedFile* obj, uint32_t offset, void* dst, uint32_t length) {
  int rc = MapRead(obj, offset, dst, length);
  return rc != 0 ? RaiseError(rc) : 0;
}

int32_t MapReadInt(MappedFile* obj, uint32_t offset) {
  if (obj->flags & MF_UNMAPPED) return RaiseError(ERR_UNMAPPED_WRITE);
  uint8_t bytes[4];
  int rc = MapRead(obj, offset, bytes, 4);
  if (rc != 0) return RaiseError(rc);
  return GetI32(bytes);
}

int MapWriteInt(MappedFile* obj, uint32_t offset, int32_t value) {
  uint8_t bytes[4];
  PutI32(bytes, value);
  return MapWrite(obj, offset, bytes, 4);
}

namespace {

bool SameExtension(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
    if (x != *b) return false;
  }
  return *a == *b;
}

}  // namespace

bool StoreFileName(const char* path, const char* ext, char* out, size_t capacity) {
  // The extension is the last dot of the last path component. A backslash
  // counts only as a character of its own (never a double-byte trail byte);
  // slashes, colons and dots never occur as trail bytes.
  const char* name = path;
  for (const char* b = FindBackslash(path); b != nullptr; b = FindBackslash(b + 1)) name = b + 1;
  for (const char* p = name; *p; ++p) {
    if (*p == '/' || *p == ':') name = p + 1;
  }
  const char* dot = std::strrchr(name, '.');
  size_t keep = std::strlen(path);
  if (dot != nullptr && (SameExtension(dot, ".DKX") || SameExtension(dot, ".DKD"))) {
    keep = static_cast<size_t>(dot - path);
  }
  if (keep + std::strlen(ext) + 1 > capacity) return false;
  std::memcpy(out, path, keep);
  std::strcpy(out + keep, ext);
  return true;
}
