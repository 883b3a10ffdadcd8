// HKEY_LOCAL_MACHINE kept in a .reg text file. Every query reads the file
// and every change rewrites it, so several processes (updkit, the updater,
// a person with an editor) see one another's changes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Env.h"
#include "platform/RegFile.h"
#include "platform/Registry.h"

namespace plat {

namespace {

constexpr int kErrAccessDenied = 5;  // ERROR_ACCESS_DENIED

struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// Loads the file; a missing file is an empty registry.
int Load(regfile::Document* doc) {
  doc->keys.clear();
  std::string path = RegistryFilePath();
  Fd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return errno == ENOENT ? 0 : kErrAccessDenied;
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrAccessDenied;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return regfile::Parse(text, doc);
}

bool WriteAll(File& file, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size() - done, 1u << 20));
    uint32_t put = 0;
    if (file.Write(text.data() + done, n, &put) != 0 || put != n) return false;
    done += n;
  }
  return true;
}

// Writes the whole document to a temporary file beside the registry file,
// flushes it, renames it over the old one and makes the rename durable, so
// that a crash leaves the old registry or the new one.
int Save(const regfile::Document& doc) {
  Env* env = Env::Default();
  const std::string path = RegistryFilePath();
  const std::string temp = path + ".tmp-" + std::to_string(getpid());
  const std::string text = regfile::Serialize(doc);
  bool written = false;
  {
    std::unique_ptr<File> out;
    if (env->Open(temp.c_str(), Access::ReadWrite, Share::None, Disposition::CreateAlways,
                  ATTR_NORMAL, &out) == 0) {
      written = WriteAll(*out, text) && out->Flush() == 0;
    }
  }
  if (!written || env->Rename(temp.c_str(), path.c_str()) != 0) {
    env->Delete(temp.c_str());
    return kRegErrWriteFault;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return env->SyncFolder(folder.c_str()) == 0 ? 0 : kRegErrWriteFault;
}

class FileKey : public RegKey {
 public:
  explicit FileKey(std::string path) : path_(std::move(path)) {}

  int Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    regfile::Key* key = regfile::FindKey(&doc, path_);
    RegValue* v = key != nullptr ? regfile::FindValue(key, name != nullptr ? name : "") : nullptr;
    if (v == nullptr) return kRegErrNotFound;
    if (type != nullptr) *type = v->type;
    uint32_t capacity = *size;
    *size = static_cast<uint32_t>(v->data.size());
    if (data == nullptr) return 0;
    if (v->data.size() > capacity) return kRegErrMoreData;
    if (!v->data.empty()) std::memcpy(data, v->data.data(), v->data.size());
    return 0;
  }

  int Set(const char* name, uint32_t type, const void* data, uint32_t size) override {
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    regfile::Key* key = regfile::FindKey(&doc, path_);
    if (key == nullptr) key = regfile::AddKey(&doc, path_);
    RegValue v;
    v.name = name != nullptr ? name : "";
    v.type = type;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (size > 0) v.data.assign(bytes, bytes + size);
    regfile::SetValue(key, v);
    return Save(doc);
  }

  int Delete(const char* name) override {
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    regfile::Key* key = regfile::FindKey(&doc, path_);
    RegValue* v = key != nullptr ? regfile::FindValue(key, name != nullptr ? name : "") : nullptr;
    if (v == nullptr) return kRegErrNotFound;
    key->values.erase(key->values.begin() + (v - key->values.data()));
    return Save(doc);
  }

  int List(std::vector<RegValue>* values) override {
    values->clear();
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    if (regfile::Key* key = regfile::FindKey(&doc, path_)) *values = key->values;
    return 0;
  }

  // Every change is durable once Set or Delete returned (Save).
  int Flush() override { return 0; }

 private:
  std::string path_;
};

// Without leading or trailing backslashes.
std::string Normal(const char* path) {
  std::string p = path != nullptr ? path : "";
  while (!p.empty() && p.front() == '\\') p.erase(0, 1);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

class FileRegistry : public Registry {
 public:
  int OpenKey(const char* path, std::unique_ptr<RegKey>* out) override {
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    std::string p = Normal(path);
    if (!regfile::KeyExists(doc, p)) return kRegErrNotFound;
    out->reset(new FileKey(p));
    return 0;
  }

  int CreateKey(const char* path, std::unique_ptr<RegKey>* out) override {
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    std::string p = Normal(path);
    if (!regfile::KeyExists(doc, p)) {
      regfile::AddKey(&doc, p);
      if (int err = Save(doc)) return err;
    }
    out->reset(new FileKey(p));
    return 0;
  }

  int ListKeys(const char* path, std::vector<std::string>* keys) override {
    keys->clear();
    regfile::Document doc;
    if (int err = Load(&doc)) return err;
    std::string p = Normal(path);
    for (const regfile::Key& k : doc.keys) {
      if (regfile::IsSameOrBelow(k.path, p)) keys->push_back(k.path);
    }
    std::sort(keys->begin(), keys->end());
    return 0;
  }
};

std::string g_fileOverride;

}  // namespace

void SetRegistryFile(const char* path) { g_fileOverride = path != nullptr ? path : ""; }

std::string RegistryFilePath() {
  if (!g_fileOverride.empty()) return g_fileOverride;
  const char* named = std::getenv("UPDATER_REGISTRY");
  if (named != nullptr && *named != '\0') return named;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.updater-registry.reg";
  return "updater-registry.reg";
}

Registry* BackendRegistry() {
  static FileRegistry registry;
  return &registry;
}

}  // namespace plat
