#include "tools/updkit/PackageBuild.h"

#include <algorithm>
#include <cstring>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"

namespace pkgbuild {

namespace {

bool SetText(char* field, const std::string& text) {
  if (text.size() >= pkg::kTextField) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

// Reads the file's chunks one at a time: calls chunk(bytes, length) for each.
template <class F>
int ForEachChunk(plat::File& file, uint32_t capacity, uint8_t* buffer, F&& chunk) {
  if (file.Seek(0) != 0) return kReadFailed;
  for (;;) {
    uint32_t filled = 0;
    while (filled < capacity) {
      uint32_t got = 0;
      if (file.Read(buffer + filled, capacity - filled, &got) != 0) return kReadFailed;
      if (got == 0) break;
      filled += got;
    }
    if (filled == 0) return 0;
    if (int rc = chunk(buffer, filled)) return rc;
    if (filled < capacity) return 0;
  }
}

// The buffers of one file's chunks: the bytes read, their packed form (up to
// twice the chunk size, the installer's input buffer) and the check that the
// packed form unpacks to them.
struct ChunkBuffers {
  explicit ChunkBuffers(uint32_t capacity)
      : capacity(capacity),
        raw(MemAllocOwned(capacity)),
        packed(MemAllocOwned(2 * size_t{capacity})),
        check(MemAllocOwned(capacity)) {}
  bool ok() const { return raw && packed && check; }

  // Packs one chunk into packed: its length, 0 when it does not fit, or
  // kPackerFault when the packed chunk does not unpack to its bytes.
  int32_t Pack(const uint8_t* bytes, uint32_t length) {
    int32_t n = 0;
    if (Guard([&] {
          n = LzPack(bytes, static_cast<int32_t>(length), packed.get(),
                     static_cast<int32_t>(2 * capacity));
        }) != 0) {
      return 0;
    }
    int32_t back = 0;
    if (Guard([&] {
          back = LzUnpack(packed.get(), n, check.get(), static_cast<int32_t>(capacity));
        }) != 0 ||
        back != static_cast<int32_t>(length) || std::memcmp(bytes, check.get(), length) != 0) {
      return kPackerFault;
    }
    return n;
  }

  uint32_t capacity;
  MemPtr<uint8_t> raw, packed, check;
};

}  // namespace

bool FileEntry(const std::string& rel, uint8_t chunkKiB, pkg::Entry* entry) {
  *entry = pkg::Entry();
  entry->chunkKiB = chunkKiB;
  entry->typeMask = kAllInstallTypes;
  const size_t cut = rel.find_last_of('\\');
  const std::string folder = cut == std::string::npos ? "" : rel.substr(0, cut);
  const std::string name = cut == std::string::npos ? rel : rel.substr(cut + 1);
  entry->hasFolder = !folder.empty();
  return SetText(entry->name, name) && SetText(entry->folder, folder);
}

bool EmptyEntry(const std::string& folder, pkg::Entry* entry) {
  *entry = pkg::Entry();
  entry->typeMask = kAllInstallTypes;
  SetText(entry->name, pkg::kEmptyName);
  entry->hasFolder = !folder.empty();
  return SetText(entry->folder, folder);
}

int TryLz(plat::File& file, uint32_t capacity, LzTrial* trial, const ChunkDone& done,
          uint64_t keepUpTo) {
  *trial = LzTrial();
  ChunkBuffers b(capacity);
  if (!b.ok()) return kNoMemory;
  bool keep = keepUpTo > 0;
  const int rc =
      ForEachChunk(file, capacity, b.raw.get(), [&](const uint8_t* bytes, uint32_t n) -> int {
        int32_t p = b.Pack(bytes, n);
        if (p < 0) return kPackerFault;
        trial->allChunksPack = trial->allChunksPack && p > 0;
        trial->raw += n;
        trial->packed += p > 0 ? static_cast<uint32_t>(p) : n;
        keep = keep && p > 0 && trial->packed <= keepUpTo;
        if (keep) {
          trial->kept.insert(trial->kept.end(), b.packed.get(), b.packed.get() + p);
          trial->keptSizes.push_back(static_cast<uint32_t>(p));
        } else if (!trial->kept.empty()) {
          trial->DropKept();
        }
        if (done) done(n);
        return 0;
      });
  if (rc != 0 || !trial->Pays()) trial->DropKept();
  return rc;
}

int WriteKept(pkg::Writer& writer, const LzTrial& trial, pkg::Entry entry) {
  entry.packed = true;
  entry.chunkSizes = trial.keptSizes;
  size_t at = 0;
  for (uint32_t n : trial.keptSizes) {
    if (writer.WriteChunk(trial.kept.data() + at, n) != 0) return kWriteFailed;
    at += n;
  }
  writer.AddEntry(entry);
  return 0;
}

int WriteFile(pkg::Writer& writer, plat::File& file, pkg::Entry entry, const ChunkDone& done) {
  ChunkBuffers b(entry.ChunkCapacity());
  if (!b.ok()) return kNoMemory;
  entry.chunkSizes.clear();
  int rc =
      ForEachChunk(file, b.capacity, b.raw.get(), [&](const uint8_t* bytes, uint32_t n) -> int {
        const uint32_t read = n;
        if (entry.packed) {
          int32_t p = b.Pack(bytes, n);
          if (p <= 0) return kPackerFault;
          bytes = b.packed.get();
          n = static_cast<uint32_t>(p);
        }
        if (writer.WriteChunk(bytes, n) != 0) return kWriteFailed;
        entry.chunkSizes.push_back(n);
        if (done) done(read);
        return 0;
      });
  if (rc != 0) return rc;
  writer.AddEntry(entry);
  return 0;
}

int WritePacked(pkg::Writer& writer, plat::File& file, pkg::Entry entry, const ChunkDone& done) {
  constexpr int kDoesNotPay = 1;
  ChunkBuffers b(entry.ChunkCapacity());
  if (!b.ok()) return kNoMemory;
  const uint64_t start = writer.offset();
  entry.packed = true;
  entry.chunkSizes.clear();
  LzTrial trial;
  int rc =
      ForEachChunk(file, b.capacity, b.raw.get(), [&](const uint8_t* bytes, uint32_t n) -> int {
        const int32_t p = b.Pack(bytes, n);
        if (p < 0) return kPackerFault;
        if (p == 0) return kDoesNotPay;
        if (writer.WriteChunk(b.packed.get(), static_cast<uint32_t>(p)) != 0) return kWriteFailed;
        entry.chunkSizes.push_back(static_cast<uint32_t>(p));
        trial.raw += n;
        trial.packed += static_cast<uint32_t>(p);
        if (done) done(n);
        return 0;
      });
  if (rc == 0 && !trial.Pays()) rc = kDoesNotPay;
  if (rc == 0) writer.AddEntry(entry);
  if (rc != kDoesNotPay) return rc;
  // Again stored; the bytes already shown as done are not shown twice.
  if (writer.Rewind(start) != 0) return kWriteFailed;
  entry.packed = false;
  uint64_t seen = 0;
  return WriteFile(writer, file, entry, [&](uint32_t n) {
    const uint64_t before = seen;
    seen += n;
    if (done && seen > trial.raw) done(static_cast<uint32_t>(seen - std::max(before, trial.raw)));
  });
}

}  // namespace pkgbuild
