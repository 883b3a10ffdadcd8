#include "tests/support/RecordingEnv.h"

#include <utility>

namespace testing_support {

namespace {

class RecordingFile : public plat::File {
 public:
  RecordingFile(RecordingEnv* env, std::string path, std::unique_ptr<plat::File> inner)
      : env_(env), path_(std::move(path)), inner_(std::move(inner)) {}

  plat::File* inner() const { return inner_.get(); }
  const std::string& path() const { return path_; }

  int Read(void* buf, uint32_t n, uint32_t* got) override { return inner_->Read(buf, n, got); }
  int Write(const void* buf, uint32_t n, uint32_t* put) override {
    env_->events.push_back({RecordingEnv::Event::Write, path_, ""});
    return inner_->Write(buf, n, put);
  }
  int Seek(uint64_t offset) override { return inner_->Seek(offset); }
  int Size(uint64_t* size) override { return inner_->Size(size); }
  int SetEnd() override { return inner_->SetEnd(); }
  int GetTimes(plat::FileTimes* times) override { return inner_->GetTimes(times); }
  int SetTimes(const plat::FileTimes& times) override { return inner_->SetTimes(times); }
  int Flush() override {
    env_->events.push_back({RecordingEnv::Event::Flush, path_, ""});
    return inner_->Flush();
  }

 private:
  RecordingEnv* env_;
  std::string path_;
  std::unique_ptr<plat::File> inner_;
};

// Paths as the tests compare them: one kind of separator, none at the end.
std::string Normal(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path == "." ? std::string() : path;
}

std::string FolderOf(const std::string& path) {
  const std::string p = Normal(path);
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : Normal(p.substr(0, slash + 1));
}

}  // namespace

int RecordingEnv::Open(const char* path, plat::Access access, plat::Share share,
                       plat::Disposition disposition, uint32_t attributes,
                       std::unique_ptr<plat::File>* out) {
  std::unique_ptr<plat::File> file;
  const int rc = target()->Open(path, access, share, disposition, attributes, &file);
  out->reset(rc == 0 ? new RecordingFile(this, path, std::move(file)) : nullptr);
  return rc;
}

// A writable view writes its file behind the recorder's back: it counts as a
// write when it is made.
int RecordingEnv::Map(plat::File* file, bool writable, uint64_t size,
                      std::unique_ptr<plat::Mapping>* out) {
  auto* wrapped = dynamic_cast<RecordingFile*>(file);
  if (wrapped != nullptr && writable) events.push_back({Event::Write, wrapped->path(), ""});
  return target()->Map(wrapped != nullptr ? wrapped->inner() : file, writable, size, out);
}

int RecordingEnv::Copy(const char* from, const char* to) {
  events.push_back({Event::Write, to, ""});
  return target()->Copy(from, to);
}

int RecordingEnv::Rename(const char* from, const char* to) {
  events.push_back({Event::Rename, from, to});
  return target()->Rename(from, to);
}

int RecordingEnv::SyncFolder(const char* path) {
  events.push_back({Event::SyncFolder, path, ""});
  return target()->SyncFolder(path);
}

std::vector<std::string> UnsafeRenames(const std::vector<RecordingEnv::Event>& events) {
  using Event = RecordingEnv::Event;
  std::vector<std::string> unsafe;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind != Event::Rename) continue;
    const std::string from = Normal(events[i].path);
    const std::string what = events[i].path + " -> " + events[i].to;
    bool flushed = false;  // since the file's last write
    for (size_t k = 0; k < i; ++k) {
      if (Normal(events[k].path) != from) continue;
      if (events[k].kind == Event::Write) flushed = false;
      if (events[k].kind == Event::Flush) flushed = true;
    }
    if (!flushed) unsafe.push_back(what + ": renamed before its data was flushed");

    const std::string folder = FolderOf(events[i].to);
    bool synced = false;
    for (size_t k = i + 1; k < events.size() && events[k].kind != Event::Rename; ++k) {
      if (events[k].kind == Event::SyncFolder && Normal(events[k].path) == folder) synced = true;
    }
    if (!synced) unsafe.push_back(what + ": its folder was not synced after it");
  }
  return unsafe;
}

int Renames(const std::vector<RecordingEnv::Event>& events) {
  int n = 0;
  for (const auto& e : events) n += e.kind == RecordingEnv::Event::Rename ? 1 : 0;
  return n;
}

}  // namespace testing_support
