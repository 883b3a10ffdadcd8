// The "PQ" update package: a file that holds any number of files, each with
// its own target folder, file time and optional PACK_LZ packing.
//
//   0     "PQ"
//   2     81 bytes the installer never reads (zeros from our writer)
//   83    file data: every entry's chunks in directory order ("*EMPTY"
//         entries have none), each exactly its stored size long
//   dir   directory: per entry a u32 length, then that many entry bytes
//   end-8 u32 directory offset, u32 entry count
//
// All integers are little-endian. The reader trusts nothing it reads: every
// offset, length and count is checked against the file and the entry before
// it is used, so that a damaged package is refused before anything is read
// into a buffer or written to disk.
#pragma once

#include <cstdint>
#include <vector>

#include "ourlib/src/ErrorCodes.h"

namespace plat {
class File;
}

namespace pkg {

constexpr uint32_t kDataStart = 83;
constexpr uint32_t kTrailerSize = 8;
constexpr uint32_t kTextField = 260;

// One directory entry: each field's offset, its size and what it holds.
// Bytes 0..3 and 551..554 are not read (the installer keeps pointers there).
enum : uint32_t {
  kEntryPacked = 4,        // 1    nonzero: every chunk is PACK_LZ-packed
  kEntryChunkKiB = 5,      // 1    a chunk unpacks to at most this many KiB
  kEntryName = 6,          // 260  file name, zero-terminated; kEmptyName: no file
  kEntryHasFolder = 266,   // 1    nonzero: the folder is appended to the destination
  kEntryFolder = 267,      // 260  folder, zero-terminated; kSystemFolderName
  kEntryTypeMask = 527,    // 4    installation types (read; every entry is installed)
  kEntryTime = 531,        // 16   file time: a SYSTEMTIME's eight 16-bit fields
  kEntryChunkCount = 547,  // 4    number of chunks
  kEntryChunkSizes = 555,  // 4 each, the stored chunk sizes; = the fixed part's length
};

// The name of an entry that only creates its folder, and the folder that
// stands for the Windows system folder. Both compared byte for byte.
constexpr char kEmptyName[] = "*EMPTY";
constexpr char kSystemFolderName[] = "*WINSYSTEM";

// A Windows SYSTEMTIME: the entry's file time as local clock fields.
struct SystemTime {
  uint16_t year = 1601;
  uint16_t month = 1;
  uint16_t dayOfWeek = 1;
  uint16_t day = 1;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

struct Entry {
  bool packed = false;
  uint8_t chunkKiB = 0;  // each chunk unpacks to at most chunkKiB * 1024 bytes
  char name[kTextField] = {};
  bool hasFolder = false;
  char folder[kTextField] = {};
  uint32_t typeMask = 0;
  SystemTime time;
  std::vector<uint32_t> chunkSizes;  // stored size of each chunk
  uint64_t dataOffset = 0;           // where the first chunk lies (reader only)

  bool IsEmpty() const;         // named "*EMPTY": no file, no data
  bool InSystemFolder() const;  // folder "*WINSYSTEM", whatever the flag says
  uint32_t ChunkCapacity() const { return uint32_t{chunkKiB} * 1024; }
  uint64_t StoredSize() const;  // sum of the stored chunk sizes
};

// Decodes the entry bytes of one directory slot. False when the bytes are
// shorter than the fixed fields or the size array, or the name or folder has
// no terminator inside its field.
bool DecodeEntry(const uint8_t* bytes, uint64_t length, Entry* out);
// The directory slot's bytes for an entry (without the u32 length before them).
std::vector<uint8_t> EncodeEntry(const Entry& entry);

// Reads the trailer and the directory of the open package (size bytes long)
// and checks its layout: the directory lies between the data and the
// trailer, every entry is whole, every non-empty entry has a nonzero chunk
// size when it has chunks, every chunk fits the installer's buffers (at most
// twice the chunk size when packed, the chunk size when stored), and all
// chunks together lie between offset 83 and the directory. Fills dataOffset.
// 0, or the installer's code for a package it cannot read
// (INSTALL_READ_FAILED) or memory it cannot get (INSTALL_NO_MEMORY).
int ReadDirectory(plat::File& file, uint64_t size, std::vector<Entry>* entries);

// The unpacked size of an entry of a package whose directory was read:
// every packed chunk is read and unpacked within the chunk size; a stored
// entry's chunks were bounds-checked by ReadDirectory and are not read. -1
// when a packed chunk does not read or unpack.
int64_t UnpackedSize(plat::File& file, const Entry& entry);

// Writes a package: Begin writes the header, then each entry's chunks follow
// and AddEntry records it; Finish writes the directory and the trailer.
// Each returns 0 or the system's error (ERR_PACKAGE_WRITE for a short write
// or a package past 4 GiB).
class Writer {
 public:
  explicit Writer(plat::File& file) : file_(file) {}
  int Begin();
  int WriteChunk(const uint8_t* bytes, uint32_t length);
  // Where the next chunk goes; Rewind(offset) goes back there, dropping the
  // chunks written since (an entry written again in another form).
  uint64_t offset() const { return offset_; }
  int Rewind(uint64_t offset);
  // Adds the entry to the directory; its chunks must have been written just before.
  void AddEntry(const Entry& entry) { entries_.push_back(entry); }
  int Finish();

 private:
  int Put(const void* bytes, uint32_t length);
  plat::File& file_;
  uint64_t offset_ = 0;
  bool rewound_ = false;  // the file may hold bytes past the trailer: cut them
  std::vector<Entry> entries_;
};

// An entry's time as the installer applies it: an hour of 4 or more is
// moved back by 4 hours; the date never changes.
SystemTime InstallTime(const SystemTime& time);
// SystemTimeToFileTime: false for fields out of range (day of week ignored).
bool SystemTimeToFileTime(const SystemTime& time, uint64_t* fileTime);
SystemTime FileTimeToSystemTime(uint64_t fileTime);

// Entry names and folders must stay inside the destination folder. A name
// is safe unless it holds a separator ('\\' or '/') or a colon, or is made of
// dots and blanks only ("..", "..."). A folder is safe unless it starts with
// a separator, holds a colon (drive letter), has ".." parts that climb above
// where it starts, or a part of dots and blanks other than "." and "..".
// Both are searched a whole character at a time.
bool SafeEntryName(const char* name);
bool SafeEntryFolder(const char* folder);

}  // namespace pkg
