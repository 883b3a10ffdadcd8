#include "tests/support/TestPaths.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Env.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {
std::atomic<int> g_counter{0};

std::string WithSeparator(std::string p) {
  if (!p.empty() && p.back() != '/' && p.back() != '\\') p += fs::path::preferred_separator;
  return p;
}
}  // namespace

TempDir::TempDir() {
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    fs::path candidate = base / ("updtest-" + std::to_string(std::time(nullptr)) + "-" +
                                 std::to_string(g_counter++) + "-" + std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_.reset(new std::string(WithSeparator(candidate.string())));
      return;
    }
    if (attempt > 100) throw std::runtime_error("cannot create a temporary folder");
  }
}

void TempDir::RemoveFolder::operator()(const std::string* path) const {
  std::error_code ec;
  fs::remove_all(*path, ec);
  delete path;
}

static const char* kExe = UPD_EXE_SUFFIX;

std::string UpdaterPath() { return std::string(UPD_BINARY_DIR) + "/app/updater" + kExe; }
std::string UpdkitPath() { return std::string(UPD_BINARY_DIR) + "/tools/updkit/updkit" + kExe; }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<plat::FolderEntry> entries;
  if (plat::Env::Default()->ListFolder(folder.c_str(), &entries) != 0) {
    throw std::runtime_error("cannot list " + folder);
  }
  std::vector<std::string> names;
  for (const plat::FolderEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
