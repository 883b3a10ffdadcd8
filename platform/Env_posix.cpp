// The POSIX backend of the file and mapping seam. Read-only is the absence
// of every write permission bit and is enforced here the way Windows
// enforces the attribute, even for a caller that the system would let write
// (root): the core must meet the same refusals on both backends.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <linux/fs.h>  // FICLONE
#endif

#include "platform/EnvBackend.h"
#include "platform/PosixSupport.h"

namespace plat {

namespace {

using posix::Resolve;

// Owns a file descriptor; closing it also releases its flock.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// FILETIME counts 100 ns units from 1601-01-01; Unix time seconds from 1970.
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kUnitsPerSecond = 10000000;

uint64_t ToFileTime(const timespec& ts) {
  int64_t units = (static_cast<int64_t>(ts.tv_sec) + kSecondsFrom1601To1970) * kUnitsPerSecond +
                  ts.tv_nsec / 100;
  return units > 0 ? static_cast<uint64_t>(units) : 0;
}

timespec FromFileTime(uint64_t fileTime) {
  timespec ts;
  if (fileTime == 0) {
    ts.tv_sec = 0;
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(fileTime / kUnitsPerSecond) -
                                  kSecondsFrom1601To1970);
  ts.tv_nsec = static_cast<long>(fileTime % kUnitsPerSecond) * 100;
  return ts;
}

// Maps size bytes of fd from offset 0. A writable view larger than the file
// first gives the file its blocks (so a full disk is an error here, not a
// SIGBUS on a later store into the view); a read-only one must fit the file.
int MapView(int fd, bool writable, uint64_t size, uint8_t** view) {
  if (size == 0 || size > static_cast<uint64_t>(SIZE_MAX)) return EINVAL;
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  if (fileSize < size) {
    if (!writable) return EINVAL;
    int rc = posix_fallocate(fd, static_cast<off_t>(fileSize), static_cast<off_t>(size - fileSize));
    if (rc == EOPNOTSUPP || rc == EINVAL) {
      rc = ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    if (rc != 0) return rc;
  }
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ | (writable ? PROT_WRITE : 0),
                 MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return errno;
  *view = static_cast<uint8_t*>(p);
  return 0;
}

// Follows path while it is a symbolic link; a relative target counts from the
// link's folder. The end may not exist (a dangling link gives its target).
int FollowLinks(const std::string& path, std::string* out) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *out = p;
      return 0;
    }
    char target[4096];
    ssize_t n = readlink(p.c_str(), target, sizeof target - 1);
    if (n < 0) return errno;
    target[n] = '\0';
    if (target[0] == '/') {
      p = target;
    } else {
      size_t slash = p.rfind('/');
      p = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + target;
    }
  }
  return ELOOP;
}

// Copies size bytes from in to out: a clone of the extents where the
// filesystem shares them, else copy_file_range in the kernel, else plain
// reads and writes (across filesystems, or where neither is known).
int CopyBytes(int in, int out, uint64_t size) {
#ifdef FICLONE
  if (ioctl(out, FICLONE, in) == 0) return 0;
#endif
  uint64_t done = 0;
  bool kernel = true;
  while (done < size) {
    ssize_t n = -1;
    if (kernel) {
      n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        kernel = false;
        continue;
      }
    } else {
      char buf[1 << 16];
      n = pread(in, buf, sizeof buf, static_cast<off_t>(done));
      if (n > 0) {
        ssize_t put = 0;
        while (put < n) {
          ssize_t w =
              pwrite(out, buf + put, static_cast<size_t>(n - put), static_cast<off_t>(done + put));
          if (w < 0 && errno == EINTR) continue;
          if (w < 0) return errno;
          put += w;
        }
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // the source ended early (it shrank)
    done += static_cast<uint64_t>(n);
  }
  return 0;
}

class PosixFile : public BackendFile {
 public:
  PosixFile(int fd, bool writable) : BackendFile(writable), fd_(fd) {}

  int fd() const { return fd_.get(); }

  int Read(void* buf, uint32_t n, uint32_t* got) override {
    *got = 0;
    auto* p = static_cast<uint8_t*>(buf);
    while (*got < n) {
      ssize_t r = pread(fd_.get(), p + *got, n - *got, static_cast<off_t>(pos_));
      if (r < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (r == 0) break;
      *got += static_cast<uint32_t>(r);
      pos_ += static_cast<uint64_t>(r);
    }
    return 0;
  }

  int Write(const void* buf, uint32_t n, uint32_t* put) override {
    *put = 0;
    if (!writable_) return EBADF;
    auto* p = static_cast<const uint8_t*>(buf);
    while (*put < n) {
      ssize_t r = pwrite(fd_.get(), p + *put, n - *put, static_cast<off_t>(pos_));
      if (r < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      *put += static_cast<uint32_t>(r);
      pos_ += static_cast<uint64_t>(r);
    }
    return 0;
  }

  int Seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return EINVAL;
    pos_ = offset;
    return 0;
  }

  int Size(uint64_t* size) override {
    struct stat st;
    if (fstat(fd_.get(), &st) != 0) return errno;
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
  }

  int SetEnd() override {
    if (!writable_) return EBADF;
    return ftruncate(fd_.get(), static_cast<off_t>(pos_)) == 0 ? 0 : errno;
  }

  // There is no creation time here: the status change time stands in for it.
  int GetTimes(FileTimes* times) override {
    struct stat st;
    if (fstat(fd_.get(), &st) != 0) return errno;
    times->creation = ToFileTime(st.st_ctim);
    times->lastAccess = ToFileTime(st.st_atim);
    times->lastWrite = ToFileTime(st.st_mtim);
    return 0;
  }

  // The creation time cannot be set and is ignored.
  int SetTimes(const FileTimes& times) override {
    if (!writable_) return EBADF;
    timespec ts[2] = {FromFileTime(times.lastAccess), FromFileTime(times.lastWrite)};
    return futimens(fd_.get(), ts) == 0 ? 0 : errno;
  }

  int Flush() override {
    while (fsync(fd_.get()) != 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }

 private:
  Fd fd_;
  uint64_t pos_ = 0;
};

class PosixMapping : public BackendMapping {
 public:
  PosixMapping(int fd, bool writable, uint8_t* view, uint64_t size)
      : BackendMapping(writable, view, size), fd_(fd) {}
  ~PosixMapping() override { munmap(view_, static_cast<size_t>(size_)); }

  // The new view is made before the old one goes, so a failure keeps the old.
  int Grow(uint64_t newSize) override {
    uint8_t* view = nullptr;
    int rc = MapView(fd_, writable_, newSize, &view);
    if (rc != 0) return rc;
    munmap(view_, static_cast<size_t>(size_));
    view_ = view;
    size_ = newSize;
    return 0;
  }

  int Flush() override {
    if (!writable_) return 0;
    // The mapping and the file share the page cache, so the pages are in the
    // file already and File::Flush (fsync) writes them; waiting for the disk
    // here (MS_SYNC) would write the whole view twice.
    return msync(view_, static_cast<size_t>(size_), MS_ASYNC) == 0 ? 0 : errno;
  }

 private:
  int fd_;  // owned by the File, which outlives the mapping
};

class PosixEnv : public Env {
 public:
  static constexpr int kOpenRounds = 8;

  int Open(const char* path, Access access, Share share, Disposition disposition,
           uint32_t attributes, std::unique_ptr<File>* out) override {
    out->reset();
    const std::string p = Resolve(path);
    if (p.empty()) return ENOENT;
    const bool writable = access == Access::ReadWrite;
    const bool truncate = disposition == Disposition::CreateAlways;
    const int rw = (writable || truncate) ? O_RDWR : O_RDONLY;

    Fd fd;
    bool created = false;
    // Opening and creating race with other processes (a file deleted between
    // the two calls); a few rounds settle that. A dangling symbolic link
    // makes the open say "missing" and the exclusive create say "exists"
    // for ever, so the rounds are bounded and the link is followed instead:
    // the file is created at the link's target.
    const mode_t mode = (attributes & ATTR_READONLY) != 0 ? 0444 : 0666;
    for (int round = 0;; ++round) {
      if (round == kOpenRounds) return ELOOP;
      fd.reset(open(p.c_str(), rw | O_CLOEXEC));
      if (fd.get() >= 0) break;
      if (errno == EINTR) continue;
      if (errno != ENOENT || disposition == Disposition::OpenExisting) return errno;
      fd.reset(open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
      if (fd.get() >= 0) {
        created = true;
        break;
      }
      if (errno == EINTR) continue;
      if (errno != EEXIST) return errno;
      struct stat link;
      if (lstat(p.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::string target;
        if (int rc = FollowLinks(p, &target)) return rc;
        fd.reset(open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd.get() >= 0) {
          created = true;
          break;
        }
        if (errno != EEXIST && errno != EINTR) return errno;
      }
    }

    struct stat st;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!created && (writable || truncate) && IsReadOnlyMode(st.st_mode)) return EACCES;

    // A writer or a non-sharing opener excludes every other opener; readers
    // that share reading exclude only those.
    const int lock = (writable || share == Share::None) ? LOCK_EX : LOCK_SH;
    while (flock(fd.get(), lock | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return kErrSharingViolation;
      if (errno == ENOLCK || errno == EOPNOTSUPP) break;  // a filesystem without locks
      return errno;
    }
    if (truncate && !created && ftruncate(fd.get(), 0) != 0) return errno;

    out->reset(new PosixFile(fd.release(), writable));
    return 0;
  }

  int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) override {
    out->reset();
    auto* f = dynamic_cast<PosixFile*>(file);
    if (f == nullptr) return EINVAL;
    if (writable && !f->writable()) return EACCES;
    uint8_t* view = nullptr;
    int rc = MapView(f->fd(), writable, size, &view);
    if (rc != 0) return rc;
    out->reset(new PosixMapping(f->fd(), writable, view, size));
    return 0;
  }

  int GetAttributes(const char* path, uint32_t* attributes) override {
    struct stat st;
    if (stat(Resolve(path).c_str(), &st) != 0) return errno;
    uint32_t a = S_ISDIR(st.st_mode) ? ATTR_DIRECTORY : ATTR_ARCHIVE;
    if (IsReadOnlyMode(st.st_mode)) a |= ATTR_READONLY;
    *attributes = a;
    return 0;
  }

  // Only the read-only bit has a meaning here (and none on a folder); the
  // other bits are accepted and ignored. Clearing read-only gives the owner
  // write permission.
  int SetAttributes(const char* path, uint32_t attributes) override {
    const std::string p = Resolve(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return 0;
    mode_t mode = st.st_mode & 07777;
    if ((attributes & ATTR_READONLY) != 0) {
      mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    } else if (IsReadOnlyMode(mode)) {
      mode |= S_IWUSR;
    }
    if (mode == (st.st_mode & 07777)) return 0;
    return chmod(p.c_str(), mode) == 0 ? 0 : errno;
  }

  int CreateFolder(const char* path) override {
    return mkdir(Resolve(path).c_str(), 0777) == 0 ? 0 : errno;
  }

  bool Exists(const char* path) override {
    struct stat st;
    return stat(Resolve(path).c_str(), &st) == 0;
  }

  bool IsFolder(const char* path) override {
    struct stat st;
    return stat(Resolve(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  // Like DeleteFile: files only, and not a read-only one.
  int Delete(const char* path) override {
    const std::string p = Resolve(path);
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode) && IsReadOnlyMode(st.st_mode)) return EACCES;
    return unlink(p.c_str()) == 0 ? 0 : errno;
  }

  int Rename(const char* from, const char* to) override {
    return rename(Resolve(from).c_str(), Resolve(to).c_str()) == 0 ? 0 : errno;
  }

  int SyncFolder(const char* path) override {
    std::string p = Resolve(path);
    if (p.empty()) p = ".";
    Fd fd(open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return errno;
    while (fsync(fd.get()) != 0) {
      if (errno == EINTR) continue;
      // Some filesystems cannot sync a folder; their entries are as durable
      // as they will get.
      if (errno == EINVAL || errno == EROFS) return 0;
      return errno;
    }
    return 0;
  }

  int Copy(const char* from, const char* to) override {
    Fd in(open(Resolve(from).c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return errno;
    struct stat st;
    if (fstat(in.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    Fd out(open(Resolve(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) return errno;
    return CopyBytes(in.get(), out.get(), static_cast<uint64_t>(st.st_size));
  }

  int ListFolder(const char* path, std::vector<FolderEntry>* out) override {
    out->clear();
    std::string p = Resolve(path);
    if (p.empty()) p = ".";
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(p.c_str()), closedir);
    if (!dir) return errno;
    if (p.back() != '/') p += '/';
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      FolderEntry e;
      posix::CorePath(entry->d_name, &e.name);  // a character the code page lacks is '?'
      struct stat st;
      if (stat((p + entry->d_name).c_str(), &st) == 0) {
        e.folder = S_ISDIR(st.st_mode);
        e.size = e.folder ? 0 : static_cast<uint64_t>(st.st_size);
      }
      out->push_back(std::move(e));
      errno = 0;
    }
    return errno;
  }

  // The target is handed back as the core names paths; a path that is no
  // link comes back as it was given.
  int ResolveLink(const char* path, std::string* out) override {
    const std::string native = Resolve(path);
    std::string target;
    if (int rc = FollowLinks(native, &target)) return rc;
    if (target == native) {
      *out = path != nullptr ? path : "";
      return 0;
    }
    return posix::CorePath(target, out) ? 0 : EILSEQ;
  }

  DriveType GetDriveType(const char* path) override { return posix::DriveTypeOf(path); }

  // The folder named by UPDATER_SYSTEM_DIR, or /usr/lib without it.
  std::string SystemFolder() override {
    const char* dir = std::getenv("UPDATER_SYSTEM_DIR");
    std::string s = (dir != nullptr && *dir != '\0') ? dir : "/usr/lib";
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    std::string core;
    posix::CorePath(s, &core);
    return core;
  }

  int StartProgram(const char* commandLine) override { return posix::Spawn(commandLine); }
};

}  // namespace

Env* BackendEnv() {
  static PosixEnv env;
  return &env;
}

}  // namespace plat
