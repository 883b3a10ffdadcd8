#include "tests/e2e_dist/DistTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/SectionNames.h"
#include "platform/CodePage.h"
#include "platform/Env.h"
#include "tests/support/TestPaths.h"
#include "tests/update/PackageTestKit.h"
#include "update/DibSize.h"

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace disttest {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The kit names files as the file system does, in UTF-8; the Env and the
// store library take the names of the code page.
std::string EnvPath(const std::string& path) { return plat::Utf8ToAnsi(path); }

// A store's records in key order, each as one text: section, name, pack
// method, info and the unpacked bytes (a font's surfaces in place of their
// offsets).
std::string Records(const std::string& path) {
  std::string out;
  int code = Guard([&] {
    std::unique_ptr<cMf32> h(cMf32::Open(EnvPath(path).c_str(), MFO_READ, 0, 0));
    h->ToBeg(nullptr, nullptr);
    uint8_t key[kRecKeyBuffer];
    while (h->RecKeyGetNext(key) != nullptr) {
      const uint8_t section = RecKeySection(key);
      const uint8_t pack = RecKeyPack(key);
      const int32_t length =
          pack == PACK_LZ || pack == PACK_RLE ? RecKeyUnpackedLength(key) : RecKeyStoredLength(key);
      void* record = h->RecGet(section, RecKeyName(key), nullptr, 1);
      std::string bytes(static_cast<const char*>(record), static_cast<size_t>(length));
      h->RecMemFree(&record);
      out += std::to_string(section) + " " + RecKeyName(key) + " pack " + std::to_string(pack) +
             " info " + std::string(reinterpret_cast<const char*>(RecKeyInfo(key)), kRecKeyInfo) +
             ": ";
      const int count = section == SECTION_FONT && bytes.size() >= 2
                            ? GetI16(reinterpret_cast<const uint8_t*>(bytes.data()))
                            : 0;
      for (int i = 0; i < count; ++i) {
        const uint8_t* surface =
            h->RecPtr(GetI32(reinterpret_cast<const uint8_t*>(&bytes[2 + 4 * i])));
        ASSERT_NE(nullptr, surface) << path << " " << RecKeyName(key);
        out += "[" +
               std::string(reinterpret_cast<const char*>(surface),
                           static_cast<size_t>(DibSize(surface))) +
               "]";
      }
      out += bytes.substr(count > 0 ? 2 + 4 * static_cast<size_t>(count) : 0) + "\n";
    }
  });
  EXPECT_EQ(0, code) << path;
  return out;
}

void Collect(const fs::path& root, const fs::path& folder, Contents* out) {
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(folder)) entries.push_back(e.path());
  const std::string rel = Upper(fs::relative(folder, root).generic_string());
  if (entries.empty()) (*out)[rel] = "";
  for (const fs::path& p : entries) {
    const std::string name = Upper(fs::relative(p, root).generic_string());
    if (fs::is_directory(p)) {
      Collect(root, p, out);
    } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".DKX") == 0) {
      (*out)[name] = Records(p.string());
    } else if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".DKD") != 0) {
      (*out)[name] = ReadFileBytes(p.string());
    }
  }
}

void MakeStoreAt(const std::string& path, const std::vector<Record>& records) {
  fs::create_directories(fs::path(path).parent_path());
  int code = Guard([&] {
    std::unique_ptr<cMf32> h(cMf32::Open(EnvPath(path).c_str(), MFO_CREATE, 0, 0));
    for (const Record& r : records) {
      std::string bytes = r.bytes;
      if (r.section == SECTION_FONT) {
        std::string table(2 + 4 * r.surfaces.size(), '\0');
        PutI16(reinterpret_cast<uint8_t*>(&table[0]), static_cast<int16_t>(r.surfaces.size()));
        for (size_t i = 0; i < r.surfaces.size(); ++i) {
          const std::string& s = r.surfaces[i];
          PutI32(reinterpret_cast<uint8_t*>(&table[2 + 4 * i]),
                 h->RecPutNoname(s.data(), static_cast<int32_t>(s.size())));
        }
        bytes = table + bytes;
      }
      uint8_t info[kRecKeyInfo] = {};
      r.info.copy(reinterpret_cast<char*>(info), kRecKeyInfo);
      h->RecPut(r.section, r.name.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()), info,
                r.pack, nullptr);
    }
  });
  ASSERT_EQ(0, code) << path;
}

}  // namespace

Contents ContentsOf(const std::string& root) {
  Contents out;
  Collect(root, root, &out);
  out.erase(".");
  return out;
}

void ExpectUpdated(const Contents& installed, const Contents& olds, const Contents& news,
                   const std::vector<std::string>& left) {
  for (const auto& [rel, content] : news) {
    auto it = installed.find(rel);
    ASSERT_NE(installed.end(), it) << rel;
    const bool differs = std::find(left.begin(), left.end(), rel) != left.end();
    EXPECT_EQ(!differs, content == it->second) << rel;
  }
  for (const auto& [rel, content] : installed)
    EXPECT_TRUE(news.count(rel) != 0 || olds.count(rel) != 0 || content.empty()) << rel;
}

GamePair::GamePair(const std::string& root) : oldRoot(root + "old/"), newRoot(root + "new/") {
  fs::create_directories(oldRoot);
  fs::create_directories(newRoot);
}

void GamePair::Old(const std::string& rel, const std::string& bytes) const {
  fs::create_directories(fs::path(oldRoot + rel).parent_path());
  WriteFileBytes(oldRoot + rel, bytes);
}

void GamePair::New(const std::string& rel, const std::string& bytes) {
  const std::string path = newRoot + rel;
  fs::create_directories(fs::path(path).parent_path());
  WriteFileBytes(path, bytes);
  static const uint16_t kHours[] = {2, 9, 14, 21};
  const uint64_t t = pkgtest::FileTimeOf(2003, 5, 6, kHours[times.size() % 4],
                                         static_cast<uint16_t>(times.size() % 60));
  std::unique_ptr<plat::File> f;
  ASSERT_EQ(0, plat::Env::Default()->Open(EnvPath(path).c_str(), plat::Access::ReadWrite,
                                          plat::Share::None, plat::Disposition::OpenExisting,
                                          plat::ATTR_NORMAL, &f));
  ASSERT_EQ(0, f->SetTimes(plat::FileTimes{0, 0, t}));
  times[rel] = t;
}

void GamePair::Both(const std::string& rel, const std::string& bytes) {
  Old(rel, bytes);
  fs::create_directories(fs::path(newRoot + rel).parent_path());
  WriteFileBytes(newRoot + rel, bytes);
}

void GamePair::OldStore(const std::string& rel, const std::vector<Record>& records) const {
  MakeStoreAt(oldRoot + rel, records);
}

void GamePair::NewStore(const std::string& rel, const std::vector<Record>& records) const {
  MakeStoreAt(newRoot + rel, records);
}

void GamePair::NewFolder(const std::string& rel) const { fs::create_directories(newRoot + rel); }

void CopyFolder(const std::string& from, const std::string& to) {
  fs::create_directories(to);
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    const fs::path at = fs::path(to) / fs::relative(e.path(), from);
    if (e.is_directory()) {
      fs::create_directories(at);
    } else {
      fs::copy_file(e.path(), at, fs::copy_options::overwrite_existing);
    }
  }
}

}  // namespace disttest
