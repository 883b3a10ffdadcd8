// An Env for rehearsing a run: it reads the real files and keeps every
// write in memory, so that the real code runs under it as it would and the
// disk stays exactly as it was.
//
//   plat::RehearsalEnv env(plat::BackendEnv());
//   plat::SetDefaultEnv(&env);
//   ... the run ...
//   plat::SetDefaultEnv(nullptr);
//   for (const auto& c : env.Changes()) ...   // what the run would leave
//
// A file the run opens for writing (or renames, copies, truncates) is read
// into memory first and changed there; a file it only reads is read from the
// disk. A mapping of a file in memory is a view of those bytes, so a store
// opened for update is changed in memory like any file. Folders made,
// files deleted and attributes set are kept the same way; a program the run
// starts is recorded, never started.
//
// Paths are matched without regard to ASCII case, after the separators,
// "." and ".." parts are settled, so that the names of one file the run
// spells differently lead to the same bytes, as they do on Windows (and on
// the POSIX backend, which looks up names without regard to case).
//
// Error codes are those of Windows, whichever backend is wrapped (as
// FaultEnv's disk-full code is). Files and mappings it hands out must not
// outlive it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Env.h"

namespace plat {

class RehearsalEnv : public EnvWrapper {
 public:
  explicit RehearsalEnv(Env* real);
  ~RehearsalEnv() override;

  // What the run would leave different from the disk, in path order.
  struct Change {
    enum Kind {
      kCreated,        // a file that is not on the disk
      kReplaced,       // a file on the disk, with other bytes
      kRewritten,      // a file on the disk, written again with the same bytes
      kDeleted,        // a file on the disk that would be gone
      kFolderCreated,  // a folder that is not on the disk
    };
    Kind kind;
    std::string path;  // as the run first named it, in the system's form
    uint64_t size;     // the new size of a file
  };
  std::vector<Change> Changes();
  // The bytes the run left at path (a file it wrote), or null.
  const std::vector<uint8_t>* Bytes(const char* path) const;
  // Every command line the run asked to start, in order.
  const std::vector<std::string>& Programs() const { return programs_; }

  int Open(const char* path, Access access, Share share, Disposition disposition,
           uint32_t attributes, std::unique_ptr<File>* out) override;
  int Map(File* file, bool writable, uint64_t size, std::unique_ptr<Mapping>* out) override;
  int GetAttributes(const char* path, uint32_t* attributes) override;
  int SetAttributes(const char* path, uint32_t attributes) override;
  int CreateFolder(const char* path) override;
  bool Exists(const char* path) override;
  bool IsFolder(const char* path) override;
  int Delete(const char* path) override;
  int Rename(const char* from, const char* to) override;
  int SyncFolder(const char* path) override;
  int Copy(const char* from, const char* to) override;
  int ListFolder(const char* path, std::vector<FolderEntry>* out) override;
  int ResolveLink(const char* path, std::string* out) override;
  int StartProgram(const char* commandLine) override;

  struct Content;

 private:
  // What the rehearsal knows of one path beyond the disk.
  struct Node {
    enum Kind { kFile, kFolder, kGone } kind;
    std::string path;                  // the first spelling, in the system's form
    std::string core;                  // the same as the core named it, settled
    bool onDisk;                       // something of this path was on the disk when first touched
    std::shared_ptr<Content> content;  // kFile
  };

  Node* Find(const std::string& key);
  // The node of key, made with the given kind and spelling when there is none.
  Node& Put(const std::string& key, const char* path, Node::Kind kind);
  // The file at path (in memory or on the disk) read whole into a new Content.
  int Load(const char* path, Share share, std::shared_ptr<Content>* out);
  bool FolderThere(const std::string& key, const char* path);
  bool ParentThere(const char* path);

  std::map<std::string, Node> nodes_;           // by key
  std::map<std::string, uint32_t> attributes_;  // set on files still on the disk only
  std::vector<std::string> programs_;
};

}  // namespace plat
