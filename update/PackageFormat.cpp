#include "update/PackageFormat.h"

#include <cstring>
#include <memory>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "platform/CodePage.h"
#include "platform/Env.h"

namespace pkg {

namespace {

// Copies a zero-terminated field; false when the field holds no terminator.
bool GetText(const uint8_t* field, char* out) {
  const void* end = std::memchr(field, 0, kTextField);
  if (end == nullptr) return false;
  std::memcpy(out, field, static_cast<const uint8_t*>(end) - field + 1);
  return true;
}

// Reads exactly n bytes; false on an error or a short read.
bool ReadExact(plat::File& file, void* buf, uint32_t n) {
  uint32_t got = 0;
  return file.Read(buf, n, &got) == 0 && got == n;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}
// Days from 1601-01-01 to the given date (proleptic Gregorian).
int64_t DaysSince1601(int year, int month, int day) {
  int64_t y = year - 1601;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kMsPerDay = 86400000;

}  // namespace

bool Entry::IsEmpty() const { return std::strcmp(name, kEmptyName) == 0; }
bool Entry::InSystemFolder() const { return std::strcmp(folder, kSystemFolderName) == 0; }
uint64_t Entry::StoredSize() const {
  uint64_t total = 0;
  for (uint32_t s : chunkSizes) total += s;
  return total;
}

bool DecodeEntry(const uint8_t* bytes, uint64_t length, Entry* out) {
  if (length < kEntryChunkSizes) return false;
  uint32_t count = GetU32(bytes + kEntryChunkCount);
  if (uint64_t{count} > (length - kEntryChunkSizes) / 4) return false;
  out->packed = bytes[kEntryPacked] != 0;
  out->chunkKiB = bytes[kEntryChunkKiB];
  if (!GetText(bytes + kEntryName, out->name)) return false;
  out->hasFolder = bytes[kEntryHasFolder] != 0;
  if (!GetText(bytes + kEntryFolder, out->folder)) return false;
  out->typeMask = GetU32(bytes + kEntryTypeMask);
  const uint8_t* t = bytes + kEntryTime;
  out->time = SystemTime{GetU16(t),     GetU16(t + 2),  GetU16(t + 4),  GetU16(t + 6),
                         GetU16(t + 8), GetU16(t + 10), GetU16(t + 12), GetU16(t + 14)};
  out->chunkSizes.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    out->chunkSizes[i] = GetU32(bytes + kEntryChunkSizes + 4 * i);
  return true;
}

std::vector<uint8_t> EncodeEntry(const Entry& entry) {
  std::vector<uint8_t> b(kEntryChunkSizes + 4 * entry.chunkSizes.size(), 0);
  b[kEntryPacked] = entry.packed ? 1 : 0;
  b[kEntryChunkKiB] = entry.chunkKiB;
  std::memcpy(&b[kEntryName], entry.name, strnlen(entry.name, kTextField - 1));
  b[kEntryHasFolder] = entry.hasFolder ? 1 : 0;
  std::memcpy(&b[kEntryFolder], entry.folder, strnlen(entry.folder, kTextField - 1));
  PutU32(&b[kEntryTypeMask], entry.typeMask);
  const SystemTime& t = entry.time;
  const uint16_t fields[8] = {t.year, t.month,  t.dayOfWeek, t.day,
                              t.hour, t.minute, t.second,    t.milliseconds};
  for (int i = 0; i < 8; ++i) PutU16(&b[kEntryTime + 2 * i], fields[i]);
  PutU32(&b[kEntryChunkCount], static_cast<uint32_t>(entry.chunkSizes.size()));
  for (size_t i = 0; i < entry.chunkSizes.size(); ++i)
    PutU32(&b[kEntryChunkSizes + 4 * i], entry.chunkSizes[i]);
  return b;
}

int ReadDirectory(plat::File& file, uint64_t size, std::vector<Entry>* entries) {
  entries->clear();
  if (size < kDataStart + kTrailerSize) return INSTALL_READ_FAILED;
  uint8_t trailer[kTrailerSize];
  if (file.Seek(size - kTrailerSize) != 0 || !ReadExact(file, trailer, kTrailerSize))
    return INSTALL_READ_FAILED;
  const uint64_t dirOffset = GetU32(trailer);
  const uint32_t count = GetU32(trailer + 4);
  const uint64_t dirEnd = size - kTrailerSize;
  if (dirOffset < kDataStart || dirOffset > dirEnd) return INSTALL_READ_FAILED;
  // Every slot takes at least its 4-byte length: a count beyond that is a lie
  // that must not size anything.
  if (uint64_t{count} > (dirEnd - dirOffset) / 4) return INSTALL_READ_FAILED;
  if (file.Seek(dirOffset) != 0) return INSTALL_READ_FAILED;

  entries->reserve(count);
  uint64_t pos = dirOffset;
  uint64_t data = kDataStart;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t lengthBytes[4];
    if (dirEnd - pos < 4 || !ReadExact(file, lengthBytes, 4)) return INSTALL_READ_FAILED;
    pos += 4;
    const uint32_t length = GetU32(lengthBytes);
    if (length > dirEnd - pos) return INSTALL_READ_FAILED;
    MemPtr<uint8_t> bytes = MemAllocOwned(length);
    if (!bytes) return INSTALL_NO_MEMORY;
    if (!ReadExact(file, bytes.get(), length)) return INSTALL_READ_FAILED;
    pos += length;

    Entry entry;
    if (!DecodeEntry(bytes.get(), length, &entry)) return INSTALL_READ_FAILED;
    entry.dataOffset = data;
    if (!entry.IsEmpty()) {
      if (!entry.chunkSizes.empty() && entry.chunkKiB == 0) return INSTALL_READ_FAILED;
      // The installer reads a chunk into an input buffer of twice the chunk
      // size and a stored chunk is written as it is, so a chunk must unpack
      // within the chunk size.
      const uint32_t limit = entry.packed ? 2 * entry.ChunkCapacity() : entry.ChunkCapacity();
      for (uint32_t s : entry.chunkSizes) {
        if (s > limit) return INSTALL_READ_FAILED;
      }
      data += entry.StoredSize();
      if (data > dirOffset) return INSTALL_READ_FAILED;
    }
    entries->push_back(std::move(entry));
  }
  return 0;
}

int Writer::Put(const void* bytes, uint32_t length) {
  uint32_t put = 0;
  int rc = file_.Write(bytes, length, &put);
  if (rc == 0 && put != length) rc = ERR_PACKAGE_WRITE;
  offset_ += put;
  return rc;
}

int Writer::Begin() {
  uint8_t header[kDataStart] = {'P', 'Q'};
  return Put(header, kDataStart);
}

int Writer::WriteChunk(const uint8_t* bytes, uint32_t length) { return Put(bytes, length); }

int Writer::Rewind(uint64_t offset) {
  if (int rc = file_.Seek(offset)) return rc;
  offset_ = offset;
  rewound_ = true;
  return 0;
}

int Writer::Finish() {
  if (offset_ > UINT32_MAX) return ERR_PACKAGE_WRITE;  // the trailer holds a 32-bit offset
  const uint32_t dirOffset = static_cast<uint32_t>(offset_);
  for (const Entry& e : entries_) {
    std::vector<uint8_t> bytes = EncodeEntry(e);
    uint8_t length[4];
    PutU32(length, static_cast<uint32_t>(bytes.size()));
    if (int rc = Put(length, 4)) return rc;
    if (int rc = Put(bytes.data(), static_cast<uint32_t>(bytes.size()))) return rc;
  }
  uint8_t trailer[kTrailerSize];
  PutU32(trailer, dirOffset);
  PutU32(trailer + 4, static_cast<uint32_t>(entries_.size()));
  if (int rc = Put(trailer, kTrailerSize)) return rc;
  return rewound_ ? file_.SetEnd() : 0;
}

int64_t UnpackedSize(plat::File& file, const Entry& e) {
  if (!e.packed) return static_cast<int64_t>(e.StoredSize());
  const uint32_t capacity = e.ChunkCapacity();
  std::vector<uint8_t> in(2 * size_t{capacity}), out(capacity);
  if (file.Seek(e.dataOffset) != 0) return -1;
  int64_t total = 0;
  for (uint32_t stored : e.chunkSizes) {
    uint32_t got = 0;
    int32_t n = 0;
    if (file.Read(in.data(), stored, &got) != 0 || got != stored ||
        Guard([&] {
          n = LzUnpack(in.data(), static_cast<int32_t>(stored), out.data(),
                       static_cast<int32_t>(capacity));
        }) != 0) {
      return -1;
    }
    total += n;
  }
  return total;
}

SystemTime InstallTime(const SystemTime& time) {
  SystemTime t = time;
  if (t.hour >= 4) t.hour = static_cast<uint16_t>(t.hour - 4);
  return t;
}

bool SystemTimeToFileTime(const SystemTime& t, uint64_t* fileTime) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999) {
    return false;
  }
  const uint64_t days = static_cast<uint64_t>(DaysSince1601(t.year, t.month, t.day));
  const uint64_t ms =
      days * kMsPerDay + ((t.hour * 60u + t.minute) * 60u + t.second) * 1000u + t.milliseconds;
  *fileTime = ms * kTicksPerMs;
  return true;
}

SystemTime FileTimeToSystemTime(uint64_t fileTime) {
  SystemTime t;
  const uint64_t ms = fileTime / kTicksPerMs;
  uint64_t days = ms / kMsPerDay;
  uint64_t rest = ms % kMsPerDay;
  t.dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  t.milliseconds = static_cast<uint16_t>(rest % 1000);
  rest /= 1000;
  t.second = static_cast<uint16_t>(rest % 60);
  t.minute = static_cast<uint16_t>(rest / 60 % 60);
  t.hour = static_cast<uint16_t>(rest / 3600);
  int year = 1601;
  for (;;) {
    const uint64_t inYear = IsLeap(year) ? 366 : 365;
    if (days < inYear) break;
    days -= inYear;
    ++year;
  }
  int month = 1;
  while (days >= static_cast<uint64_t>(DaysInMonth(year, month)))
    days -= DaysInMonth(year, month++);
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(days + 1);
  return t;
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Calls part(begin, length) for each separator-delimited part of text, a
// whole character at a time; stops and returns false when part does.
template <class F>
bool ForEachPart(const char* text, F&& part) {
  const char* begin = text;
  const char* p = text;
  for (;;) {
    if (*p == '\0' || IsSeparator(*p)) {
      if (!part(begin, static_cast<size_t>(p - begin))) return false;
      if (*p == '\0') return true;
      begin = ++p;
      continue;
    }
    p += (plat::IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') ? 2 : 1;
  }
}

bool HasColon(const char* text) {
  for (const char* p = text; *p != '\0';) {
    if (*p == ':') return true;
    p += (plat::IsLeadByte(static_cast<uint8_t>(*p)) && p[1] != '\0') ? 2 : 1;
  }
  return false;
}

// A part made of dots and blanks only: Windows may read "..." or ".. " as a
// step up, so only a plain "." is ever let through (and only in folders).
bool OnlyDots(const char* part, size_t n) {
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    if (part[i] != '.' && part[i] != ' ') return false;
  }
  return true;
}

}  // namespace

bool SafeEntryName(const char* name) {
  if (HasColon(name)) return false;
  int parts = 0;
  bool dots = false;
  ForEachPart(name, [&](const char* part, size_t n) {
    ++parts;
    dots = dots || OnlyDots(part, n);
    return true;
  });
  return parts == 1 && !dots;
}

bool SafeEntryFolder(const char* folder) {
  if (IsSeparator(folder[0]) || HasColon(folder)) return false;
  int depth = 0;
  return ForEachPart(folder, [&](const char* part, size_t n) {
    if (n == 2 && part[0] == '.' && part[1] == '.') return --depth >= 0;
    if (n == 1 && part[0] == '.') return true;
    if (OnlyDots(part, n)) return false;
    if (n > 0) ++depth;
    return true;
  });
}

}  // namespace pkg
