// An Env for the fuzz targets that keeps every file operation inside one
// folder: a path that names anything outside it is refused (reads) or stops
// the process (writes, which would be a finding). Relative paths count from
// the folder, not from the current folder.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Env.h"
#include "platform/NativePath.h"

namespace fuzzing {

namespace fs = std::filesystem;

class SandboxEnv : public plat::EnvWrapper {
 public:
  // Reads may touch anything below root; writes only what lies below one
  // of the writable folders (each below root).
  SandboxEnv(const fs::path& root, std::initializer_list<fs::path> writable)
      : EnvWrapper(plat::BackendEnv()), root_(Canonical(root)) {
    for (const fs::path& w : writable) writable_.push_back(Canonical(w));
  }

  // p made absolute, with symbolic links and ".." resolved.
  static fs::path Canonical(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p).lexically_normal() : c;
  }

  int Open(const char* path, plat::Access access, plat::Share share, plat::Disposition disposition,
           uint32_t attributes, std::unique_ptr<plat::File>* out) override {
    const bool writes =
        access != plat::Access::Read || disposition != plat::Disposition::OpenExisting;
    return OnPath(path, writes, kNotFound, [&](const char* p) {
      return target()->Open(p, access, share, disposition, attributes, out);
    });
  }
  int GetAttributes(const char* path, uint32_t* attributes) override {
    return OnPath(path, false, kNotFound,
                  [&](const char* p) { return target()->GetAttributes(p, attributes); });
  }
  int SetAttributes(const char* path, uint32_t attributes) override {
    return OnPath(path, true, kNotFound,
                  [&](const char* p) { return target()->SetAttributes(p, attributes); });
  }
  int CreateFolder(const char* path) override {
    return OnPath(path, true, kNotFound, [&](const char* p) { return target()->CreateFolder(p); });
  }
  bool Exists(const char* path) override {
    return OnPath(path, false, false, [&](const char* p) { return target()->Exists(p); });
  }
  bool IsFolder(const char* path) override {
    return OnPath(path, false, false, [&](const char* p) { return target()->IsFolder(p); });
  }
  int Delete(const char* path) override {
    return OnPath(path, true, kNotFound, [&](const char* p) { return target()->Delete(p); });
  }
  int Rename(const char* from, const char* to) override {
    return OnPaths(from, true, to,
                   [&](const char* a, const char* b) { return target()->Rename(a, b); });
  }
  int SyncFolder(const char* path) override {
    return OnPath(path, false, kNotFound, [&](const char* p) { return target()->SyncFolder(p); });
  }
  int Copy(const char* from, const char* to) override {
    return OnPaths(from, false, to,
                   [&](const char* a, const char* b) { return target()->Copy(a, b); });
  }
  int ListFolder(const char* path, std::vector<plat::FolderEntry>* out) override {
    return OnPath(path, false, kNotFound,
                  [&](const char* p) { return target()->ListFolder(p, out); });
  }
  int ResolveLink(const char* path, std::string* out) override {
    // Links inside the sandbox are not followed out of it.
    return OnPath(path, false, kNotFound, [&](const char*) {
      *out = path;
      return 0;
    });
  }
  plat::DriveType GetDriveType(const char* path) override {
    return OnPath(path, false, plat::DriveType::NoRootDir,
                  [&](const char* p) { return target()->GetDriveType(p); });
  }
  std::string SystemFolder() override { return (root_ / "sys").string(); }
  int StartProgram(const char* commandLine) override {
    std::fprintf(stderr, "SandboxEnv: program started: %s\n", commandLine);
    std::abort();
  }

 private:
  static constexpr int kNotFound = 2;  // ENOENT

  static bool Below(const fs::path& p, const fs::path& folder) {
    auto a = p.begin();
    for (auto b = folder.begin(); b != folder.end(); ++b, ++a) {
      if (a == p.end() || *a != *b) return false;
    }
    return true;
  }

  // The call on the native path when Allow lets the operation go ahead, else refused.
  template <typename Result, typename Call>
  Result OnPath(const char* path, bool writes, Result refused, Call call) const {
    std::string p;
    return Allow(path, writes, &p) ? call(p.c_str()) : refused;
  }

  // The same for a call from one path to another, which always writes `to`.
  template <typename Call>
  int OnPaths(const char* from, bool writesFrom, const char* to, Call call) const {
    std::string a, b;
    if (!Allow(from, writesFrom, &a) || !Allow(to, true, &b)) return kNotFound;
    return call(a.c_str(), b.c_str());
  }

  // Whether the operation may go ahead; *native is the path to hand on.
  // Writing outside the writable folders aborts.
  bool Allow(const char* path, bool writes, std::string* native) const {
    if (path == nullptr) return false;
    const char* rest = path;
    if (std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') rest += 2;
    const bool absolute = rest[0] == '/' || rest[0] == '\\';
    *native = plat::NativePath(absolute ? path : (root_.string() + "/" + rest).c_str());
    const fs::path where = Canonical(*native);
    if (writes) {
      for (const fs::path& w : writable_) {
        if (Below(where, w)) return true;
      }
      std::fprintf(stderr, "SandboxEnv: write outside the sandbox: \"%s\" (%s)\n", path,
                   where.c_str());
      std::abort();
    }
    return Below(where, root_);
  }

  fs::path root_;
  std::vector<fs::path> writable_;
};

}  // namespace fuzzing
