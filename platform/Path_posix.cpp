#include "platform/PosixSupport.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <memory>

namespace plat {
namespace posix {

namespace {

bool NameExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals name without regard to ASCII case;
// empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  if (!dir) return std::string();
  std::string best;
  while (const dirent* entry = readdir(dir.get())) {
    if (strcasecmp(entry->d_name, name.c_str()) != 0) continue;
    if (best.empty() || best.compare(entry->d_name) > 0) best = entry->d_name;
  }
  return best;
}

}  // namespace

std::string ToSlashes(const char* path) {
  std::string p = path != nullptr ? path : "";
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

std::string Resolve(const char* path) {
  std::string p = ToSlashes(path);
  if (p.empty() || NameExists(p)) return p;

  std::string out;
  size_t i = 0;
  while (i < p.size() && p[i] == '/') out += p[i++];
  bool lost = false;  // a component was not found: the rest stays as written
  while (i < p.size()) {
    size_t end = p.find('/', i);
    if (end == std::string::npos) end = p.size();
    std::string name = p.substr(i, end - i);
    if (!lost && name != "." && name != ".." && !NameExists(out + name)) {
      std::string match = FindEntryIgnoringCase(out, name);
      if (match.empty()) {
        lost = true;
      } else {
        name = match;
      }
    }
    out += name;
    i = end;
    while (i < p.size() && p[i] == '/') out += p[i++];
  }
  return out;
}

bool IsNetworkPath(const char* path) {
  if (path == nullptr) return false;
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  return sep(path[0]) && sep(path[1]) && path[2] != '\0' && !sep(path[2]);
}

}  // namespace posix
}  // namespace plat
