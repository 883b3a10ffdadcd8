// Arbitrary bytes as a shipped update package, installed by InstallFiles
// into a destination folder, with the system folder ("*WINSYSTEM") set
// beside it. Both lie in the target's own folder and are emptied after each
// run; a write anywhere else stops the process (SandboxEnv), as does a
// package that installs files yet reports a failure code outside -1..-8.
//
// Run on an empty corpus folder, the target first writes a few seed
// packages into it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fuzz/SandboxEnv.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PathText.h"
#include "update/Operations.h"
#include "update/PackageFormat.h"

namespace {

namespace fs = std::filesystem;

struct Folders {
  fs::path root, updater, game, system;
};

const Folders& Where() {
  static const Folders folders = [] {
    Folders f;
    f.root = fs::temp_directory_path() / ("fuzz_package_" + std::to_string(std::random_device{}()));
    f.updater = f.root / "upd";
    f.game = f.root / "game";
    f.system = f.root / "sys";  // what SandboxEnv::SystemFolder names
    fs::create_directories(f.updater);
    return f;
  }();
  return folders;
}

// Counts what the install reports and stops at a file announced without a path.
class CountingSink : public QuietSink {
 public:
  void FileUpdated(const char* path) override {
    if (path == nullptr || path[0] == '\0') std::abort();
    QuietSink::FileUpdated(path);
  }
};

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void AppendU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

struct SeedFile {
  const char* name;
  const char* folder;  // "" for none
  std::string content;
  bool packed;
};

// A sound package of the given files, chunks of 1 KiB.
std::string Package(const std::vector<SeedFile>& files) {
  std::string bytes(pkg::kDataStart, '\0');
  bytes[0] = 'P';
  bytes[1] = 'Q';
  std::vector<pkg::Entry> entries;
  for (const SeedFile& f : files) {
    pkg::Entry e;
    CopyBounded(e.name, sizeof e.name, f.name);
    CopyBounded(e.folder, sizeof e.folder, f.folder);
    e.hasFolder = f.folder[0] != '\0';
    e.packed = f.packed;
    e.chunkKiB = 1;
    e.time.year = 2001;
    e.time.month = 6;
    e.time.day = 15;
    e.time.hour = 5;
    for (size_t at = 0; at < f.content.size(); at += 1024) {
      std::string chunk = f.content.substr(at, 1024);
      if (f.packed) {
        uint8_t out[2048 + 64];
        int32_t n = 0;
        if (Guard([&] {
              n = LzPack(reinterpret_cast<const uint8_t*>(chunk.data()),
                         static_cast<int32_t>(chunk.size()), out, static_cast<int32_t>(sizeof out));
            }) != 0)
          std::abort();
        chunk.assign(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
      }
      bytes += chunk;
      e.chunkSizes.push_back(static_cast<uint32_t>(chunk.size()));
    }
    entries.push_back(e);
  }
  const uint32_t directory = static_cast<uint32_t>(bytes.size());
  for (const pkg::Entry& e : entries) {
    std::vector<uint8_t> entry = pkg::EncodeEntry(e);
    AppendU32(bytes, static_cast<uint32_t>(entry.size()));
    bytes.append(reinterpret_cast<const char*>(entry.data()), entry.size());
  }
  AppendU32(bytes, directory);
  AppendU32(bytes, static_cast<uint32_t>(entries.size()));
  return bytes;
}

void WriteSeeds(const char* folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec) || !fs::is_empty(folder, ec)) return;
  std::string text;
  while (text.size() < 2500) text += "units and missions " + std::to_string(text.size()) + "\n";
  const std::string seeds[] = {
      Package({{"a.txt", "", text, true}, {"b.bin", "sub\\deeper", "0123456789", false}}),
      Package({{"*EMPTY", "empty\\folder", "", false},
               {"lib.dll", "*WINSYSTEM", text.substr(0, 700), true}}),
      Package({{"x", "..\\up", "escape", false}}),
      Package({}),
      "plain file copied as it is",
  };
  int n = 0;
  for (const std::string& seed : seeds)
    WriteFile(fs::path(folder) / ("seed" + std::to_string(n++)), seed);
}

void Empty(const fs::path& folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    if ((*argv)[i][0] != '-') WriteSeeds((*argv)[i]);
  }
  const Folders& f = Where();
  static fuzzing::SandboxEnv env(f.root, {f.game, f.system});
  plat::SetDefaultEnv(&env);
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(Where().root, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Folders& f = Where();
  Empty(f.game);
  Empty(f.system);
  WriteFile(f.updater / "p.pq", std::string(reinterpret_cast<const char*>(data), size));
  CountingSink sink;
  char failed[kPathField] = "stale";
  const int code = InstallFiles(sink, f.updater.string().c_str(), f.game.string().c_str(), "p.pq",
                                failed, sizeof failed);
  if (code > 0 || code < -8) std::abort();
  if (code == 0 && failed[0] != '\0') std::abort();
  if (std::memchr(failed, '\0', sizeof failed) == nullptr) std::abort();
  Empty(f.game);
  Empty(f.system);
  return 0;
}
