// Installing a shipped file into a game folder: "PQ" packages are unpacked
// entry by entry, any other file is copied as it is. Every file is replaced
// as a whole (FileReplacement), and the cancel flag is looked at between
// blocks, so a Cancel leaves the file being written as it was.
//
// Folders are completed with EnsureTrailingSeparator, as UpdateFile completes
// the paths it logs, so that a message names the same path the log shows: a
// folder ending in '/' (POSIX) gets no backslash after it, and an empty folder
// stays the current folder instead of becoming the root.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PathText.h"
#include "platform/Env.h"
#include "update/FileReplacement.h"
#include "update/FolderPath.h"
#include "update/Operations.h"
#include "update/PackageFormat.h"
#include "update/PackageInstall.h"

namespace {

constexpr uint32_t kCopyBlock = 128 * 1024;

// The caller's failed-path field.
struct FailedPath {
  char* text;
  size_t capacity;
  int Set(int code, const char* path) const {
    CopyBounded(text, capacity, path);
    return code;
  }
};

bool WriteAll(plat::File& file, const uint8_t* bytes, uint32_t n) {
  uint32_t put = 0;
  return file.Write(bytes, n, &put) == 0 && put == n;
}

// Puts a written file in place of the old one; a rename that fails is the
// failure to create the file (another program holds it).
int Commit(FileReplacement& out, const char* dest, const FailedPath& failed) {
  switch (out.Commit()) {
    case 0:
      return 0;
    case FileReplacement::kRenameFailed:
      return failed.Set(INSTALL_CREATE_FAILED, dest);
    default:
      return failed.Set(INSTALL_WRITE_FAILED, dest);
  }
}

void ShowDestination(ProgressSink& ui, const char* path) {
  ui.Progress(ProgressInfo{-1, -1, -1, nullptr, path});
}

int CopyPlainFile(ProgressSink& ui, plat::Env& env, std::unique_ptr<plat::File> source,
                  const char* sourcePath, const char* destFolder, const char* fileName,
                  const FailedPath& failed) {
  char dest[kPathField];
  CopyBounded(dest, sizeof dest, destFolder);
  if (!EnsureTrailingSeparator(dest, sizeof dest)) return failed.Set(INSTALL_BAD_FOLDER, dest);
  if (!CreateFolderPath(dest)) return failed.Set(INSTALL_BAD_FOLDER, dest);
  if (!AppendBounded(dest, sizeof dest, fileName)) return failed.Set(INSTALL_CREATE_FAILED, dest);
  ShowDestination(ui, dest);

  FileReplacement out(env);
  if (!out.Begin(dest, plat::ATTR_NORMAL)) return failed.Set(INSTALL_CREATE_FAILED, dest);
  {
    MemPtr<uint8_t> buffer = MemAllocOwned(kCopyBlock);
    if (!buffer) return failed.Set(INSTALL_NO_MEMORY, "");
    if (source->Seek(0) != 0) return failed.Set(INSTALL_READ_FAILED, sourcePath);
    for (;;) {
      uint32_t got = 0;
      if (source->Read(buffer.get(), kCopyBlock, &got) != 0)
        return failed.Set(INSTALL_READ_FAILED, sourcePath);
      ui.Pump();
      if (ui.Cancelled()) return INSTALL_CANCELLED;
      if (got == 0) break;
      if (!WriteAll(out.file(), buffer.get(), got)) return failed.Set(INSTALL_WRITE_FAILED, dest);
      ui.BytesUpdated(got);
    }
  }
  source.reset();

  {
    std::unique_ptr<plat::File> again;
    if (env.Open(sourcePath, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
                 plat::ATTR_NORMAL, &again) != 0) {
      return failed.Set(INSTALL_OPEN_FAILED, sourcePath);
    }
    plat::FileTimes times;
    if (again->GetTimes(&times) == 0) out.file().SetTimes(times);
  }
  if (int rc = Commit(out, dest, failed)) return rc;
  ui.FileUpdated(dest);
  return 0;
}

// Where one entry goes: its folder (to be created unless it is the system
// folder) and, unless it is "*EMPTY", its file. Refuses names and folders
// that would leave the destination folder.
struct EntryPaths {
  char folder[kPathField];
  char file[kPathField];
  bool createFolder;
};

int PlaceEntry(const pkg::Entry& entry, const char* destFolder, const char* systemFolder,
               EntryPaths* paths, const FailedPath& failed) {
  paths->createFolder = !entry.InSystemFolder();
  if (entry.InSystemFolder()) {
    CopyBounded(paths->folder, kPathField, systemFolder);
    if (paths->folder[0] != '\0' && !EnsureTrailingSeparator(paths->folder, kPathField)) {
      return failed.Set(INSTALL_BAD_FOLDER, paths->folder);
    }
  } else {
    CopyBounded(paths->folder, kPathField, destFolder);
    if (!EnsureTrailingSeparator(paths->folder, kPathField))
      return failed.Set(INSTALL_BAD_FOLDER, paths->folder);
    if (entry.hasFolder) {
      const bool fits = AppendBounded(paths->folder, kPathField, entry.folder);
      if (!pkg::SafeEntryFolder(entry.folder) || !fits)
        return failed.Set(INSTALL_BAD_FOLDER, paths->folder);
      if (!EnsureTrailingSeparator(paths->folder, kPathField))
        return failed.Set(INSTALL_BAD_FOLDER, paths->folder);
    }
  }
  CopyBounded(paths->file, kPathField, paths->folder);
  if (entry.IsEmpty()) return 0;
  const bool fits = AppendBounded(paths->file, kPathField, entry.name);
  if (!pkg::SafeEntryName(entry.name)) return failed.Set(INSTALL_BAD_FOLDER, paths->file);
  if (!fits) return failed.Set(INSTALL_CREATE_FAILED, paths->file);
  return 0;
}

// Writes one entry's file from its chunks, which start at the package's
// current position, and gives it the entry's time (moved by the hour rule)
// as its creation, last-access and last-write time.
int WriteEntryFile(ProgressSink& ui, plat::Env& env, plat::File& package, const char* sourcePath,
                   const pkg::Entry& entry, const char* dest, const FailedPath& failed) {
  FileReplacement out(env);
  if (!out.Begin(dest, plat::ATTR_NORMAL)) return failed.Set(INSTALL_CREATE_FAILED, dest);
  // The directory check guarantees every stored size fits the input buffer
  // and every stored (unpacked) chunk the output buffer.
  const uint32_t capacity = entry.ChunkCapacity();
  MemPtr<uint8_t> output = MemAllocOwned(capacity);
  MemPtr<uint8_t> input = MemAllocOwned(2 * size_t{capacity});
  if (!output || !input) return failed.Set(INSTALL_NO_MEMORY, "");

  for (uint32_t stored : entry.chunkSizes) {
    uint32_t got = 0;
    if (package.Read(input.get(), stored, &got) != 0 || got != stored) {
      return failed.Set(INSTALL_READ_FAILED, sourcePath);
    }
    const uint8_t* bytes = input.get();
    uint32_t length = stored;
    if (entry.packed) {
      int32_t produced = 0;
      const int code = Guard([&] {
        produced = LzUnpack(input.get(), static_cast<int32_t>(stored), output.get(),
                            static_cast<int32_t>(capacity));
      });
      if (code != 0 || produced < 0) return failed.Set(INSTALL_READ_FAILED, sourcePath);
      bytes = output.get();
      length = static_cast<uint32_t>(produced);
    }
    if (!WriteAll(out.file(), bytes, length)) return failed.Set(INSTALL_WRITE_FAILED, dest);
    ui.BytesUpdated(length);
    ui.Pump();
    if (ui.Cancelled()) return INSTALL_CANCELLED;
  }
  output.reset();
  input.reset();

  uint64_t fileTime = 0;
  if (pkg::SystemTimeToFileTime(pkg::InstallTime(entry.time), &fileTime)) {
    out.file().SetTimes(plat::FileTimes{fileTime, fileTime, fileTime});
  }
  return Commit(out, dest, failed);
}

int InstallPackage(ProgressSink& ui, plat::Env& env, plat::File& package, const char* sourcePath,
                   const char* destFolder, const char* systemFolder, const FailedPath& failed) {
  uint64_t size = 0;
  if (package.Size(&size) != 0) return failed.Set(INSTALL_READ_FAILED, sourcePath);
  std::vector<pkg::Entry> entries;
  ui.Pump();
  const int code = pkg::ReadDirectory(package, size, &entries);
  if (code == INSTALL_NO_MEMORY) return failed.Set(INSTALL_NO_MEMORY, "");
  if (code != 0) return failed.Set(INSTALL_READ_FAILED, sourcePath);

  // Every entry is placed before the first is written, so that a package
  // with one entry aimed outside the destination installs nothing.
  std::vector<EntryPaths> places(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (int rc = PlaceEntry(entries[i], destFolder, systemFolder, &places[i], failed)) return rc;
  }

  ui.Pump();
  for (size_t i = 0; i < entries.size(); ++i) {
    const pkg::Entry& entry = entries[i];
    EntryPaths& place = places[i];
    if (place.createFolder && !CreateFolderPath(place.folder)) {
      return failed.Set(INSTALL_BAD_FOLDER, place.folder);
    }
    if (entry.IsEmpty()) continue;
    ShowDestination(ui, place.file);
    if (package.Seek(entry.dataOffset) != 0) return failed.Set(INSTALL_READ_FAILED, sourcePath);
    if (int rc = WriteEntryFile(ui, env, package, sourcePath, entry, place.file, failed)) return rc;
    ui.FileUpdated(place.file);
  }
  return 0;
}

}  // namespace

int InstallFileAt(ProgressSink& ui, const char* sourcePath, const char* plainName,
                  const char* destFolder, const char* systemFolder, char* failedPath,
                  size_t failedCapacity) {
  const FailedPath failed{failedPath, failedCapacity};
  failed.Set(0, "");
  plat::Env& env = *plat::Env::Default();

  std::unique_ptr<plat::File> source;
  if (env.Open(sourcePath, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               plat::ATTR_NORMAL, &source) != 0) {
    return failed.Set(INSTALL_OPEN_FAILED, sourcePath);
  }
  uint8_t magic[2] = {0, 0};
  uint32_t got = 0;
  if (source->Seek(0) != 0 || source->Read(magic, 2, &got) != 0)
    return failed.Set(INSTALL_READ_FAILED, sourcePath);
  // A file shorter than two bytes cannot be a package: it is copied.
  if (got == 2 && magic[0] == 'P' && magic[1] == 'Q') {
    return InstallPackage(ui, env, *source, sourcePath, destFolder, systemFolder, failed);
  }
  return CopyPlainFile(ui, env, std::move(source), sourcePath, destFolder, plainName, failed);
}

const char* InstallCodeText(int code) {
  switch (code) {
    case INSTALL_OPEN_FAILED:
      return "cannot open";
    case INSTALL_READ_FAILED:
      return "cannot read (damaged package?)";
    case INSTALL_NO_MEMORY:
      return "out of memory";
    case INSTALL_BAD_FOLDER:
      return "invalid folder";
    case INSTALL_WRITE_FAILED:
      return "cannot write";
    case INSTALL_CREATE_FAILED:
      return "cannot create";
    default:
      return "failed";
  }
}

int InstallFiles(ProgressSink& ui, const char* updaterFolder, const char* destPath,
                 const char* sourceName, char* failedPath, size_t failedCapacity) {
  char source[kPathField];
  CopyBounded(source, sizeof source, updaterFolder);
  EnsureTrailingSeparator(source, sizeof source);
  if (!AppendBounded(source, sizeof source, sourceName)) {
    CopyBounded(failedPath, failedCapacity, source);
    return INSTALL_OPEN_FAILED;
  }
  const std::string systemFolder = plat::Env::Default()->SystemFolder();
  return InstallFileAt(ui, source, sourceName, destPath, systemFolder.c_str(), failedPath,
                       failedCapacity);
}
