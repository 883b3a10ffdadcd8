#include "platform/RehearsalEnv.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/NativePath.h"

namespace plat {

namespace {

// Windows numbering, whichever backend is wrapped.
constexpr int kErrNotFound = 2;         // ERROR_FILE_NOT_FOUND
constexpr int kErrPathNotFound = 3;     // ERROR_PATH_NOT_FOUND
constexpr int kErrAccessDenied = 5;     // ERROR_ACCESS_DENIED
constexpr int kErrInvalid = 87;         // ERROR_INVALID_PARAMETER
constexpr int kErrAlreadyExists = 183;  // ERROR_ALREADY_EXISTS
constexpr int kErrLockViolation = 33;   // ERROR_LOCK_VIOLATION: bytes a mapping shows would move

constexpr uint32_t kCompareBlock = 1 << 20;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A path with its separators, "." and ".." settled: every separator as
// `separator`, the leading ones kept (a root, or the two of a network
// path). The path is read a whole character at a time: the trail byte of a
// double-byte character is no separator.
std::string Settled(const std::string& path, char separator) {
  size_t i = 0;
  std::string lead;
  for (; i < path.size() && IsSeparator(path[i]); ++i) lead += separator;
  std::vector<std::string> parts(1);
  for (; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      parts.emplace_back();
      continue;
    }
    parts.back() += path[i];
    if (IsLeadByte(static_cast<uint8_t>(path[i])) && i + 1 < path.size()) parts.back() += path[++i];
  }
  std::vector<std::string> kept;
  for (const std::string& part : parts) {
    if (part.empty() || part == ".") continue;
    if (part == ".." && !kept.empty() && kept.back() != "..") {
      kept.pop_back();
    } else {
      kept.push_back(part);
    }
  }
  std::string out = lead;
  for (size_t n = 0; n < kept.size(); ++n) {
    if (n > 0) out += separator;
    out += kept[n];
  }
  return out;
}

// The folder a settled path or key lies in ("" for a name alone).
std::string ParentOf(const std::string& path) {
  size_t lead = 0;
  while (lead < path.size() && IsSeparator(path[lead])) ++lead;
  size_t cut = std::string::npos;
  for (size_t i = lead; i < path.size(); ++i) {
    if (IsSeparator(path[i])) cut = i;
    if (IsLeadByte(static_cast<uint8_t>(path[i]))) ++i;
  }
  if (cut == std::string::npos) return path.substr(0, lead);
  return path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
  const std::string parent = ParentOf(path);
  size_t start = parent.size();
  while (start < path.size() && IsSeparator(path[start])) ++start;
  return path.substr(start);
}

// The path in the system's form: slashes where the backend turned the
// backslashes into them, else backslashes.
std::string Spelled(const char* path) {
  const std::string native = NativePath(path);
  return Settled(native, native.find('\\') != std::string::npos ? '\\' : '/');
}

// Without regard to ASCII case, a whole character at a time.
std::string Folded(std::string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char& c = text[i];
    if (IsLeadByte(static_cast<uint8_t>(c))) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::string KeyOf(const char* path) { return Folded(Settled(NativePath(path), '/')); }

// The path as the core names it (the code page's bytes, which the backend
// takes), settled; the backend's own separator kept.
std::string CoreSettled(const char* path) {
  const std::string text = path;
  return Settled(text, text.find('\\') != std::string::npos ? '\\' : '/');
}

// Now, in FILETIME units.
uint64_t Now() {
  constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000ULL;
  const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return kTicksFrom1601To1970 + static_cast<uint64_t>(since1970.count()) * 10;
}

bool ReadAll(File& file, std::vector<uint8_t>* bytes) {
  uint64_t size = 0;
  if (file.Size(&size) != 0 || file.Seek(0) != 0) return false;
  bytes->resize(static_cast<size_t>(size));
  uint64_t done = 0;
  while (done < size) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - done, kCompareBlock));
    uint32_t got = 0;
    if (file.Read(bytes->data() + done, n, &got) != 0 || got == 0) return false;
    done += got;
  }
  return true;
}

// Whether the file holds exactly bytes, compared a block at a time.
bool SameBytes(File& file, const std::vector<uint8_t>& bytes) {
  uint64_t size = 0;
  if (file.Size(&size) != 0 || size != bytes.size() || file.Seek(0) != 0) return false;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(size, kCompareBlock)));
  for (uint64_t done = 0; done < size;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - done, kCompareBlock));
    uint32_t got = 0;
    if (file.Read(block.data(), n, &got) != 0 || got == 0 ||
        std::memcmp(block.data(), bytes.data() + done, got) != 0) {
      return false;
    }
    done += got;
  }
  return true;
}

}  // namespace

struct RehearsalEnv::Content {
  std::vector<uint8_t> bytes;
  FileTimes times;
  uint32_t attributes = ATTR_NORMAL;
  int views = 0;  // mappings alive: the bytes must not move
};

namespace {

using Content = RehearsalEnv::Content;

// A file kept in memory; several handles of one path share its bytes.
class MemoryFile final : public File {
 public:
  MemoryFile(std::shared_ptr<Content> content, bool writable)
      : content_(std::move(content)), writable_(writable) {}

  const std::shared_ptr<Content>& content() const { return content_; }
  bool writable() const { return writable_; }

  int Read(void* buf, uint32_t n, uint32_t* got) override {
    const std::vector<uint8_t>& b = content_->bytes;
    const uint64_t left = position_ < b.size() ? b.size() - position_ : 0;
    *got = static_cast<uint32_t>(std::min<uint64_t>(n, left));
    if (*got > 0) std::memcpy(buf, b.data() + position_, *got);
    position_ += *got;
    return 0;
  }
  int Write(const void* buf, uint32_t n, uint32_t* put) override {
    *put = 0;
    if (!writable_) return kErrAccessDenied;
    std::vector<uint8_t>& b = content_->bytes;
    const uint64_t end = position_ + n;
    if (end > b.size()) {
      if (content_->views > 0) return kErrLockViolation;
      b.resize(static_cast<size_t>(end));
    }
    if (n > 0) std::memcpy(b.data() + position_, buf, n);
    position_ = end;
    *put = n;
    return 0;
  }
  int Seek(uint64_t offset) override {
    position_ = offset;
    return 0;
  }
  int Size(uint64_t* size) override {
    *size = content_->bytes.size();
    return 0;
  }
  int SetEnd() override {
    if (!writable_) return kErrAccessDenied;
    if (content_->views > 0 && position_ != content_->bytes.size()) return kErrLockViolation;
    content_->bytes.resize(static_cast<size_t>(position_));
    return 0;
  }
  int GetTimes(FileTimes* times) override {
    *times = content_->times;
    return 0;
  }
  int SetTimes(const FileTimes& times) override {
    if (times.creation != 0) content_->times.creation = times.creation;
    if (times.lastAccess != 0) content_->times.lastAccess = times.lastAccess;
    if (times.lastWrite != 0) content_->times.lastWrite = times.lastWrite;
    return 0;
  }
  int Flush() override { return 0; }

 private:
  std::shared_ptr<Content> content_;
  const bool writable_;
  uint64_t position_ = 0;
};

// A view of a file in memory: its bytes themselves, which stay where they
// are while the view lives (only the view itself grows them).
class MemoryMapping final : public Mapping {
 public:
  MemoryMapping(std::shared_ptr<Content> content, bool writable, uint64_t size)
      : content_(std::move(content)), writable_(writable), size_(size) {
    ++content_->views;
  }
  ~MemoryMapping() override { --content_->views; }
  MemoryMapping(const MemoryMapping&) = delete;
  MemoryMapping& operator=(const MemoryMapping&) = delete;

  uint8_t* Data() override { return content_->bytes.data(); }
  uint64_t Size() const override { return size_; }
  int Grow(uint64_t newSize) override {
    std::vector<uint8_t>& b = content_->bytes;
    if (newSize > b.size()) {
      // Another view of these bytes would be left pointing at freed memory.
      if (!writable_ || content_->views > 1) return kErrLockViolation;
      b.resize(static_cast<size_t>(newSize));
    }
    size_ = newSize;
    return 0;
  }
  int Flush() override { return 0; }

 private:
  std::shared_ptr<Content> content_;
  const bool writable_;
  uint64_t size_;
};

// A file on the disk opened for reading: nothing can be written through it.
class DiskFile final : public File {
 public:
  explicit DiskFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}
  File* inner() const { return inner_.get(); }

  int Read(void* buf, uint32_t n, uint32_t* got) override { return inner_->Read(buf, n, got); }
  int Write(const void*, uint32_t, uint32_t* put) override {
    *put = 0;
    return kErrAccessDenied;
  }
  int Seek(uint64_t offset) override { return inner_->Seek(offset); }
  int Size(uint64_t* size) override { return inner_->Size(size); }
  int SetEnd() override { return kErrAccessDenied; }
  int GetTimes(FileTimes* times) override { return inner_->GetTimes(times); }
  int SetTimes(const FileTimes&) override { return kErrAccessDenied; }
  int Flush() override { return 0; }

 private:
  std::unique_ptr<File> inner_;
};

}  // namespace

RehearsalEnv::RehearsalEnv(Env* real) : EnvWrapper(real) {}
RehearsalEnv::~RehearsalEnv() = default;

RehearsalEnv::Node* RehearsalEnv::Find(const std::string& key) {
  auto it = nodes_.find(key);
  return it != nodes_.end() ? &it->second : nullptr;
}

RehearsalEnv::Node& RehearsalEnv::Put(const std::string& key, const char* path, Node::Kind kind) {
  auto it = nodes_.find(key);
  if (it == nodes_.end()) {
    Node node{kind, Spelled(path), CoreSettled(path), target()->Exists(path), nullptr};
    it = nodes_.emplace(key, std::move(node)).first;
  }
  it->second.kind = kind;
  if (kind != Node::kFile) it->second.content.reset();
  return it->second;
}

bool RehearsalEnv::FolderThere(const std::string& key, const char* path) {
  if (key.empty()) return true;  // the current folder
  if (const Node* node = Find(key)) return node->kind == Node::kFolder;
  return target()->IsFolder(path);
}

bool RehearsalEnv::ParentThere(const char* path) {
  const std::string parent = ParentOf(CoreSettled(path));
  return FolderThere(KeyOf(parent.c_str()), parent.c_str());
}

int RehearsalEnv::Load(const char* path, Share share, std::shared_ptr<Content>* out) {
  if (Node* node = Find(KeyOf(path))) {
    if (node->kind != Node::kFile)
      return node->kind == Node::kGone ? kErrNotFound : kErrAccessDenied;
    *out = std::make_shared<Content>(*node->content);
    (*out)->views = 0;
    return 0;
  }
  std::unique_ptr<File> file;
  if (int rc = target()->Open(path, Access::Read, share, Disposition::OpenExisting, 0, &file)) {
    return rc;
  }
  auto content = std::make_shared<Content>();
  if (!ReadAll(*file, &content->bytes)) return kErrAccessDenied;
  file->GetTimes(&content->times);
  uint32_t attributes = 0;
  if (GetAttributes(path, &attributes) == 0) content->attributes = attributes;
  *out = std::move(content);
  return 0;
}

int RehearsalEnv::Open(const char* path, Access access, Share share, Disposition disposition,
                       uint32_t attributes, std::unique_ptr<File>* out) {
  out->reset();
  const std::string key = KeyOf(path);
  const bool writable = access == Access::ReadWrite;
  const bool truncate = disposition == Disposition::CreateAlways;
  Node* node = Find(key);
  if (node != nullptr && node->kind == Node::kFolder) return kErrAccessDenied;
  if (node != nullptr && node->kind == Node::kFile) {
    if (writable && (node->content->attributes & ATTR_READONLY) != 0) return kErrAccessDenied;
    if (truncate) {
      if (node->content->views > 0) return kErrLockViolation;
      node->content->bytes.clear();
    }
    out->reset(new MemoryFile(node->content, writable || truncate));
    return 0;
  }
  const bool onDisk = node == nullptr && target()->Exists(path);
  if (!onDisk) {
    if (disposition == Disposition::OpenExisting) return kErrNotFound;
    if (!ParentThere(path)) return kErrPathNotFound;
    auto content = std::make_shared<Content>();
    content->attributes = attributes != 0 ? attributes : ATTR_NORMAL;
    const uint64_t now = Now();
    content->times = FileTimes{now, now, now};
    Node& made = Put(key, path, Node::kFile);
    made.content = content;
    out->reset(new MemoryFile(content, true));
    return 0;
  }
  if (target()->IsFolder(path)) return kErrAccessDenied;
  if (!writable && !truncate) {
    std::unique_ptr<File> file;
    if (int rc = target()->Open(path, Access::Read, share, Disposition::OpenExisting, 0, &file))
      return rc;
    out->reset(new DiskFile(std::move(file)));
    return 0;
  }
  // Written: the file's bytes move into memory first.
  uint32_t held = 0;
  if (GetAttributes(path, &held) == 0 && (held & ATTR_READONLY) != 0) return kErrAccessDenied;
  std::shared_ptr<Content> content;
  if (int rc = Load(path, share, &content)) return rc;
  if (truncate) content->bytes.clear();
  attributes_.erase(key);
  Node& made = Put(key, path, Node::kFile);
  made.content = content;
  out->reset(new MemoryFile(content, true));
  return 0;
}

int RehearsalEnv::Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) {
  out->reset();
  if (size == 0) return kErrInvalid;
  if (auto* disk = dynamic_cast<DiskFile*>(file)) {
    if (writable) return kErrAccessDenied;
    return target()->Map(disk->inner(), false, size, out);
  }
  auto* memory = dynamic_cast<MemoryFile*>(file);
  if (memory == nullptr) return target()->Map(file, writable, size, out);
  const std::shared_ptr<Content>& content = memory->content();
  if (writable && !memory->writable()) return kErrAccessDenied;
  if (size > content->bytes.size()) {
    if (!writable) return kErrInvalid;  // a read-only view must not pass the file's end
    if (content->views > 0) return kErrLockViolation;
    content->bytes.resize(static_cast<size_t>(size));
  }
  out->reset(new MemoryMapping(content, writable, size));
  return 0;
}

int RehearsalEnv::GetAttributes(const char* path, uint32_t* attributes) {
  const std::string key = KeyOf(path);
  if (const Node* node = Find(key)) {
    switch (node->kind) {
      case Node::kFolder:
        *attributes = ATTR_DIRECTORY;
        return 0;
      case Node::kFile:
        *attributes = node->content->attributes;
        return 0;
      default:
        return kErrNotFound;
    }
  }
  auto set = attributes_.find(key);
  if (set != attributes_.end() && target()->Exists(path)) {
    *attributes = set->second;
    return 0;
  }
  return target()->GetAttributes(path, attributes);
}

int RehearsalEnv::SetAttributes(const char* path, uint32_t attributes) {
  const std::string key = KeyOf(path);
  if (Node* node = Find(key)) {
    if (node->kind == Node::kGone) return kErrNotFound;
    if (node->kind == Node::kFile) node->content->attributes = attributes;
    return 0;
  }
  if (!target()->Exists(path)) return kErrNotFound;
  attributes_[key] = attributes;
  return 0;
}

int RehearsalEnv::CreateFolder(const char* path) {
  if (Exists(path)) return kErrAlreadyExists;
  if (!ParentThere(path)) return kErrPathNotFound;
  Put(KeyOf(path), path, Node::kFolder);
  return 0;
}

bool RehearsalEnv::Exists(const char* path) {
  if (const Node* node = Find(KeyOf(path))) return node->kind != Node::kGone;
  return target()->Exists(path);
}

bool RehearsalEnv::IsFolder(const char* path) {
  if (const Node* node = Find(KeyOf(path))) return node->kind == Node::kFolder;
  return target()->IsFolder(path);
}

int RehearsalEnv::Delete(const char* path) {
  const std::string key = KeyOf(path);
  Node* node = Find(key);
  if (node == nullptr ? !target()->Exists(path) || target()->IsFolder(path)
                      : node->kind != Node::kFile) {
    return node != nullptr && node->kind == Node::kFolder ? kErrAccessDenied : kErrNotFound;
  }
  attributes_.erase(key);
  if (node != nullptr && !node->onDisk) {
    nodes_.erase(key);
  } else {
    Put(key, path, Node::kGone);
  }
  return 0;
}

int RehearsalEnv::Rename(const char* from, const char* to) {
  const std::string fromKey = KeyOf(from), toKey = KeyOf(to);
  if (IsFolder(from) || IsFolder(to)) return kErrAccessDenied;
  std::shared_ptr<Content> content;
  if (Node* node = Find(fromKey)) {
    if (node->kind != Node::kFile) return kErrNotFound;
    content = node->content;
  } else if (int rc = Load(from, Share::None, &content)) {
    return rc;
  }
  if (!ParentThere(to)) return kErrPathNotFound;
  if (fromKey == toKey) return 0;
  Delete(from);
  attributes_.erase(toKey);
  Node& made = Put(toKey, to, Node::kFile);
  made.content = std::move(content);
  return 0;
}

int RehearsalEnv::SyncFolder(const char* path) {
  return FolderThere(KeyOf(path), path) ? 0 : kErrPathNotFound;
}

int RehearsalEnv::Copy(const char* from, const char* to) {
  if (IsFolder(to)) return kErrAccessDenied;
  std::shared_ptr<Content> content;
  if (int rc = Load(from, Share::Read, &content)) return rc;
  if (!ParentThere(to)) return kErrPathNotFound;
  const std::string key = KeyOf(to);
  attributes_.erase(key);
  Node& made = Put(key, to, Node::kFile);
  made.content = std::move(content);
  return 0;
}

int RehearsalEnv::ListFolder(const char* path, std::vector<FolderEntry>* out) {
  out->clear();
  const std::string key = KeyOf(path);
  const Node* node = Find(key);
  if (node != nullptr && node->kind != Node::kFolder) return kErrPathNotFound;
  if (node == nullptr || node->onDisk) {
    if (int rc = target()->ListFolder(path, out)) return rc;
  }
  for (const auto& entry : nodes_) {
    if (ParentOf(entry.first) != key || entry.first == key) continue;
    const Node& child = entry.second;
    const std::string name = NameOf(child.core);  // in the listing's code page
    auto at = std::find_if(out->begin(), out->end(),
                           [&](const FolderEntry& e) { return Folded(e.name) == Folded(name); });
    if (child.kind == Node::kGone) {
      if (at != out->end()) out->erase(at);
      continue;
    }
    if (at == out->end()) at = out->insert(out->end(), FolderEntry{name, false, 0});
    at->folder = child.kind == Node::kFolder;
    at->size = child.kind == Node::kFile ? child.content->bytes.size() : 0;
  }
  return 0;
}

int RehearsalEnv::ResolveLink(const char* path, std::string* out) {
  if (Find(KeyOf(path)) != nullptr) {
    *out = path;
    return 0;
  }
  return target()->ResolveLink(path, out);
}

int RehearsalEnv::StartProgram(const char* commandLine) {
  programs_.push_back(commandLine);
  return 0;
}

const std::vector<uint8_t>* RehearsalEnv::Bytes(const char* path) const {
  auto it = nodes_.find(KeyOf(path));
  if (it == nodes_.end() || it->second.kind != Node::kFile) return nullptr;
  return &it->second.content->bytes;
}

std::vector<RehearsalEnv::Change> RehearsalEnv::Changes() {
  std::vector<Change> changes;
  for (const auto& entry : nodes_) {
    const Node& node = entry.second;
    const char* path = node.core.c_str();
    switch (node.kind) {
      case Node::kFolder:
        if (!target()->IsFolder(path)) changes.push_back({Change::kFolderCreated, node.path, 0});
        break;
      case Node::kGone:
        if (target()->Exists(path)) changes.push_back({Change::kDeleted, node.path, 0});
        break;
      case Node::kFile: {
        const std::vector<uint8_t>& bytes = node.content->bytes;
        Change::Kind kind = Change::kCreated;
        if (target()->Exists(path)) {
          std::unique_ptr<File> file;
          const bool same = target()->Open(path, Access::Read, Share::Read,
                                           Disposition::OpenExisting, 0, &file) == 0 &&
                            SameBytes(*file, bytes);
          kind = same ? Change::kRewritten : Change::kReplaced;
        }
        changes.push_back({kind, node.path, bytes.size()});
        break;
      }
    }
  }
  return changes;
}

}  // namespace plat
