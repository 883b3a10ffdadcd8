#include "update/FileReplacement.h"

#include <cstring>
#include <string>

namespace {

// Appended to a file's own name: no name the game opens ends so.
constexpr char kSuffix[] = ".upd~";
// For a path too long for the suffix: one name per folder, enough since
// one file is replaced at a time.
constexpr char kShortName[] = "~upd";

bool IsShortName(const char* name) {
  for (size_t i = 0; i < sizeof kShortName; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kShortName[i]) return false;
  }
  return true;
}

// The length of path's folder, its last separator included (0: none). A
// slash is never the trail byte of a double-byte character; a backslash may
// be, so backslashes are found whole characters at a time.
size_t FolderLength(const char* path) {
  const char* cut = nullptr;
  for (const char* p = FindBackslash(path); p != nullptr; p = FindBackslash(p + 1)) cut = p;
  const char* slash = std::strrchr(path, '/');
  if (slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
  return cut != nullptr ? static_cast<size_t>(cut - path) + 1 : 0;
}

}  // namespace

bool FileReplacement::TemporaryPath(const char* target, char* out, size_t capacity) {
  if (CopyBounded(out, capacity, target) && AppendBounded(out, capacity, kSuffix)) return true;
  const size_t folder = FolderLength(target);
  // A file that has the short name itself cannot be written beside itself.
  if (folder + sizeof kShortName > capacity || IsShortName(target + folder)) {
    if (capacity > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, target, folder);
  std::memcpy(out + folder, kShortName, sizeof kShortName);
  return true;
}

bool FileReplacement::Begin(const char* destination, uint32_t attributes) {
  Abandon();
  std::string target;
  if (env_.ResolveLink(destination, &target) != 0) return false;
  if (!CopyBounded(target_, sizeof target_, target.c_str())) return false;
  if (!TemporaryPath(target_, temporary_, sizeof temporary_)) return false;

  env_.SetAttributes(target_, 0);  // a read-only file is replaced too
  if (env_.Exists(temporary_)) {   // left by an interrupted run
    env_.SetAttributes(temporary_, 0);
    env_.Delete(temporary_);
  }
  if (env_.Exists(target_)) {
    std::unique_ptr<plat::File> held;
    if (env_.Open(target_, plat::Access::ReadWrite, plat::Share::None,
                  plat::Disposition::OpenExisting, 0, &held) != 0) {
      return false;
    }
  }
  pending_ = true;
  return env_.Open(temporary_, plat::Access::ReadWrite, plat::Share::None,
                   plat::Disposition::CreateAlways, attributes, &file_) == 0;
}

int FileReplacement::Commit() {
  if (file_->Flush() != 0) {
    Abandon();
    return kFlushFailed;
  }
  file_.reset();
  if (env_.Rename(temporary_, target_) != 0) {
    Abandon();
    return kRenameFailed;
  }
  pending_ = false;
  char folder[kPathField];
  std::memcpy(folder, target_, sizeof folder);
  folder[FolderLength(folder)] = '\0';
  return env_.SyncFolder(folder) == 0 ? 0 : kSyncFailed;
}

void FileReplacement::Abandon() {
  file_.reset();  // closed first: an open file cannot be removed on Windows
  if (pending_) env_.Delete(temporary_);
  pending_ = false;
}
