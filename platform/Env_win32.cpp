// The Windows backend of the file and mapping seam: KERNEL32 as it is.
#include "platform/Env.h"
#include "platform/EnvBackend.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>
// windows.h maps GetDriveType to GetDriveTypeA, which would rename Env's member.
#undef GetDriveType

namespace plat {

namespace {

int LastError() {
  DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_GEN_FAILURE;
}

// Owns a kernel handle (a file or a file-mapping object).
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() { reset(nullptr); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  void reset(HANDLE h) {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = h;
  }
  void swap(Handle& other) { std::swap(h_, other.h_); }

 private:
  HANDLE h_;
};

FILETIME ToFiletime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

uint64_t FromFiletime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// A mapping object and a view of size bytes of file from offset 0.
int MapView(HANDLE file, bool writable, uint64_t size, Handle* mapping, uint8_t** view) {
  if (size == 0) return ERROR_INVALID_PARAMETER;
  Handle m(CreateFileMappingA(file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                              static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr));
  if (m.get() == nullptr) return LastError();
  void* v = MapViewOfFile(m.get(), writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                          static_cast<SIZE_T>(size));
  if (v == nullptr) return LastError();
  mapping->swap(m);
  *view = static_cast<uint8_t*>(v);
  return 0;
}

class WinFile : public BackendFile {
 public:
  WinFile(HANDLE h, bool writable) : BackendFile(writable), h_(h) {}

  HANDLE handle() const { return h_.get(); }

  int Read(void* buf, uint32_t n, uint32_t* got) override {
    DWORD r = 0;
    BOOL ok = ReadFile(h_.get(), buf, n, &r, nullptr);
    *got = r;
    return ok ? 0 : LastError();
  }

  int Write(const void* buf, uint32_t n, uint32_t* put) override {
    DWORD w = 0;
    BOOL ok = WriteFile(h_.get(), buf, n, &w, nullptr);
    *put = w;
    return ok ? 0 : LastError();
  }

  int Seek(uint64_t offset) override {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(h_.get(), li, nullptr, FILE_BEGIN) ? 0 : LastError();
  }

  int Size(uint64_t* size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_.get(), &li)) return LastError();
    *size = static_cast<uint64_t>(li.QuadPart);
    return 0;
  }

  int SetEnd() override { return SetEndOfFile(h_.get()) ? 0 : LastError(); }

  int Flush() override { return FlushFileBuffers(h_.get()) ? 0 : LastError(); }

  int GetTimes(FileTimes* times) override {
    FILETIME c, a, w;
    if (!GetFileTime(h_.get(), &c, &a, &w)) return LastError();
    times->creation = FromFiletime(c);
    times->lastAccess = FromFiletime(a);
    times->lastWrite = FromFiletime(w);
    return 0;
  }

  int SetTimes(const FileTimes& times) override {
    FILETIME c = ToFiletime(times.creation), a = ToFiletime(times.lastAccess),
             w = ToFiletime(times.lastWrite);
    BOOL ok =
        SetFileTime(h_.get(), times.creation != 0 ? &c : nullptr,
                    times.lastAccess != 0 ? &a : nullptr, times.lastWrite != 0 ? &w : nullptr);
    return ok ? 0 : LastError();
  }

 private:
  Handle h_;
};

class WinMapping : public BackendMapping {
 public:
  WinMapping(HANDLE file, bool writable, Handle* mapping, uint8_t* view, uint64_t size)
      : BackendMapping(writable, view, size), file_(file) {
    mapping_.swap(*mapping);
  }
  ~WinMapping() override { UnmapViewOfFile(view_); }

  // The larger mapping and view are made before the old ones go, so a
  // failure keeps the old view.
  int Grow(uint64_t newSize) override {
    Handle mapping;
    uint8_t* view = nullptr;
    int rc = MapView(file_, writable_, newSize, &mapping, &view);
    if (rc != 0) return rc;
    UnmapViewOfFile(view_);
    mapping_.swap(mapping);  // the old mapping object closes with `mapping`
    view_ = view;
    size_ = newSize;
    return 0;
  }

  int Flush() override {
    if (!writable_) return 0;
    return FlushViewOfFile(view_, 0) ? 0 : LastError();
  }

 private:
  HANDLE file_;  // owned by the File, which outlives the mapping
  Handle mapping_;
};

// The root that GetDriveTypeA wants: "C:\" for a drive path, "\\server\share\"
// for a network path, empty (the current folder's root) otherwise.
std::string RootOf(const char* path) {
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  std::string p = path != nullptr ? path : "";
  if (p.size() >= 2 && p[1] == ':') return p.substr(0, 2) + "\\";
  if (p.size() >= 2 && sep(p[0]) && sep(p[1])) {
    size_t i = 2;
    for (int part = 0; part < 2; ++part) {
      while (i < p.size() && !sep(p[i])) ++i;
      if (part == 0 && i < p.size()) ++i;
    }
    std::string root = p.substr(0, i) + "\\";
    for (char& c : root) {
      if (c == '/') c = '\\';
    }
    return root;
  }
  return std::string();
}

class WinEnv : public Env {
 public:
  int Open(const char* path, Access access, Share share, Disposition disposition,
           uint32_t attributes, std::unique_ptr<File>* out) override {
    out->reset();
    const bool writable = access == Access::ReadWrite;
    DWORD creation = OPEN_EXISTING;
    if (disposition == Disposition::OpenAlways) creation = OPEN_ALWAYS;
    if (disposition == Disposition::CreateAlways) creation = CREATE_ALWAYS;
    DWORD attr =
        attributes & (ATTR_READONLY | ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ARCHIVE | ATTR_NORMAL);
    if (attr == 0) attr = FILE_ATTRIBUTE_NORMAL;
    // Windows refuses to open a read-only file for writing or to replace it;
    // Wine run by root lets the system's open decide and would allow it.
    if (writable || disposition == Disposition::CreateAlways) {
      DWORD existing = GetFileAttributesA(path);
      if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0 &&
          (existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ERROR_ACCESS_DENIED;
      }
    }
    HANDLE h =
        CreateFileA(path, GENERIC_READ | (writable ? GENERIC_WRITE : 0),
                    share == Share::Read ? FILE_SHARE_READ : 0, nullptr, creation, attr, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    out->reset(new WinFile(h, writable));
    return 0;
  }

  int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) override {
    out->reset();
    auto* f = dynamic_cast<WinFile*>(file);
    if (f == nullptr) return ERROR_INVALID_HANDLE;
    if (writable && !f->writable()) return ERROR_ACCESS_DENIED;
    Handle mapping;
    uint8_t* view = nullptr;
    int rc = MapView(f->handle(), writable, size, &mapping, &view);
    if (rc != 0) return rc;
    out->reset(new WinMapping(f->handle(), writable, &mapping, view, size));
    return 0;
  }

  int GetAttributes(const char* path, uint32_t* attributes) override {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return LastError();
    *attributes = a;
    return 0;
  }

  int SetAttributes(const char* path, uint32_t attributes) override {
    DWORD a = attributes & ~static_cast<DWORD>(ATTR_DIRECTORY);
    if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesA(path, a) ? 0 : LastError();
  }

  int CreateFolder(const char* path) override {
    return CreateDirectoryA(path, nullptr) ? 0 : LastError();
  }

  bool Exists(const char* path) override {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsFolder(const char* path) override {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  int Delete(const char* path) override { return DeleteFileA(path) ? 0 : LastError(); }

  // MOVEFILE_REPLACE_EXISTING is refused for a folder, so a folder is moved
  // without it (onto a name that must be free, as on POSIX for a non-empty one).
  int Rename(const char* from, const char* to) override {
    const DWORD a = GetFileAttributesA(from);
    const bool folder = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const DWORD flags = folder ? 0 : MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return MoveFileExA(from, to, flags) ? 0 : LastError();
  }

  int SyncFolder(const char*) override { return 0; }

  int Copy(const char* from, const char* to) override {
    return CopyFileExA(from, to, nullptr, nullptr, nullptr, 0) ? 0 : LastError();
  }

  int ListFolder(const char* path, std::vector<FolderEntry>* out) override {
    out->clear();
    std::string pattern = path != nullptr ? path : "";
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/' &&
        pattern.back() != ':') {
      pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      int rc = LastError();
      return rc == ERROR_FILE_NOT_FOUND ? 0 : rc;  // an empty folder
    }
    do {
      if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
      FolderEntry e;
      e.name = data.cFileName;
      e.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      e.size = e.folder ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      out->push_back(std::move(e));
    } while (FindNextFileA(find, &data));
    int rc = GetLastError() == ERROR_NO_MORE_FILES ? 0 : LastError();
    FindClose(find);
    return rc;
  }

  // A file symbolic link is a reparse point; its final path comes from a
  // handle opened through it. A dangling link cannot be opened and stays as
  // it is: writing it then fails with a plain error.
  int ResolveLink(const char* path, std::string* out) override {
    *out = path != nullptr ? path : "";
    DWORD a = GetFileAttributesA(out->c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;
    Handle h(CreateFileA(out->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) return 0;
    char buf[MAX_PATH + 8];
    DWORD n = GetFinalPathNameByHandleA(h.get(), buf, sizeof buf, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof buf) return 0;
    std::string final(buf, n);
    if (final.compare(0, 8, "\\\\?\\UNC\\") == 0) {
      final = "\\" + final.substr(7);
    } else if (final.compare(0, 4, "\\\\?\\") == 0) {
      final = final.substr(4);
    }
    *out = final;
    return 0;
  }

  DriveType GetDriveType(const char* path) override {
    std::string root = RootOf(path);
    switch (GetDriveTypeA(root.empty() ? nullptr : root.c_str())) {
      case DRIVE_NO_ROOT_DIR:
        return DriveType::NoRootDir;
      case DRIVE_REMOVABLE:
        return DriveType::Removable;
      case DRIVE_FIXED:
        return DriveType::Fixed;
      case DRIVE_REMOTE:
        return DriveType::Remote;
      case DRIVE_CDROM:
        return DriveType::CdRom;
      case DRIVE_RAMDISK:
        return DriveType::RamDisk;
      default:
        return DriveType::Unknown;
    }
  }

  std::string SystemFolder() override {
    char buf[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
  }

  // WinExec's result is a handle-like value above 31 on success, otherwise
  // 0 (out of resources) or an error code of its own (2, 3, 11 ...).
  int StartProgram(const char* commandLine) override {
    UINT r = WinExec(commandLine, SW_SHOW);
    if (r > 31) return 0;
    return r == 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<int>(r);
  }
};

}  // namespace

Env* BackendEnv() {
  static WinEnv env;
  return &env;
}

}  // namespace plat
