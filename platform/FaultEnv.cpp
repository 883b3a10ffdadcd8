#include "platform/FaultEnv.h"

#include <utility>

namespace plat {

namespace {

class FaultFile : public File {
 public:
  FaultFile(FaultEnv* env, std::unique_ptr<File> inner) : env_(env), inner_(std::move(inner)) {}

  File* inner() const { return inner_.get(); }

  int Read(void* buf, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (int rc = env_->Check(FaultKind::Read)) return rc;
    return inner_->Read(buf, n, got);
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
    if (int rc = env_->Check(FaultKind::SetTimes)) return rc;
    return inner_->SetTimes(times);
  }

  int Flush() override {
    if (int rc = env_->Check(FaultKind::Flush)) return rc;
    return inner_->Flush();
  }

 private:
  FaultEnv* env_;
  std::unique_ptr<File> inner_;
};

class FaultMapping : public Mapping {
 public:
  FaultMapping(FaultEnv* env, std::unique_ptr<Mapping> inner) : env_(env), inner_(std::move(inner)) {}

  uint8_t* Data() override { return inner_->Data(); }
  uint64_t Size() const override { return inner_->Size(); }

  int Grow(uint64_t newSize) override {
    if (int rc = env_->Check(FaultKind::Grow)) return rc;
    return inner_->Grow(newSize);
  }

  int Flush() override {
    if (int rc = env_->Check(FaultKind::Flush)) return rc;
    return inner_->Flush();
  }

 private:
  FaultEnv* env_;
  std::unique_ptr<Mapping> inner_;
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
  if (int rc = Check(FaultKind::CreateFolder)) return rc;
  return target()->CreateFolder(path);
}
int FaultEnv::Delete(const char* path) {
  if (int rc = Check(FaultKind::Delete)) return rc;
  return target()->Delete(path);
}
int FaultEnv::Rename(const char* from, const char* to) {
  if (int rc = Check(FaultKind::Rename)) return rc;
  return target()->Rename(from, to);
}
int FaultEnv::SyncFolder(const char* path) {
  if (int rc = Check(FaultKind::SyncFolder)) return rc;
  return target()->SyncFolder(path);
}
int FaultEnv::Copy(const char* from, const char* to) {
  if (int rc = Check(FaultKind::Copy)) return rc;
  return target()->Copy(from, to);
}

}  // namespace plat
