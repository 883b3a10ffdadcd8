#include "ourlib/src/Mf32int.h"

#include <cstdio>
#include <cstring>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/DataHeap.h"
#include "ourlib/src/DebugReport.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "ourlib/src/StoreEngine.h"

namespace {

// The source name under which this file reports and records its errors.
const char* const kSrc = "ourlib/src/Mf32int";

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

// The tail of every operation's error frame: reports the failure with the
// line that caught it, then raises the same code on to the next frame from
// that line (force 0).
void ReportAndRaise(int line, int code, const char* text) {
  ReportDebugMessage(kSrc, line, 0, code, "%s", text);
  RaiseErrorAt(code, 0, kSrc, line);
}

// ReportAndRaise for RecPut and RecGet, whose text names the data file, the
// section and the record.
void ReportRecordAndRaise(int line, int code, const char* operation, const char* dataFile,
                          uint8_t section, const char* name) {
  char text[1024];
  std::snprintf(text, sizeof text, "cMf32::%s \nFile=\"%s\" \nSect=%s  Name=\"%s\" ", operation,
                dataFile, SectionName(section), name != nullptr ? name : "");
  ReportAndRaise(line, code, text);
}

// A name usable in a key: not null, not empty, at most kRecNameMax bytes.
size_t CheckedNameLength(const char* name, int line) {
  size_t n = name != nullptr ? std::strlen(name) : 0;
  if (n == 0 || n > static_cast<size_t>(kRecNameMax)) RaiseErrorAt(ERR_REC_ARGUMENT, 1, kSrc, line);
  return n;
}

}  // namespace

int RecKeyMake(void* key, uint8_t section, const char* name, size_t nameLength) {
  uint8_t* k = static_cast<uint8_t*>(key);
  std::memset(k, 0, kRecKeyHeader);
  k[kRecKeyAtSection] = section;
  PutU16(k + kRecKeyAtNameLength, static_cast<uint16_t>(nameLength));
  std::memcpy(k + kRecKeyHeader, name, nameLength);
  return kRecKeyHeader + static_cast<int>(nameLength);
}

void RecKeySetRecord(void* key, int32_t stored, uint8_t pack, int32_t unpacked, const void* info) {
  uint8_t* k = static_cast<uint8_t*>(key);
  PutI32(k + kRecKeyAtStored, stored);
  k[kRecKeyAtPack] = pack;
  PutI32(k + kRecKeyAtUnpacked, unpacked);
  if (info != nullptr) {
    std::memcpy(k + kRecKeyAtInfo, info, kRecKeyInfo);
  } else {
    std::memset(k + kRecKeyAtInfo, 0, kRecKeyInfo);
  }
}

uint8_t RecKeySection(const void* key) { return Bytes(key)[kRecKeyAtSection]; }
int32_t RecKeyStoredLength(const void* key) { return GetI32(Bytes(key) + kRecKeyAtStored); }
uint8_t RecKeyPack(const void* key) { return Bytes(key)[kRecKeyAtPack]; }
int32_t RecKeyUnpackedLength(const void* key) { return GetI32(Bytes(key) + kRecKeyAtUnpacked); }
const uint8_t* RecKeyInfo(const void* key) { return Bytes(key) + kRecKeyAtInfo; }
int16_t RecKeyNameLength(const void* key) { return GetI16(Bytes(key) + kRecKeyAtNameLength); }
const char* RecKeyName(const void* key) {
  return reinterpret_cast<const char*>(Bytes(key) + kRecKeyHeader);
}

int RecKeyLength(const void* key) { return reckey::Length(Bytes(key)); }

int RecKeyCompare(void* probe, const void* stored) {
  return reckey::Compare(static_cast<uint8_t*>(probe), Bytes(stored));
}

const KeyConfig* RecKeyConfig() {
  static const KeyConfig config{KEY_CUSTOM, RecKeyCompare, RecKeyLength, 0};
  return &config;
}

void* cMf32::operator new(size_t size) {
  void* p = MemAllocZero(size);
  if (p == nullptr) throw RaisedError{ERR_NO_MEMORY};  // only reached without a frame
  return p;
}

void cMf32::operator delete(void* p) { MemFree(p); }

bool cMf32::Mapped() const {
  return engine_ != nullptr && engine_->heap != nullptr &&
         (engine_->heap->file.flags & MF_UNMAPPED) == 0 && engine_->heap->file.base != nullptr;
}

cMf32* cMf32::Open(const char* path, int mode, int compactOnClose, int32_t creation) {
  cMf32* handle = nullptr;
  int code = Guard([&] {
    handle = new cMf32();
    if (path == nullptr ||
        !StoreFileName(path, ".DKD", handle->dataFileName_, sizeof handle->dataFileName_)) {
      RaiseError(ERR_REC_ARGUMENT);
    }
    handle->keyConfig_ = *RecKeyConfig();
    int engineMode = MODE_READ;
    uint32_t flags = 0;
    switch (mode) {
      case MFO_CREATE:
        engineMode = MODE_CREATE;
        break;
      case MFO_UPDATE:
        engineMode = StoreExists(path) ? MODE_UPDATE : MODE_CREATE;
        break;
      case MFO_READ_UNMAPPED:
        flags = MF_UNMAPPED;
        break;
      default:
        break;  // MFO_READ and any other value
    }
    handle->engine_ = StoreOpen(path, &handle->keyConfig_, 0, engineMode, flags, creation);
    if (handle->engine_ == nullptr) RaiseError(ERR_NOT_STORE);
    handle->compactOnClose_ = compactOnClose;
  });
  if (code == 0) return handle;
  if (handle != nullptr) {
    StoreClose(handle->engine_);
    handle->engine_ = nullptr;
    handle->compactOnClose_ = 0;
    delete handle;  // nothing left to close: cannot raise
  }
  RaiseErrorAt(code, 0, kSrc, __LINE__);
  return nullptr;
}

cMf32::~cMf32() noexcept(false) {
  StoreEngine* engine = engine_;
  engine_ = nullptr;
  int code = Guard([&] {
    // The engine's close swallows write-back failures; flushing first makes
    // them visible, so a store that was not written completely is reported.
    if (engine != nullptr && engine->index != nullptr &&
        (engine->index->file.flags & MF_WRITABLE) != 0) {
      IndexFlush(engine->index);
    }
    if (engine != nullptr && engine->heap != nullptr &&
        (engine->heap->file.flags & MF_WRITABLE) != 0) {
      HeapFlush(engine->heap);
    }
    StoreEngine* closing = engine;
    engine = nullptr;
    StoreClose(closing);
    if (compactOnClose_ != 0) {
      char path[kPathField];
      CopyBounded(path, sizeof path, dataFileName_);  // StoreCompact upper-cases its path
      int result = StoreCompact(path, &keyConfig_);
      if (result != 0) RaiseError(result);
    }
  });
  if (code != 0) {
    StoreClose(engine);  // still open when a flush failed
    ReportAndRaise(__LINE__, code, "cMf32::delete");
  }
}

void cMf32::ToBeg(KeyFilterFn filter, void* filterData) {
  int code = Guard([&] { IndexFirst(engine_->index, filter, filterData); });
  if (code != 0) ReportAndRaise(__LINE__, code, "cMf32::ToBeg");
}

uint8_t* cMf32::RecKeyGetNext(void* keyBuffer, int32_t* recordOffset) {
  const bool own = keyBuffer == nullptr;
  uint8_t* out = own ? keyBuffer_ : static_cast<uint8_t*>(keyBuffer);
  uint8_t* result = nullptr;
  int code = Guard([&] {
    // The buffer is cleared whole: the handle's own one is zero already past
    // the bytes the last key took.
    std::memset(out, 0, own ? keyBufferDirty_ : kRecKeyBuffer);
    if (own) keyBufferDirty_ = kRecKeyBuffer;  // until the next key is in
    // One byte stays free for the terminator: a longer key (a name above
    // kRecNameMax bytes, written by something else) fails with -14 and
    // nothing is copied.
    KeyOut key;
    key.buffer = out;
    key.capacity = kRecKeyBuffer - 1;
    int32_t offset = StoreNextRecord(engine_, &key);
    if (offset == ERR_NOT_FOUND) {
      if (own) keyBufferDirty_ = 0;
      return;
    }
    if (offset < 0) RaiseError(offset == -1 ? ERR_NOT_STORE : offset);
    int n = RecKeyNameLength(out);
    if (n < 0 || n > kRecNameMax || key.length != static_cast<uint32_t>(kRecKeyHeader + n)) {
      RaiseError(ERR_NOT_STORE);
    }
    out[kRecKeyHeader + n] = 0;
    if (own) keyBufferDirty_ = key.length;
    if (recordOffset != nullptr) *recordOffset = offset;
    result = out;
  });
  if (code != 0) {
    std::memset(out, 0, kRecKeyBuffer);
    if (own) keyBufferDirty_ = 0;
    ReportAndRaise(__LINE__, code, "cMf32::RecKeyGetNext");
    return nullptr;
  }
  return result;
}

void* cMf32::RecPut(uint8_t section, const char* name, const void* data, int32_t length,
                    const void* info, int pack, int32_t* storedLength) {
  void* result = nullptr;
  MemPtr<uint8_t> packed;
  int code = Guard([&] {
    if (data == nullptr || length <= 0) RaiseErrorAt(ERR_REC_ARGUMENT, 1, kSrc, __LINE__);
    size_t nameLength = CheckedNameLength(name, __LINE__);
    if (length < 32) pack = PACK_NONE;  // too short to gain anything

    const void* bytes = data;
    int32_t stored = length;
    if (pack == PACK_LZ || pack == PACK_RLE) {
      packed = MemAllocOwned(static_cast<size_t>(length));
      int32_t packedLength = 0;
      int packCode = Guard([&] {
        const uint8_t* src = static_cast<const uint8_t*>(data);
        uint8_t* dst = packed.get();
        packedLength =
            pack == PACK_LZ ? LzPack(src, length, dst, length) : RlePack(src, length, dst, length);
      });
      if (packCode != 0 || packedLength <= 0 || packedLength > length) {
        packed.reset();  // does not fit its own length: kept unpacked
        pack = PACK_NONE;
      } else {
        bytes = packed.get();
        stored = packedLength;
      }
    }

    uint8_t key[kRecKeyBuffer];
    RecKeyMake(key, section, name, nameLength);
    RecKeySetRecord(key, stored, static_cast<uint8_t>(pack), length, info);
    // Any record under the key goes first (a missing one is no error).
    int32_t offset = StoreReplaceRecord(engine_, key, bytes, static_cast<uint32_t>(stored));
    if (offset < 0) RaiseError(ERR_NOT_STORE);  // only without a frame
    if (storedLength != nullptr) *storedLength = stored;
    result = StoreRecordPointer(engine_, offset);
  });
  if (code != 0) {
    ReportRecordAndRaise(__LINE__, code, "RecPut", dataFileName_, section, name);
    return nullptr;
  }
  return result;
}

int32_t cMf32::RecPutNoname(const void* data, int32_t length) {
  int32_t offset = -1;
  int code = Guard([&] {
    if (data == nullptr || length <= 0) RaiseErrorAt(ERR_REC_ARGUMENT, 1, kSrc, __LINE__);
    offset = StorePutRecord(engine_, nullptr, data, static_cast<uint32_t>(length));
    if (offset < 0) RaiseError(ERR_NOT_STORE);
  });
  if (code != 0) {
    ReportAndRaise(__LINE__, code, "cMf32::RecPutNoname");
    return -1;
  }
  return offset;
}

uint8_t* cMf32::RecPtr(int32_t recordOffset) {
  if (!Mapped()) return nullptr;
  // An offset from a record (a font's surface table) is not trusted to lie
  // inside the file; outside it there is no address to give.
  if (recordOffset <= 0 ||
      static_cast<uint32_t>(recordOffset) >= MapLogicalSize(&engine_->heap->file)) {
    return nullptr;
  }
  return StoreRecordPointer(engine_, recordOffset);
}

int cMf32::RecCheck(int32_t recordOffset, uint32_t length) {
  int result = ERR_NOT_STORE;
  int code = Guard([&] { result = HeapCheckRecord(engine_->heap, recordOffset, length); });
  return code != 0 ? code : result;
}

void* cMf32::RecGet(uint8_t section, const char* name, void** buffer, int reportMissing) {
  return GetRecord(section, name, nullptr, 0, buffer, reportMissing);
}

void* cMf32::RecGetAt(const uint8_t* key, int32_t recordOffset) {
  const char* name = RecKeyName(key);
  // RecGet would look up the name up to its first zero byte: another key.
  bool whole = std::strlen(name) == static_cast<size_t>(RecKeyNameLength(key));
  return GetRecord(RecKeySection(key), name, whole ? key : nullptr, recordOffset, nullptr, 1);
}

void* cMf32::GetRecord(uint8_t section, const char* name, const uint8_t* known, int32_t knownOffset,
                       void** buffer, int reportMissing) {
  void* result = nullptr;
  void* allocated = nullptr;  // an output buffer made by this call
  MemPtr<uint8_t> temp;
  int code = Guard([&] {
    size_t nameLength = CheckedNameLength(name, __LINE__);
    uint8_t probe[kRecKeyBuffer];
    int32_t offset = knownOffset;
    if (known != nullptr) {
      std::memcpy(probe, known, kRecKeyHeader);  // the stored header, as a lookup gives it
    } else {
      RecKeyMake(probe, section, name, nameLength);
      offset = StoreGetRecord(engine_, probe, nullptr, 0);
      if (offset == ERR_NOT_FOUND) RaiseErrorAt(ERR_REC_MISSING, 1, kSrc, __LINE__);
      if (offset < 0) RaiseError(offset == -1 ? ERR_NOT_STORE : offset);
    }

    int32_t stored = RecKeyStoredLength(probe);
    int32_t unpacked = RecKeyUnpackedLength(probe);
    uint8_t pack = RecKeyPack(probe);
    bool isPacked = pack == PACK_LZ || pack == PACK_RLE;
    if (stored < 0 || (isPacked && unpacked < 0)) RaiseError(ERR_NOT_STORE);

    // The output buffer: the caller's, or a new one of `size` bytes that is
    // handed back through the caller's buffer when one was given.
    auto output = [&](int32_t size) -> uint8_t* {
      if (buffer != nullptr && *buffer != nullptr) return static_cast<uint8_t*>(*buffer);
      allocated = MemAlloc(static_cast<size_t>(size));
      if (buffer != nullptr) *buffer = allocated;
      return static_cast<uint8_t*>(allocated);
    };
    auto unpack = [&](const uint8_t* src, uint8_t* dst) {
      int32_t got = pack == PACK_LZ ? LzUnpack(src, stored, dst, unpacked)
                                    : RleUnpack(src, stored, dst, unpacked);
      if (got != unpacked) RaiseErrorAt(ERR_REC_LENGTH, 1, kSrc, __LINE__);
    };

    if (Mapped()) {
      // The key's stored length is not trusted to stay inside its block.
      int check = HeapCheckRecord(engine_->heap, offset, static_cast<uint32_t>(stored));
      if (check != 0) RaiseError(check);
      const uint8_t* src = StoreRecordPointer(engine_, offset);
      if (!isPacked) {
        if (buffer == nullptr) {
          result = const_cast<uint8_t*>(src);  // in place, not to be written to
          return;
        }
        uint8_t* dst = output(stored);
        std::memcpy(dst, src, static_cast<size_t>(stored));
        result = dst;
        return;
      }
      uint8_t* dst = output(unpacked);
      unpack(src, dst);
      result = dst;
      return;
    }
    if (!isPacked) {
      uint8_t* dst = output(stored);
      StoreReadRecord(engine_, offset, dst, static_cast<uint32_t>(stored));
      result = dst;
      return;
    }
    temp = MemAllocOwned(static_cast<size_t>(stored));
    StoreReadRecord(engine_, offset, temp.get(), static_cast<uint32_t>(stored));
    uint8_t* dst = output(unpacked);
    unpack(temp.get(), dst);
    result = dst;
  });
  if (code == 0) return result;
  if (allocated != nullptr) {
    if (buffer != nullptr && *buffer == allocated) *buffer = nullptr;
    MemFree(allocated);
  }
  if (code == ERR_REC_MISSING && reportMissing == 0) return nullptr;
  ReportRecordAndRaise(__LINE__, code, "RecGet", dataFileName_, section, name);
  return nullptr;
}

void cMf32::RecMemFree(void** record) {
  if (record == nullptr || *record == nullptr) return;
  int code = Guard([&] {
    if (engine_ == nullptr || !StoreOwnsPointer(engine_, *record)) MemFree(*record);
    *record = nullptr;
  });
  if (code != 0) ReportAndRaise(__LINE__, code, "cMf32::RecMemFree");
}
