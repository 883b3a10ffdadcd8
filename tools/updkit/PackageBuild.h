// Files into "PQ" update packages, as `updkit pkg build` and `updkit dist
// make` write them: an entry per file with its folder and time, its chunks
// packed with PACK_LZ when packing pays, "*EMPTY" entries for folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "update/PackageFormat.h"

namespace pkgbuild {

constexpr uint8_t kDefaultChunkKiB = 32;
constexpr uint32_t kAllInstallTypes = 0xFF;

// What a failed step found.
enum : int {
  kReadFailed = -1,   // the file could not be read
  kPackerFault = -2,  // a packed chunk does not unpack to its bytes
  kWriteFailed = -3,  // the package could not be written
  kNoMemory = -4,     // no memory for the chunk buffers
};

// The entry of the file at package path rel ("a\\b.txt": folder "a", name
// "b.txt"; no folder without a backslash), installed for every installation
// type, chunks of chunkKiB KiB, the time left to the caller. False when the
// name or the folder does not fit its 260-byte field.
bool FileEntry(const std::string& rel, uint8_t chunkKiB, pkg::Entry* entry);
// An "*EMPTY" entry that makes folder (relative, backslashes; "" for the
// destination folder itself). False when the folder does not fit its field.
bool EmptyEntry(const std::string& folder, pkg::Entry* entry);

// How the file's chunks of capacity bytes pack with PACK_LZ: the bytes read
// and the bytes they pack to (the bytes read when a chunk does not pack
// within the installer's input buffer of twice the chunk size).
struct LzTrial {
  uint64_t raw = 0;
  uint64_t packed = 0;
  bool allChunksPack = true;
  // Packing pays when every chunk packs and together they are smaller.
  bool Pays() const { return allChunksPack && raw > 0 && packed < raw; }
  // The packed chunks one after another, and their sizes, when TryLz was
  // asked to keep them and packing pays; empty otherwise.
  std::vector<uint8_t> kept;
  std::vector<uint32_t> keptSizes;
  // Lets the kept chunks go, memory included.
  void DropKept() {
    kept = std::vector<uint8_t>();
    keptSizes = std::vector<uint32_t>();
  }
};
// Called with the bytes of each chunk read, for a progress display.
using ChunkDone = std::function<void(uint32_t bytes)>;

// Packs every chunk of file once without writing anything: 0, kReadFailed,
// kPackerFault or kNoMemory. The packed chunks are kept in the trial when
// packing pays and they come to at most keepUpTo bytes, so that WriteKept
// need not pack the file again.
int TryLz(plat::File& file, uint32_t capacity, LzTrial* trial, const ChunkDone& done = nullptr,
          uint64_t keepUpTo = 0);

// Writes the file's chunks into the package, packed when entry.packed is
// set (every chunk must then pack: TryLz said so), and adds the entry with
// its chunk sizes: 0 or a code above.
int WriteFile(pkg::Writer& writer, plat::File& file, pkg::Entry entry,
              const ChunkDone& done = nullptr);

// Writes the chunks a trial kept (of chunks of entry.ChunkCapacity() bytes)
// and adds the file's entry, packed: 0 or kWriteFailed.
int WriteKept(pkg::Writer& writer, const LzTrial& trial, pkg::Entry entry);

// Writes the file's chunks packed in one pass, and adds the entry: when a
// chunk does not pack within twice the chunk size or packing does not pay
// (LzTrial::Pays), the chunks written are dropped and the file is written
// again stored. 0 or a code above.
int WritePacked(pkg::Writer& writer, plat::File& file, pkg::Entry entry,
                const ChunkDone& done = nullptr);

}  // namespace pkgbuild
