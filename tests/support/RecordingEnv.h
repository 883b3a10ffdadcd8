// An Env that records, in order, every write (a copy and a writable mapping
// count as one), flush, rename and folder sync it hands on, so a test can check the order in which
// a replaced file reaches the disk.
//
//   RecordingEnv env(plat::Env::Default());
//   plat::SetDefaultEnv(&env);  ... the code under test ...
//   EXPECT_EQ(UnsafeRenames(env.events), std::vector<std::string>{});
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace testing_support {

class RecordingEnv : public plat::EnvWrapper {
 public:
  struct Event {
    enum Kind { Write, Flush, Rename, SyncFolder } kind;
    std::string path;  // the file written or flushed, renamed from, or the folder synced
    std::string to;    // Rename only
  };

  explicit RecordingEnv(plat::Env* target) : EnvWrapper(target) {}

  std::vector<Event> events;

  int Open(const char* path, plat::Access access, plat::Share share, plat::Disposition disposition,
           uint32_t attributes, std::unique_ptr<plat::File>* out) override;
  int Map(plat::File* file, bool writable, uint64_t size,
          std::unique_ptr<plat::Mapping>* out) override;
  int Copy(const char* from, const char* to) override;
  int Rename(const char* from, const char* to) override;
  int SyncFolder(const char* path) override;
};

// The renames among events that could leave a file half-written or lost
// after a crash: one not preceded by a flush of the renamed file after its
// last write, or not followed, before the next rename, by a sync of the
// folder it renamed into. Each is described for a test's message; none, and
// at least one rename seen, is what a sound replacement gives.
std::vector<std::string> UnsafeRenames(const std::vector<RecordingEnv::Event>& events);

// How many renames events hold.
int Renames(const std::vector<RecordingEnv::Event>& events);

}  // namespace testing_support
