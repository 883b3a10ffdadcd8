// A Registry for rehearsing a run: it reads the real registry and keeps
// every key made and every value set in memory, so that the real code runs
// under it as it would and the registry stays exactly as it was.
//
//   plat::RehearsalRegistry registry(plat::BackendRegistry());
//   plat::SetDefaultRegistry(&registry);
//   ... the run ...
//   plat::SetDefaultRegistry(nullptr);
//   for (const auto& w : registry.Writes()) ...   // what the run would write
#pragma once

#include <string>
#include <vector>

#include "platform/RegFile.h"
#include "platform/Registry.h"

namespace plat {

class RehearsalRegistry : public Registry {
 public:
  explicit RehearsalRegistry(Registry* real) : real_(real) {}

  int OpenKey(const char* path, std::unique_ptr<RegKey>* out) override;
  int CreateKey(const char* path, std::unique_ptr<RegKey>* out) override;
  int ListKeys(const char* path, std::vector<std::string>* keys) override;

  // Every value set, in the order it was set.
  struct Write {
    std::string key;  // below HKEY_LOCAL_MACHINE
    RegValue value;
  };
  const std::vector<Write>& Writes() const { return writes_; }
  // The value as the real registry holds it; false when it has none.
  bool RealValue(const std::string& key, const std::string& name, RegValue* out);

 private:
  friend class RehearsalKey;
  Registry* real_;
  regfile::Document made_;     // keys made and values set, in memory
  regfile::Document deleted_;  // values deleted: their names under their keys
  std::vector<Write> writes_;
};

}  // namespace plat
