// An Env for tests that makes chosen calls of another Env fail.
//
//   plat::FaultEnv env(plat::BackendEnv());
//   env.FailNth(plat::FaultKind::Write, 3, 5);   // the third write fails with 5
//   env.SetWriteBudget(4096);                    // a disk with 4096 bytes free
//
// Files and mappings it hands out wrap the inner ones so that their calls are
// counted too; they must not outlive the FaultEnv.
#pragma once

#include <cstdint>

#include "platform/Env.h"

namespace plat {

// Flush counts File::Flush and Mapping::Flush alike.
enum class FaultKind {
  Open,
  Read,
  Write,
  Map,
  Grow,
  SetTimes,
  CreateFolder,
  Flush,
  Rename,
  Delete,
  SyncFolder,
  Copy
};
constexpr int kFaultKinds = 12;

// The code a write past the budget fails with: ERROR_DISK_FULL in Windows
// numbering, whichever backend is wrapped.
constexpr int kErrDiskFull = 112;

class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env* inner);

  // The n-th call of kind from now on (1 is the next) fails with code and
  // does nothing; n of 0 takes a planned failure back. The counts of calls
  // start afresh for that kind.
  void FailNth(FaultKind kind, int n, int code);
  // From now on, writes may put `bytes` more bytes in all; the write that
  // would go past writes what fits and fails with kErrDiskFull.
  void SetWriteBudget(uint64_t bytes);
  void ClearWriteBudget();
  // Calls of kind made since the last FailNth for it (or since creation).
  int Calls(FaultKind kind) const { return calls_[static_cast<int>(kind)]; }

  int Open(const char* path, Access access, Share share, Disposition disposition,
           uint32_t attributes, std::unique_ptr<File>* out) override;
  int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) override;
  int CreateFolder(const char* path) override;
  int Delete(const char* path) override;
  int Rename(const char* from, const char* to) override;
  int SyncFolder(const char* path) override;
  int Copy(const char* from, const char* to) override;

  // For the wrapped files and mappings: counts a call of kind and returns
  // the planned code when this call is to fail, else 0.
  int Check(FaultKind kind);
  // Counts a call of kind: the planned code when it is to fail, else what
  // call() returns.
  template <typename Call>
  int Counted(FaultKind kind, Call call) {
    if (int rc = Check(kind)) return rc;
    return call();
  }
  // The bytes of a write of n that still fit the budget.
  uint32_t Fits(uint32_t n) const;
  void Consume(uint32_t n);

 private:
  int calls_[kFaultKinds] = {};
  int failAt_[kFaultKinds] = {};
  int failCode_[kFaultKinds] = {};
  bool budgeted_ = false;
  uint64_t budget_ = 0;
};

}  // namespace plat
