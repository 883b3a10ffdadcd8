// HKEY_LOCAL_MACHINE kept in a .reg text file. Every query looks at the
// file (parsed again only when it changed) and every change rewrites it, so
// several processes (updkit, the updater, a person with an editor) see one
// another's changes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/CodePage.h"
#include "platform/Env.h"
#include "platform/PosixSupport.h"
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

// Why the last load failed, for RegistryNote (empty: no known reason).
std::string g_problem;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// True when a process holds the lock of the server folder `dir` (Wine's
// server holds a write lock on its file "lock" while it runs).
bool ServerLocked(const std::string& dir) {
  Fd lock(open((dir + "/lock").c_str(), O_RDONLY | O_CLOEXEC));
  if (lock.fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 1;
  return fcntl(lock.fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// True while a wineserver runs for the prefix: its folder is named after
// the prefix's device and inode (server-<dev>-<inode>), below
// /tmp/.wine-<uid> as Wine makes it, or, as Debian's Wine makes it, below
// $XDG_RUNTIME_DIR/wine (/run/user/<uid>/wine) or below the folder of
// $TMPDIR (or /tmp) that the prefix's file "wineserver" names.
bool WineServerRuns(const std::string& prefix) {
  struct stat st;
  if (stat(prefix.c_str(), &st) != 0) return false;
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string uid = std::to_string(getuid());
  std::vector<std::string> bases = {"/tmp/.wine-" + uid, "/run/user/" + uid + "/wine"};
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
    bases.push_back(std::string(runtime) + "/wine");
  std::string named;
  {
    Fd in(open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC));
    char buf[256];
    const ssize_t n = in.fd >= 0 ? read(in.fd, buf, sizeof buf) : -1;
    if (n > 0) named.assign(buf, static_cast<size_t>(n));
    while (!named.empty() && (named.back() == '\n' || named.back() == '\0')) named.pop_back();
  }
  if (!named.empty() && named.find('/') == std::string::npos) {
    const char* tmp = std::getenv("TMPDIR");
    bases.push_back(std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + named);
  }
  for (const std::string& base : bases) {
    if (ServerLocked(base + server)) return true;
  }
  return false;
}

// The file's bytes; false with errno set when it cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes) {
  Fd in(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    bytes->append(buf, static_cast<size_t>(n));
  }
}

// The document last read or written, and the file it came from as it was
// then: the next access parses the file again only when it changed.
struct Cached {
  std::string path;
  struct stat st {};
  std::shared_ptr<regfile::Document> doc;
};
Cached g_cache;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void Remember(const std::string& path, const regfile::Document& doc) {
  g_cache.path.clear();
  if (stat(path.c_str(), &g_cache.st) != 0) return;
  g_cache.path = path;
  g_cache.doc = std::make_shared<regfile::Document>(doc);
}

// The registry as the file holds it now, shared with the cache (readers
// leave it as it is; a change is made on a copy); a missing file is an
// empty registry. A Wine prefix's file is refused while its wineserver runs.
int Load(std::shared_ptr<regfile::Document>* loaded) {
  g_problem.clear();
  *loaded = std::make_shared<regfile::Document>();
  const std::string path = RegistryFilePath();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      g_problem = std::string("The file cannot be read: ") + std::strerror(errno) + ".";
      return kErrAccessDenied;
    }
    g_problem = "The file does not exist.";
    return 0;
  }
  const bool cached = g_cache.path == path && SameFile(g_cache.st, st);
  std::string bytes;
  if (!cached && !ReadBytes(path, &bytes)) {
    g_problem = std::string("The file cannot be read: ") + std::strerror(errno) + ".";
    return kErrAccessDenied;
  }
  const bool wine = cached ? g_cache.doc->format == regfile::Format::Wine
                           : bytes.compare(0, 13, "WINE REGISTRY") == 0;
  if (wine && WineServerRuns(FolderOf(path))) {
    g_problem = "Its Wine prefix " + FolderOf(path) +
                " is in use: a wineserver runs for it and would write over the file. End the "
                "prefix's programs (or run \"wineserver -k\" with WINEPREFIX set to the prefix) "
                "and start again.";
    return kRegErrBusy;
  }
  if (cached) {
    *loaded = g_cache.doc;
    return 0;
  }
  int line = 0;
  if (int rc = regfile::Parse(bytes, loaded->get(), &line)) {
    g_problem = "Line " + std::to_string(line) + " of the file cannot be read.";
    return rc;
  }
  g_cache.path = path;
  g_cache.st = st;
  g_cache.doc = *loaded;
  return 0;
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
  // The Env takes paths as the core names them.
  const std::string native = RegistryFilePath();
  std::string path;
  if (!posix::CorePath(native, &path)) return kRegErrWriteFault;
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
  if (env->SyncFolder(folder.c_str()) != 0) return kRegErrWriteFault;
  Remember(native, doc);
  return 0;
}

class FileKey : public RegKey {
 public:
  explicit FileKey(std::string path) : path_(std::move(path)) {}

  int Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document& doc = *loaded;
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
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document doc = *loaded;  // changed on a copy
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
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document doc = *loaded;  // changed on a copy
    regfile::Key* key = regfile::FindKey(&doc, path_);
    RegValue* v = key != nullptr ? regfile::FindValue(key, name != nullptr ? name : "") : nullptr;
    if (v == nullptr) return kRegErrNotFound;
    key->values.erase(key->values.begin() + (v - key->values.data()));
    return Save(doc);
  }

  int List(std::vector<RegValue>* values) override {
    values->clear();
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document& doc = *loaded;
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

// The key the 32-bit game means by path: below SOFTWARE, the same key below
// SOFTWARE\Wow6432Node where the file holds that (a 64-bit Wine prefix, or a
// registry exported from 64-bit Windows, keeps a 32-bit installer's keys
// there), else path itself.
std::string GameView(const regfile::Document& doc, const std::string& path) {
  constexpr char kSoftware[] = "SOFTWARE\\";
  constexpr size_t kLength = sizeof kSoftware - 1;
  if (path.size() <= kLength || !regfile::IsSameOrBelow(path, "SOFTWARE") ||
      regfile::IsSameOrBelow(path, "SOFTWARE\\Wow6432Node")) {
    return path;
  }
  const std::string redirected = "SOFTWARE\\Wow6432Node\\" + path.substr(kLength);
  return regfile::KeyExists(doc, redirected) ? redirected : path;
}

class FileRegistry : public Registry {
 public:
  int OpenKey(const char* path, std::unique_ptr<RegKey>* out) override {
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document& doc = *loaded;
    std::string p = GameView(doc, Normal(path));
    if (!regfile::KeyExists(doc, p)) return kRegErrNotFound;
    out->reset(new FileKey(p));
    return 0;
  }

  int CreateKey(const char* path, std::unique_ptr<RegKey>* out) override {
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document doc = *loaded;  // changed on a copy
    std::string p = GameView(doc, Normal(path));
    if (!regfile::KeyExists(doc, p)) {
      regfile::AddKey(&doc, p);
      if (int err = Save(doc)) return err;
    }
    out->reset(new FileKey(p));
    return 0;
  }

  int ListKeys(const char* path, std::vector<std::string>* keys) override {
    keys->clear();
    std::shared_ptr<regfile::Document> loaded;
    if (int err = Load(&loaded)) return err;
    regfile::Document& doc = *loaded;
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

std::string RegistryNote() {
  std::string note = "\nRegistry file: " + Utf8ToAnsi(RegistryFilePath()) +
                     " (the environment variable UPDATER_REGISTRY chooses it)";
  if (!g_problem.empty()) note += "\n" + Utf8ToAnsi(g_problem);
  return note;
}

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
