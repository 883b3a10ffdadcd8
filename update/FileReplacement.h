// Replacing a game file as a whole: the new bytes are written beside it
// under a temporary name, given their times, flushed and renamed over it, so
// that a kill, a power cut, a Cancel or a failure leaves either the old file
// or the new one, never half of one.
//
//   FileReplacement out(env);
//   if (!out.Begin(destination, plat::ATTR_ARCHIVE)) ...    // cannot be replaced
//   out.file().Write(...); out.file().SetTimes(...);
//   if (int step = out.Commit()) ...                           // a Step below
//
// Until Commit succeeds, the temporary is removed when the object dies.
#pragma once

#include <cstdint>
#include <memory>

#include "ourlib/src/PathText.h"
#include "platform/Env.h"

class FileReplacement {
 public:
  // What Commit found failing.
  enum Step : int {
    kFlushFailed = 1,   // the new bytes may not be on the disk: the old file stays
    kRenameFailed = 2,  // the old file could not be replaced (another program holds it)
    kSyncFailed = 3,    // the new file is in place, but its folder entry may not be durable
  };

  explicit FileReplacement(plat::Env& env) : env_(env) {}
  ~FileReplacement() { Abandon(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Prepares the replacement of destination: a symbolic link is followed to
  // its target (the link stays a link), the target's attributes are cleared
  // so that a read-only file can be replaced, a temporary left by an
  // interrupted earlier run is removed, an existing target is opened once
  // without sharing (so a file another program holds fails here, as it
  // would be written in place), and the temporary is created with the given
  // attributes. False when any of it fails; nothing of the target changed.
  bool Begin(const char* destination, uint32_t attributes);

  // The temporary, open for writing, valid between Begin and Commit.
  plat::File& file() { return *file_; }

  // Flushes and closes the temporary, renames it over the target and makes
  // the folder entry durable. 0 on success, else the Step that failed; the
  // temporary is gone either way.
  int Commit();

  // Closes and removes the temporary unless it was committed.
  void Abandon();

  // The temporary for target: target followed by a suffix the game never
  // opens, or, when that would not fit a 260-byte field, one short name in
  // target's folder. False when neither fits (a name of fewer than four
  // characters in a folder of 256 or more) or target has that short name.
  static bool TemporaryPath(const char* target, char* out, size_t capacity = kPathField);

 private:
  plat::Env& env_;
  char target_[kPathField] = "";
  char temporary_[kPathField] = "";
  std::unique_ptr<plat::File> file_;
  bool pending_ = false;  // the temporary may exist and is ours to remove
};
