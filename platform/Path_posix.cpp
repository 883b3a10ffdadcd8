#include <dirent.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <wctype.h>

#include <cctype>
#include <climits>
#include <memory>

#include "platform/CodePage.h"
#include "platform/PosixSupport.h"
#include "platform/Registry.h"

namespace plat {
namespace posix {

namespace {

bool NameExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Letter case is compared the way Windows (and Wine) compare names: by
// character, not only for ASCII.
char16_t Upper(char16_t c) {
  if (c < 0x80) return static_cast<char16_t>(std::toupper(c));
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (utf8 == nullptr) return c;
  const wint_t u = towupper_l(c, utf8);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  const std::u16string x = Utf8ToWide(a), y = Utf8ToWide(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (x[i] != y[i] && Upper(x[i]) != Upper(y[i])) return false;
  }
  return true;
}

// The entry of folder whose name equals name without regard to case; empty
// when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  if (!dir) return std::string();
  std::string best;
  while (const dirent* entry = readdir(dir.get())) {
    if (!SameIgnoringCase(entry->d_name, name)) continue;
    if (best.empty() || best.compare(entry->d_name) > 0) best = entry->d_name;
  }
  return best;
}

// A path's drive: its letter when it starts with one and a colon, else 0.
char DriveLetter(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':'
             ? path[0]
             : 0;
}

}  // namespace

std::string WinePrefix() {
  static std::string registry, prefix;
  const std::string file = RegistryFilePath();
  if (file != registry) {
    registry = file;
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash);
    struct stat st;
    const bool wine = stat((folder + "/dosdevices").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    prefix = wine ? folder : std::string();
  }
  return prefix;
}

bool DriveFolder(char letter, bool resolved, std::string* folder) {
  folder->clear();
  const std::string prefix = WinePrefix();
  if (prefix.empty()) return true;  // no drives here: C:\x is /x
  const std::string link = prefix + "/dosdevices/" +
                           static_cast<char>(std::tolower(static_cast<unsigned char>(letter))) +
                           ":";
  char real[PATH_MAX];
  if (realpath(link.c_str(), real) == nullptr) return false;
  *folder = resolved ? real : link;
  if (*folder == "/") folder->clear();
  return true;
}

std::string Resolve(const char* path) {
  // The separators are found in the UTF-8 text: in a double-byte code page
  // a backslash's byte may be the second half of a character.
  std::string p = AnsiToUtf8(path != nullptr ? path : "");
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  if (const char letter = DriveLetter(p)) {
    std::string folder;
    if (!DriveFolder(letter, false, &folder)) {
      folder = WinePrefix() + "/dosdevices/" + letter + ":";  // a drive Wine has not: missing
    }
    p = folder + (p.size() > 2 && p[2] == '/' ? "" : "/") + p.substr(2);
  }
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

bool CorePath(const std::string& native, std::string* out) {
  *out = Utf8ToAnsi(native);
  return AnsiToUtf8(*out) == native;
}

bool IsNetworkPath(const char* path) {
  if (path == nullptr) return false;
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  return sep(path[0]) && sep(path[1]) && path[2] != '\0' && !sep(path[2]);
}

}  // namespace posix
}  // namespace plat
