#include "tools/updkit/DistTree.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/Env.h"

namespace dist {

namespace {

constexpr uint32_t kCompareBlock = 1 << 20;
constexpr char kIndexExt[] = ".DKX";
constexpr char kDataExt[] = ".DKD";

struct Node {
  std::string rel;
  bool folder = false;
  bool empty = false;  // a folder without entries
  uint64_t size = 0;
};
using Listing = std::map<std::string, Node>;  // by folded path

// Bytes Windows does not allow in a name: the updater could not make the
// file there.
bool WindowsName(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

std::string List(const std::string& root, const std::string& rel, Listing* out) {
  const std::string path = Join(root, rel);
  std::vector<plat::FolderEntry> entries;
  if (plat::Env::Default()->ListFolder(path.c_str(), &entries) != 0) return "cannot list " + path;
  std::sort(entries.begin(), entries.end(),
            [](const plat::FolderEntry& a, const plat::FolderEntry& b) { return a.name < b.name; });
  if (!rel.empty()) (*out)[Folded(rel)].empty = entries.empty();
  for (const plat::FolderEntry& e : entries) {
    const std::string child = rel.empty() ? e.name : rel + "\\" + e.name;
    if (!WindowsName(e.name)) return Join(root, child) + ": a name Windows cannot hold";
    Node& node = (*out)[Folded(child)];
    if (!node.rel.empty()) {
      return Join(root, node.rel) + " and " + e.name + " differ only in case";
    }
    node.rel = child;
    node.folder = e.folder;
    node.size = e.size;
    if (e.folder) {
      std::string wrong = List(root, child, out);
      if (!wrong.empty()) return wrong;
    }
  }
  return "";
}

bool EndsWith(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The folded path of the data file of a store whose index is key, or "".
std::string DataFileOf(const std::string& key) {
  if (!EndsWith(key, kIndexExt)) return "";
  return key.substr(0, key.size() - std::strlen(kIndexExt)) + kDataExt;
}

bool IsFile(const Listing& listing, const std::string& key) {
  auto it = listing.find(key);
  return it != listing.end() && !it->second.folder;
}

// Whether two files hold the same bytes; false also when one cannot be
// read. The two blocks are read into are made once for every comparison.
class Comparer {
 public:
  Comparer() : a_(new uint8_t[kCompareBlock]), b_(new uint8_t[kCompareBlock]) {}

  bool Same(const std::string& a, const std::string& b) {
    plat::Env& env = *plat::Env::Default();
    std::unique_ptr<plat::File> fa, fb;
    if (env.Open(a.c_str(), plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
                 plat::ATTR_NORMAL, &fa) != 0 ||
        env.Open(b.c_str(), plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
                 plat::ATTR_NORMAL, &fb) != 0) {
      return false;
    }
    for (;;) {
      uint32_t ga = 0, gb = 0;
      if (fa->Read(a_.get(), kCompareBlock, &ga) != 0 ||
          fb->Read(b_.get(), kCompareBlock, &gb) != 0 || ga != gb ||
          std::memcmp(a_.get(), b_.get(), ga) != 0) {
        return false;
      }
      if (ga == 0) return true;
    }
  }

 private:
  std::unique_ptr<uint8_t[]> a_, b_;
};

}  // namespace

std::string Folded(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Join(const std::string& root, const std::string& rel) {
  if (rel.empty()) return root;
  if (!root.empty() && (root.back() == '/' || root.back() == '\\')) return root + rel;
  return root + "\\" + rel;
}

std::string CompareTrees(const std::string& oldRoot, const std::string& newRoot,
                         std::vector<TreeChange>* changes) {
  changes->clear();
  Listing olds, news;
  std::string wrong = List(oldRoot, "", &olds);
  if (wrong.empty()) wrong = List(newRoot, "", &news);
  if (!wrong.empty()) return wrong;

  Comparer compare;
  auto SameBytes = [&](const std::string& a, const std::string& b) { return compare.Same(a, b); };
  for (const auto& [key, n] : news) {
    // progress: one step per entry of NEW
    auto o = olds.find(key);
    const bool inOld = o != olds.end();
    if (inOld && o->second.folder != n.folder) {
      return Join(oldRoot, o->second.rel) + " is a " + (n.folder ? "file" : "folder") +
             " where NEW has a " + (n.folder ? "folder" : "file");
    }
    if (n.folder) {
      if (!inOld && n.empty) changes->push_back({TreeChange::kEmptyFolder, n.rel, "", true, 0});
      continue;
    }
    if (!inOld) {
      changes->push_back({TreeChange::kNew, n.rel, "", false, n.size});
      continue;
    }
    // A store in both folders goes by its index; its data file comes along.
    const std::string data = DataFileOf(key);
    const bool store = !data.empty() && IsFile(news, data) && IsFile(olds, data);
    if (store) {
      if (!SameBytes(Join(oldRoot, o->second.rel), Join(newRoot, n.rel)) ||
          !SameBytes(Join(oldRoot, olds.at(data).rel), Join(newRoot, news.at(data).rel))) {
        changes->push_back({TreeChange::kStore, n.rel, o->second.rel, false, n.size});
      }
      continue;
    }
    if (EndsWith(key, kDataExt)) {
      const std::string index = key.substr(0, key.size() - std::strlen(kDataExt)) + kIndexExt;
      if (IsFile(news, index) && IsFile(olds, index)) continue;  // with its store
    }
    if (n.size != o->second.size ||
        !SameBytes(Join(oldRoot, o->second.rel), Join(newRoot, n.rel))) {
      changes->push_back({TreeChange::kChanged, n.rel, "", false, n.size});
    }
  }
  for (const auto& [key, o] : olds) {
    if (news.count(key) != 0) continue;
    // A folder that NEW lacks is named once, at its top; its files each.
    const size_t cut = key.rfind('\\');
    if (o.folder && cut != std::string::npos && news.count(key.substr(0, cut)) == 0) continue;
    changes->push_back({TreeChange::kGone, o.rel, "", o.folder, 0});
  }
  return "";
}

}  // namespace dist
