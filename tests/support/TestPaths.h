// Where tests find the programs they drive and a scratch folder of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty folder for one test (removed when the object dies), with a
// trailing separator.
class TempDir {
 public:
  TempDir();
  const std::string& path() const { return *path_; }
  // path() followed by name.
  std::string operator/(const std::string& name) const { return *path_ + name; }

 private:
  struct RemoveFolder {
    void operator()(const std::string* path) const;
  };
  std::unique_ptr<const std::string, RemoveFolder> path_;  // owns the folder: not copied
};

// The built programs: build/<preset>/app/updater and tools/updkit/updkit
// (.exe on Windows).
std::string UpdaterPath();
std::string UpdkitPath();

// Whole-file helpers for fixtures.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The names in a folder (any path the Env takes), sorted.
std::vector<std::string> FolderNames(const std::string& folder);

}  // namespace testing_support
