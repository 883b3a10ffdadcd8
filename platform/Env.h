// The operating-system seam for files, file mapping, drives and processes.
//
// Every call returns 0 on success or the system's own positive error code
// (GetLastError on Windows, errno on POSIX); the core maps these to its own
// codes. Paths are 8-bit text as the core keeps them (bytes of the ANSI code
// page, backslashes allowed); the POSIX backend turns them into the file
// system's UTF-8, translates separators and drive letters and looks up path
// components that do not exist as written without regard to case
// (NativePath.h), and hands paths and names back in the ANSI code page.
//
// Env::Default() is the backend of this build. Tests wrap it (FaultEnv) to
// make chosen calls fail; everything in the core reaches the system through
// the Env it is given or through Env::Default().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

enum class Access { Read, ReadWrite };
// Win32 share modes: None is share mode 0, Read is FILE_SHARE_READ. On POSIX a
// file opened for writing or without sharing is locked (flock) so that a
// second such open fails as a Windows sharing violation does.
enum class Share { None, Read };
enum class Disposition {
  OpenExisting,  // fail when the file does not exist
  OpenAlways,    // open, or create when it does not exist
  CreateAlways,  // create, or truncate an existing file
};

// File attribute bits, as Win32 has them.
enum : uint32_t {
  ATTR_READONLY = 0x01,
  ATTR_HIDDEN = 0x02,
  ATTR_SYSTEM = 0x04,
  ATTR_DIRECTORY = 0x10,
  ATTR_ARCHIVE = 0x20,
  ATTR_NORMAL = 0x80,
};

// File times in FILETIME units: 100 ns since 1601-01-01 UTC. 0 means "not
// known" when read and "leave unchanged" when set. POSIX has no settable
// creation time: it reads back as the last status change time.
struct FileTimes {
  uint64_t creation = 0;
  uint64_t lastAccess = 0;
  uint64_t lastWrite = 0;
};

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// The system's error code for a sharing violation (ERROR_SHARING_VIOLATION on
// Windows; the POSIX backend reports the same number for a lock conflict).
constexpr int kErrSharingViolation = 32;

// An open file. Closing happens on destruction.
class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at the current position; *got is the count read (0 at end).
  virtual int Read(void* buf, uint32_t n, uint32_t* got) = 0;
  // Writes n bytes at the current position; *put is the count written.
  virtual int Write(const void* buf, uint32_t n, uint32_t* put) = 0;
  // Moves the current position to an absolute offset.
  virtual int Seek(uint64_t offset) = 0;
  virtual int Size(uint64_t* size) = 0;
  // Makes the current position the end of the file (truncates or extends).
  virtual int SetEnd() = 0;
  virtual int GetTimes(FileTimes* times) = 0;
  virtual int SetTimes(const FileTimes& times) = 0;
  // Returns once the file's data and size are on the disk (FlushFileBuffers,
  // fsync): a power cut after it cannot take back what was written.
  virtual int Flush() = 0;
};

// A view of a whole file from offset 0. Unmapping happens on destruction.
class Mapping {
 public:
  virtual ~Mapping() = default;
  virtual uint8_t* Data() = 0;
  virtual uint64_t Size() const = 0;
  // Unmaps and maps again at newSize bytes (a writable mapping extends the
  // file). On failure the old view is kept (possibly at a new address) and the
  // error is returned; any pointer into the view is invalid after a call.
  virtual int Grow(uint64_t newSize) = 0;
  // Hands the view's changed pages to the file (FlushViewOfFile, msync);
  // File::Flush then makes them durable.
  virtual int Flush() = 0;
};

// One entry of a folder listing.
struct FolderEntry {
  std::string name;     // as the system holds it (POSIX: in the ANSI code page), no path
  bool folder = false;  // a folder (a link counts as what it points to)
  uint64_t size = 0;    // bytes; 0 for a folder
};

class Env {
 public:
  virtual ~Env() = default;
  static Env* Default();

  virtual int Open(const char* path, Access access, Share share, Disposition disposition,
                   uint32_t attributes, std::unique_ptr<File>* out) = 0;
  // Maps size bytes of file (the file must stay open while the mapping
  // lives). A writable mapping larger than the file extends it; a read-only
  // one must not exceed the file. A size of 0 is refused (there is no
  // "whole file" default: the caller always knows the size it maps).
  virtual int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) = 0;

  virtual int GetAttributes(const char* path, uint32_t* attributes) = 0;
  virtual int SetAttributes(const char* path, uint32_t attributes) = 0;
  virtual int CreateFolder(const char* path) = 0;
  virtual bool Exists(const char* path) = 0;
  virtual bool IsFolder(const char* path) = 0;
  virtual int Delete(const char* path) = 0;
  // Moves a file or folder; an existing file at `to` is replaced (both
  // backends), so a caller that must not lose the target checks first. On
  // Windows the move is written through to the disk before it returns; on
  // POSIX it is durable once SyncFolder of `to`'s folder returned.
  virtual int Rename(const char* from, const char* to) = 0;
  // Makes the entries of a folder durable (a file created, renamed into or
  // deleted from it): fsync of the folder on POSIX, nothing on Windows,
  // whose Rename writes through.
  virtual int SyncFolder(const char* path) = 0;
  // Creates or replaces `to` with the bytes of `from`, as cheaply as the
  // system allows (a reflink or copy_file_range on Linux, CopyFileExA on
  // Windows). `to` is not flushed.
  virtual int Copy(const char* from, const char* to) = 0;
  // The entries of a folder without "." and "..", in no particular order.
  virtual int ListFolder(const char* path, std::vector<FolderEntry>* out) = 0;
  // The path that a write to `path` lands on: where path is a symbolic link,
  // its target (followed to the end; a relative target counts from the
  // link's folder, and a dangling link gives the missing target), else path
  // as it is. A file replaced by rename is renamed onto this path, so that
  // the link stays a link.
  virtual int ResolveLink(const char* path, std::string* out) = 0;
  // Drive type of the volume that holds path ("C:\\Games\\" or "/srv/game/").
  virtual DriveType GetDriveType(const char* path) = 0;
  // The system folder, without a trailing separator.
  virtual std::string SystemFolder() = 0;
  // Starts a program without waiting for it: the program path followed by
  // its arguments, as WinExec takes them.
  virtual int StartProgram(const char* commandLine) = 0;
};

// An Env that hands every call to another; a wrapper overrides only what it
// changes or counts.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  int Open(const char* path, Access access, Share share, Disposition disposition,
           uint32_t attributes, std::unique_ptr<File>* out) override {
    return target_->Open(path, access, share, disposition, attributes, out);
  }
  int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) override {
    return target_->Map(file, writable, size, out);
  }
  int GetAttributes(const char* path, uint32_t* attributes) override {
    return target_->GetAttributes(path, attributes);
  }
  int SetAttributes(const char* path, uint32_t attributes) override {
    return target_->SetAttributes(path, attributes);
  }
  int CreateFolder(const char* path) override { return target_->CreateFolder(path); }
  bool Exists(const char* path) override { return target_->Exists(path); }
  bool IsFolder(const char* path) override { return target_->IsFolder(path); }
  int Delete(const char* path) override { return target_->Delete(path); }
  int Rename(const char* from, const char* to) override { return target_->Rename(from, to); }
  int SyncFolder(const char* path) override { return target_->SyncFolder(path); }
  int Copy(const char* from, const char* to) override { return target_->Copy(from, to); }
  int ListFolder(const char* path, std::vector<FolderEntry>* out) override {
    return target_->ListFolder(path, out);
  }
  int ResolveLink(const char* path, std::string* out) override {
    return target_->ResolveLink(path, out);
  }
  DriveType GetDriveType(const char* path) override { return target_->GetDriveType(path); }
  std::string SystemFolder() override { return target_->SystemFolder(); }
  int StartProgram(const char* commandLine) override { return target_->StartProgram(commandLine); }

 private:
  Env* target_;
};

// Sets the Env that Env::Default() returns (null restores the backend's own).
// Tests use it to put a FaultEnv under code that takes no Env argument.
void SetDefaultEnv(Env* env);

// The backend of this build, whatever SetDefaultEnv was given (what a
// FaultEnv installed as the default wraps).
Env* BackendEnv();

}  // namespace plat
