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

#include "platform/env.h"
#include "platform/nativepath.h"

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
    const bool writes = access != plat::Access::Read || disposition != plat::Disposition::OpenExisting;
    std::string p;
    if (!Allow(path, writes, &p)) return kNotFound;
    return backend_->Open(p.c_str(), access, share, disposition, attributes, out);
  }
  int Map(plat::File* file, bool writable, uint64_t size, std::unique_ptr<plat::Mapping>* out) override {
    return backend_->Map(file, writable, size, out);
  }
  int GetAttributes(const char* path, uint32_t* attributes) override {
    std::string p;
    return Allow(path, false, &p) ? backend_->GetAttributes(p.c_str(), attributes) : kNotFound;
  }
  int SetAttributes(const char* path, uint32_t attributes) override {
    std::string p;
    return Allow(path, true, &p) ? backend_->SetAttributes(p.c_str(), attributes) : kNotFound;
  }
  int CreateFolder(const char* path) override {
    std::string p;
    return Allow(path, true, &p) ? backend_->CreateFolder(p.c_str()) : kNotFound;
  }
  bool Exists(const char* path) override {
    std::string p;
    return Allow(path, false, &p) && backend_->Exists(p.c_str());
  }
  bool IsFolder(const char* path) override {
    std::string p;
    return Allow(path, false, &p) && backend_->IsFolder(p.c_str());
  }
  int Delete(const char* path) override {
    std::string p;
    return Allow(path, true, &p) ? backend_->Delete(p.c_str()) : kNotFound;
  }
  int Rename(const char* from, const char* to) override {
    std::string a, b;
    if (!Allow(from, true, &a) || !Allow(to, true, &b)) return kNotFound;
    return backend_->Rename(a.c_str(), b.c_str());
  }
  int SyncFolder(const char* path) override {
    std::string p;
    return Allow(path, false, &p) ? backend_->SyncFolder(p.c_str()) : kNotFound;
  }
  int Copy(const char* from, const char* to) override {
    std::string a, b;
    if (!Allow(from, false, &a) || !Allow(to, true, &b)) return kNotFound;
    return backend_->Copy(a.c_str(), b.c_str());
  }
  int ListFolder(const char* path, std::vector<plat::FolderEntry>* out) override {
    std::string p;
    return Allow(path, false, &p) ? backend_->ListFolder(p.c_str(), out) : kNotFound;
  }
  int ResolveLink(const char* path, std::string* out) override {
    std::string p;
    if (!Allow(path, false, &p)) return kNotFound;
    *out = path;  // links inside the sandbox are not followed out of it
    return 0;
  }
  plat::DriveType GetDriveType(const char* path) override {
    std::string p;
    return Allow(path, false, &p) ? backend_->GetDriveType(p.c_str()) : plat::DriveType::NoRootDir;
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
      std::fprintf(stderr, "SandboxEnv: write outside the sandbox: \"%s\" (%s)\n", path, where.c_str());
      std::abort();
    }
    return Below(where, root_);
  }

  plat::Env* backend_ = plat::BackendEnv();
  fs::path root_;
  std::vector<fs::path> writable_;
};

}  // namespace fuzzing
