#include "platform/testing/FaultEnv.h"

#include <utility>

namespace plat {

namespace {

// What a wrapped file and a wrapped mapping share: the FaultEnv that counts
// their calls, the inner object, and Flush.
template <typename Inner>
class Wrapped : public Inner {
 public:
  Wrapped(FaultEnv* env, std::unique_ptr<Inner> inner) : env_(env), inner_(std::move(inner)) {}

  Inner* inner() const { return inner_.get(); }

  int Flush() override {
    return env_->Counted(FaultKind::Flush, [&] { return inner_->Flush(); });
  }

 protected:
  FaultEnv* env_;
  std::unique_ptr<Inner> inner_;
};

class FaultFile : public Wrapped<File> {
 public:
  using Wrapped::Wrapped;

  int Read(void* buf, uint32_t n, uint32_t* got) override {
    *got = 0;
    return env_->Counted(FaultKind::Read, [&] { return inner_->Read(buf, n, got); });
  }

  int Write(const void* buf, uint32_t n, uint32_t* put) override {
    *put = 0;
    if (int rc = env_->Check(FaultKind::Write)) return rc;
    const uint32_t fits = env_->Fits(n);
    int rc = fits > 0 ? inner_->Write(buf, fits, put) : 0;
    env_->Consume(*put);
    if (rc != 0) return rc;
    return fits < n ? kErrDiskFull : 0;
  }

  int Seek(uint64_t offset) override { return inner_->Seek(offset); }
  int Size(uint64_t* size) override { return inner_->Size(size); }
  int SetEnd() override { return inner_->SetEnd(); }
  int GetTimes(FileTimes* times) override { return inner_->GetTimes(times); }

  int SetTimes(const FileTimes& times) override {
    return env_->Counted(FaultKind::SetTimes, [&] { return inner_->SetTimes(times); });
  }
};

class FaultMapping : public Wrapped<Mapping> {
 public:
  using Wrapped::Wrapped;

  uint8_t* Data() override { return inner_->Data(); }
  uint64_t Size() const override { return inner_->Size(); }

  int Grow(uint64_t newSize) override {
    return env_->Counted(FaultKind::Grow, [&] { return inner_->Grow(newSize); });
  }
};

}  // namespace

FaultEnv::FaultEnv(Env* inner) : EnvWrapper(inner) {}

void FaultEnv::FailNth(FaultKind kind, int n, int code) {
  const int k = static_cast<int>(kind);
  calls_[k] = 0;
  failAt_[k] = n > 0 ? n : 0;
  failCode_[k] = code;
}

void FaultEnv::SetWriteBudget(uint64_t bytes) {
  budgeted_ = true;
  budget_ = bytes;
}

void FaultEnv::ClearWriteBudget() { budgeted_ = false; }

int FaultEnv::Check(FaultKind kind) {
  const int k = static_cast<int>(kind);
  ++calls_[k];
  if (failAt_[k] != 0 && calls_[k] == failAt_[k]) return failCode_[k];
  return 0;
}

uint32_t FaultEnv::Fits(uint32_t n) const {
  if (!budgeted_ || n <= budget_) return n;
  return static_cast<uint32_t>(budget_);
}

void FaultEnv::Consume(uint32_t n) {
  if (budgeted_) budget_ -= n <= budget_ ? n : budget_;
}

int FaultEnv::Open(const char* path, Access access, Share share, Disposition disposition,
                   uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  if (int rc = Check(FaultKind::Open)) return rc;
  std::unique_ptr<File> file;
  int rc = target()->Open(path, access, share, disposition, attributes, &file);
  if (rc == 0) out->reset(new FaultFile(this, std::move(file)));
  return rc;
}

int FaultEnv::Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) {
  out->reset();
  if (int rc = Check(FaultKind::Map)) return rc;
  // A file of ours is unwrapped; any other goes to the inner Env as it is.
  auto* wrapped = dynamic_cast<FaultFile*>(file);
  std::unique_ptr<Mapping> mapping;
  int rc = target()->Map(wrapped != nullptr ? wrapped->inner() : file, writable, size, &mapping);
  if (rc == 0) out->reset(new FaultMapping(this, std::move(mapping)));
  return rc;
}

int FaultEnv::CreateFolder(const char* path) {
  return Counted(FaultKind::CreateFolder, [&] { return target()->CreateFolder(path); });
}
int FaultEnv::Delete(const char* path) {
  return Counted(FaultKind::Delete, [&] { return target()->Delete(path); });
}
int FaultEnv::Rename(const char* from, const char* to) {
  return Counted(FaultKind::Rename, [&] { return target()->Rename(from, to); });
}
int FaultEnv::SyncFolder(const char* path) {
  return Counted(FaultKind::SyncFolder, [&] { return target()->SyncFolder(path); });
}
int FaultEnv::Copy(const char* from, const char* to) {
  return Counted(FaultKind::Copy, [&] { return target()->Copy(from, to); });
}

}  // namespace plat
