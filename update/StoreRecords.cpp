// CopyStoreRecords: operation 1, the record update of a game's record store.
// Every keyed record of the shipped store, section by section (0..254), is
// written into the game's store under the same key; fonts (section 3) bring
// their surfaces along, copied first, with the font table rewritten to point
// to the copies. The records are written into copies of the game's store
// files that replace them only once all went well (StoreChange), so a failed,
// cancelled or killed update leaves the store as it was.
#include <cstring>
#include <memory>
#include <vector>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "platform/Env.h"
#include "update/DibSize.h"
#include "update/MessageNumbers.h"
#include "update/Operations.h"
#include "update/StoreGuarded.h"
#include "update/StoreRecordsInPlace.h"

namespace {

constexpr int kSurfaceOffsets = 2;  // the table's offsets follow its 16-bit count

// Counters wrap as the 32-bit words they are; no signed overflow.
int32_t AddWrapping(int32_t counter, uint32_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + n);
}

// One operation's state: both stores, the record held and the font table.
// Everything is given back on every way out; the source is closed first, and
// a destination that was not finished is left as it was.
class RecordCopy {
 public:
  // whole: through copies of the destination (StoreChange); otherwise
  // straight into the destination's own files.
  RecordCopy(ProgressSink& ui, const char* source, const char* destination, bool whole)
      : ui_(ui), source_(source), destination_(destination), whole_(whole) {}
  RecordCopy(const RecordCopy&) = delete;
  RecordCopy& operator=(const RecordCopy&) = delete;
  ~RecordCopy() {
    ReleaseRecord();
    src_.Close();
  }

  int Run();

 private:
  int Fail(int message, const char* extra) {
    ui_.ScriptError(message, 0, extra);
    return -1;
  }
  // Drains messages and tests the cancel flag: a check point.
  bool CheckPoint() {
    ui_.Pump();
    if (!ui_.Cancelled()) return true;
    ui_.ScriptError(MSG_USER_BREAK, 0, "");
    return false;
  }
  void CountUnit(uint32_t bytes) {
    RunCounters& c = ui_.Counters();
    c.units = AddWrapping(c.units, 1);
    c.bytes = AddWrapping(c.bytes, bytes);
    units_ = AddWrapping(units_, 1);
    bytes_ = AddWrapping(bytes_, bytes);
  }
  void SendProgress() {
    RunCounters& c = ui_.Counters();
    ui_.Progress(ProgressInfo{c.units, c.bytes, -1, nullptr, nullptr});
  }
  void ReleaseRecord() {
    GuardedRecMemFree(src_.get(), &record_);
    MemFreeNull(fontTable_);
  }
  // Closes both stores (the source first) and, when the destination was
  // changed on copies, puts them in its place; false when the destination
  // could not be closed cleanly or replaced.
  bool Finish() {
    ReleaseRecord();
    src_.Close();
    return dst_.Close() == 0;
  }

  int CopySections();
  int CopyRecord(uint8_t section, const uint8_t* key, int32_t recordOffset);
  int CheckSurfaces(const uint8_t* table, int count, int32_t* lengths);
  int CopySurfaces(const char* name, int count, const int32_t* lengths);

  ProgressSink& ui_;
  const char* source_;
  const char* destination_;
  const bool whole_;
  StoreHandle src_;
  StoreHandle dst_;
  void* record_ = nullptr;        // from RecGet on the source
  uint8_t* fontTable_ = nullptr;  // the rewritten copy of a font record
  int32_t units_ = 0;
  int32_t bytes_ = 0;
};

int RecordCopy::Run() {
  if (src_.Open(source_, MFO_READ) != 0) return Fail(MSG_ERROR_OPEN_FILE, source_);
  {
    // Operation 1 creates no store: the game's own must be there already.
    std::unique_ptr<plat::File> probe;
    if (plat::Env::Default()->Open(destination_, plat::Access::Read, plat::Share::Read,
                                   plat::Disposition::OpenExisting, 0, &probe) != 0) {
      return Fail(MSG_ERROR_OPEN_FILE, destination_);
    }
  }
  // Opening for update would create a new, empty store in place of a file
  // that is no store (or an index whose data file is gone), losing its keys.
  unsigned options = StoreHandle::kExisting;
  if (!whole_) options |= StoreHandle::kInPlace;
  if (dst_.Open(destination_, MFO_UPDATE, 0, options) != 0)
    return Fail(MSG_ERROR_OPEN_FILE, destination_);
  if (!CheckPoint()) return -1;

  if (CopySections() != 0) return -1;

  LogFormatted(ui_, "Units updated = %d, Bytes updated = %d", static_cast<int>(units_),
               static_cast<int>(bytes_));
  if (!CheckPoint()) return -1;
  // A destination whose index or header could not be written back is not
  // updated, whatever the records said.
  if (!Finish()) return Fail(MSG_ERROR_WRITING_FILE, destination_);
  return 0;
}

// Sections 0 to 254 in turn, in one ordered pass over the shipped keys:
// they are in section order, so the pass meets the keys of each section
// together and in key order, as a pass per section would, and each section
// still has its check point where its pass would begin.
int RecordCopy::CopySections() {
  int next = 0;  // the first section whose pass has not begun
  // Begins the passes of the sections up to `last`; false after a failure.
  auto begin = [&](int last) {
    for (; next <= last; ++next) {
      if (!CheckPoint()) return false;
      if (next == 0 && GuardedToBeg(src_.get(), nullptr, nullptr) == 0) {
        Fail(MSG_ERROR_OPEN_FILE, source_);
        return false;
      }
    }
    return true;
  };
  if (!begin(0)) return -1;
  for (;;) {
    int error = 0;
    int32_t offset = 0;
    const uint8_t* key = GuardedRecKeyGetNext(src_.get(), &error, &offset);
    if (key == nullptr) {
      // An iteration that fails (a damaged index, a name longer than a key
      // buffer holds) is a read failure, not the end of the keys.
      if (error != 0) return Fail(MSG_ERROR_READING_FILE, source_);
      break;
    }
    const int section = RecKeySection(key);
    if (section == SECTION_ALL) break;  // never copied, and the last section
    // A key of a section passed already: an index out of key order.
    if (section < next - 1) return Fail(MSG_ERROR_READING_FILE, source_);
    if (!begin(section) || !CheckPoint()) return -1;
    if (CopyRecord(static_cast<uint8_t>(section), key, offset) != 0) return -1;
  }
  return begin(SECTION_ALL - 1) ? 0 : -1;
}

int RecordCopy::CopyRecord(uint8_t section, const uint8_t* key, int32_t recordOffset) {
  const char* name = RecKeyName(key);
  const int32_t length = RecKeyUnpackedLength(key);
  const uint8_t pack = RecKeyPack(key);

  // The record offset came with the key: no second lookup.
  record_ = GuardedRecGetAt(src_.get(), key, recordOffset);
  if (record_ == nullptr) return Fail(MSG_ERROR_READING_FILE, source_);
  // An unpacked record is handed over in place: its key must not claim more
  // bytes than the data file holds for it.
  if (length < 0 || (pack != PACK_LZ && pack != PACK_RLE && length > RecKeyStoredLength(key))) {
    return Fail(MSG_ERROR_READING_FILE, source_);
  }

  const void* data = record_;
  if (section == SECTION_FONT) {
    fontTable_ = static_cast<uint8_t*>(GuardedAlloc(static_cast<size_t>(length)));
    if (fontTable_ == nullptr) return Fail(MSG_NOT_ENOUGH_MEMORY, "");
    std::memcpy(fontTable_, record_, static_cast<size_t>(length));
    int count = 0;
    if (length >= kSurfaceOffsets) {
      count = GetI16(fontTable_);
    }
    if (count > 0) {
      // Every surface is checked before the first is written, so a damaged
      // font leaves nothing of itself in the destination.
      if (kSurfaceOffsets + 4 * static_cast<int64_t>(count) > length) {
        return Fail(MSG_ERROR_READING_FILE, source_);
      }
      std::vector<int32_t> lengths(static_cast<size_t>(count));
      if (CheckSurfaces(fontTable_, count, lengths.data()) != 0) return -1;
      if (CopySurfaces(name, count, lengths.data()) != 0) return -1;
    }
    data = fontTable_;
  }

  if (!CheckPoint()) return -1;
  if (GuardedRecPut(dst_.get(), section, name, data, length, RecKeyInfo(key), pack, nullptr) ==
      nullptr) {
    return Fail(MSG_ERROR_WRITING_FILE, destination_);
  }
  CountUnit(static_cast<uint32_t>(length));
  LogFormatted(ui_, "Sect = %s, Name = %s, len = %d, pack = %d", SectionName(section), name,
               static_cast<int>(length), static_cast<int>(pack));
  SendProgress();
  if (!CheckPoint()) return -1;
  ReleaseRecord();
  return 0;
}

// Finds each surface of a font table and its length: a used block of the
// source that holds a whole bitmap header and the bitmap it describes.
int RecordCopy::CheckSurfaces(const uint8_t* table, int count, int32_t* lengths) {
  for (int i = 0; i < count; ++i) {
    int32_t offset = GetI32(table + kSurfaceOffsets + 4 * i);
    const uint8_t* surface = GuardedRecPtr(src_.get(), offset);
    if (surface == nullptr || src_->RecCheck(offset, kDibHeaderSize) != 0) {
      return Fail(MSG_ERROR_READING_FILE, source_);
    }
    int64_t size = DibSize(surface);
    if (size < kDibHeaderSize || src_->RecCheck(offset, static_cast<uint32_t>(size)) != 0) {
      return Fail(MSG_ERROR_READING_FILE, source_);
    }
    lengths[i] = static_cast<int32_t>(size);
  }
  return 0;
}

int RecordCopy::CopySurfaces(const char* name, int count, const int32_t* lengths) {
  for (int i = 0; i < count; ++i) {
    uint8_t* slot = fontTable_ + kSurfaceOffsets + 4 * i;
    const uint8_t* surface = GuardedRecPtr(src_.get(), GetI32(slot));
    if (surface == nullptr) return Fail(MSG_ERROR_READING_FILE, source_);
    int32_t copy = GuardedRecPutNoname(dst_.get(), surface, lengths[i]);
    if (copy == -1) return Fail(MSG_ERROR_WRITING_FILE, destination_);
    PutI32(slot, copy);
    if (!CheckPoint()) return -1;
    CountUnit(static_cast<uint32_t>(lengths[i]));
    LogFormatted(ui_, "For FNT %s, surf = %d, len = %d", name, i, static_cast<int>(lengths[i]));
    SendProgress();
    ui_.Pump();
  }
  return 0;
}

}  // namespace

int CopyStoreRecords(ProgressSink& ui, const char* source, const char* destination) {
  RecordCopy copy(ui, source, destination, true);
  return copy.Run();
}

int CopyStoreRecordsInPlace(ProgressSink& ui, const char* source, const char* destination) {
  RecordCopy copy(ui, source, destination, false);
  return copy.Run();
}
