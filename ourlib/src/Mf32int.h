// cMf32: the handle through which records are put into and got from a
// record store (an index ".DKX" and a data heap ".DKD", StoreEngine.h).
//
// It adds to the engine the record key (RecKey below), packing on write and
// unpacking on read, replace-on-write, section-filtered iteration and the
// ownership of record memory. Every operation runs under an error frame of
// its own: on a raised code it frees what it took, reports the failure to the
// debug reporter and raises the same code again (RaiseErrorAt, force 0), so
// a caller without a frame gets a failure value back (null, -1 or nothing).
// The update operations use the guarded forms (update/StoreGuarded.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ourlib/src/BTree.h"
#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrorCodes.h"
#include "ourlib/src/PathText.h"

struct StoreEngine;

// The record key: a 24-byte header followed by the name (no terminator in
// the index), little-endian; each field's offset, its size and what it holds.
enum : int {
  kRecKeyAtSection = 0,      // 1   section number (unsigned)
  kRecKeyAtStored = 1,       // 4   stored length: the record's bytes after packing
  kRecKeyAtPack = 5,         // 1   pack method (PACK_LZ, PACK_RLE: packed)
  kRecKeyAtUnpacked = 6,     // 4   unpacked length
  kRecKeyAtInfo = 10,        // 12  info, given by the writer (kRecKeyInfo)
  kRecKeyAtNameLength = 22,  // 2   name length, signed
  kRecKeyAtName = 24,        // ..  the name's bytes (kRecKeyHeader)
};
constexpr int kRecKeyHeader = 24;
constexpr int kRecKeyInfo = 12;
constexpr int kRecNameMax = 512;  // longest name a handle's key buffer holds
constexpr int kRecKeyBuffer = kRecKeyHeader + kRecNameMax + 1;  // 537, with the terminator

// Writes the key of (section, name) into key, which holds at least
// kRecKeyHeader + nameLength bytes: the section and the name length are set,
// the rest of the header is zero. Returns the key's length. The caller keeps
// nameLength within kRecNameMax.
int RecKeyMake(void* key, uint8_t section, const char* name, size_t nameLength);
// Fills in what a record write keeps beside the name: the stored length, the
// pack method, the unpacked length and the 12 info bytes (zero for null).
void RecKeySetRecord(void* key, int32_t stored, uint8_t pack, int32_t unpacked, const void* info);

uint8_t RecKeySection(const void* key);
int32_t RecKeyStoredLength(const void* key);
uint8_t RecKeyPack(const void* key);
int32_t RecKeyUnpackedLength(const void* key);
const uint8_t* RecKeyInfo(const void* key);
int16_t RecKeyNameLength(const void* key);
const char* RecKeyName(const void* key);  // not terminated inside the index

// 24 + name length (a negative, damaged name length counts as 0).
int RecKeyLength(const void* key);
// Section (unsigned), then name length (shorter first), then name bytes
// (unsigned). On equality the stored key's header is copied into the probe,
// which is how a lookup learns the stored length and pack method.
int RecKeyCompare(void* probe, const void* stored);

// The two functions above, inline: the index calls them directly, not
// through its key configuration, when that configuration is RecKeyConfig().
namespace reckey {

inline int Length(const uint8_t* key) {
  int n = GetI16(key + kRecKeyAtNameLength);
  return kRecKeyHeader + (n > 0 ? n : 0);
}

// Eight bytes read so that their order as a number is their order as bytes.
inline uint64_t Ordered64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

inline int Compare(uint8_t* probe, const uint8_t* stored) {
  if (probe[kRecKeyAtSection] != stored[kRecKeyAtSection])
    return probe[kRecKeyAtSection] - stored[kRecKeyAtSection];
  int na = GetI16(probe + kRecKeyAtNameLength);
  int nb = GetI16(stored + kRecKeyAtNameLength);
  if (na != nb) return na - nb;
  const uint8_t* a = probe + kRecKeyHeader;
  const uint8_t* b = stored + kRecKeyHeader;
  int i = 0;
  for (; i + 8 <= na; i += 8) {
    uint64_t x = Ordered64(a + i), y = Ordered64(b + i);
    if (x != y) return x < y ? -1 : 1;
  }
  for (; i < na; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  std::memcpy(probe, stored, kRecKeyHeader);
  return 0;
}

}  // namespace reckey
// The key configuration cMf32 opens its stores with: KEY_CUSTOM with
// RecKeyCompare and RecKeyLength.
const KeyConfig* RecKeyConfig();

// Open modes.
enum : int {
  MFO_READ = 0,           // data file mapped, read-only
  MFO_CREATE = 1,         // both files anew, empty
  MFO_UPDATE = 2,         // open for update, or create when no store is there
  MFO_READ_UNMAPPED = 3,  // read-only, data file read by plain file reads
};

class cMf32 {
 public:
  // A new handle on the store at path (named as StoreFileName says), or null
  // after a raise without a frame. creation is handed to the engine unused.
  static cMf32* Open(const char* path, int mode, int compactOnClose, int32_t creation);

  // `delete handle` closes the store (and rebuilds its index when the handle
  // was opened with compactOnClose). A failure is reported and raised after
  // the handle is freed, so the destructor may throw RaisedError.
  ~cMf32() noexcept(false);

  // Restarts iteration before the first key; filter returns nonzero to skip.
  void ToBeg(KeyFilterFn filter, void* filterData);
  // The next accepted key into keyBuffer (kRecKeyBuffer bytes) or the
  // handle's own buffer, its name followed by a zero byte; null at the end.
  // recordOffset (when given) receives the record offset the key holds.
  uint8_t* RecKeyGetNext(void* keyBuffer, int32_t* recordOffset = nullptr);

  // Stores a record under (section, name), replacing one that is there.
  // info: 12 bytes or null. Returns the stored bytes' address in the view.
  void* RecPut(uint8_t section, const char* name, const void* data, int32_t length,
               const void* info, int pack, int32_t* storedLength);
  // Stores an unnamed record; returns its record offset.
  int32_t RecPutNoname(const void* data, int32_t length);
  // The address of a record offset in the data view; null when unmapped or
  // when the offset lies outside the data file.
  uint8_t* RecPtr(int32_t recordOffset);
  // The record's unpacked bytes: in place for an unpacked record of a mapped
  // store read without a buffer, else in *buffer (allocated there when it
  // holds null) or a new buffer. A miss with reportMissing 0 is null, quietly.
  void* RecGet(uint8_t section, const char* name, void** buffer, int reportMissing);
  // RecGet (no buffer, misses reported) of the key RecKeyGetNext has just
  // given, whose record offset it gave with it: the key is not looked up
  // again (unless its name holds a zero byte, which RecGet's name cannot).
  void* RecGetAt(const uint8_t* key, int32_t recordOffset);
  // Gives back a record pointer from RecGet: frees heap buffers, forgets
  // addresses inside the store's views; *record becomes null.
  void RecMemFree(void** record);

  // 0 when recordOffset is a used block holding at least length bytes.
  int RecCheck(int32_t recordOffset, uint32_t length);

  const char* DataFileName() const { return dataFileName_; }
  StoreEngine* Engine() const { return engine_; }
  bool Mapped() const;

  static void* operator new(size_t size);  // zero-filled; raises -2
  static void operator delete(void* p);

  cMf32(const cMf32&) = delete;
  cMf32& operator=(const cMf32&) = delete;

 private:
  cMf32() = default;
  // RecGet; with `known` (a stored key's header) the record is the one at
  // knownOffset and no lookup is made.
  void* GetRecord(uint8_t section, const char* name, const uint8_t* known, int32_t knownOffset,
                  void** buffer, int reportMissing);

  StoreEngine* engine_ = nullptr;
  KeyConfig keyConfig_;
  int compactOnClose_ = 0;
  uint8_t keyBuffer_[kRecKeyBuffer] = {};
  uint32_t keyBufferDirty_ = 0;  // keyBuffer_ is zero from here on
  char dataFileName_[kPathField] = {};
};
