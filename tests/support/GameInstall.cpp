#include "tests/support/GameInstall.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "platform/NativePath.h"
#include "platform/RegFile.h"
#include "tests/support/TestPaths.h"

namespace fs = std::filesystem;

namespace testing_support {

namespace {
constexpr char kDirectories[] = "SOFTWARE\\Varnholt\\Marovex\\Directories";
constexpr char kVersion[] = "SOFTWARE\\Varnholt\\Marovex\\Version";

// A text value in regedit's quoted form.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Dword(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
  return buf;
}
}  // namespace

GameInstall::GameInstall(const std::string& r, bool copyUpdater, const std::string& gameFolder)
    : root(r),
      game(r + gameFolder + static_cast<char>(fs::path::preferred_separator)),
      dist(r + "dist" + static_cast<char>(fs::path::preferred_separator)),
      registry(r + "registry.reg") {
  for (const char* sub : {"Data", "Sound", "Music", "Video"})
    fs::create_directories(fs::path(game) / sub);
  fs::create_directories(dist);
  if (copyUpdater) fs::copy_file(UpdaterPath(), Updater(), fs::copy_options::overwrite_existing);
}

std::string GameInstall::Updater() const {
  return dist + fs::path(UpdaterPath()).filename().string();
}

std::string GameInstall::RegistryText() const {
  // A REGEDIT4 file holds the ANSI code page, as the core names the folders.
  const char sep = static_cast<char>(fs::path::preferred_separator);
  const std::string main = plat::CorePath(game);
  std::string t = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kDirectories) + "]\n";
  t += "\"MainPath\"=" + Quoted(main) + "\n";
  t += "\"VideoPath\"=" + Quoted(main + "Video" + sep) + "\n";
  t += "\"DataPath\"=" + Quoted(main + "Data" + sep) + "\n";
  t += "\"SoundPath\"=" + Quoted(main + "Sound" + sep) + "\n";
  t += "\"MusicPath\"=" + Quoted(main + "Music" + sep) + "\n";
  t += "\"InstPath\"=" + Quoted(plat::CorePath(dist)) + "\n\n";
  t += "[HKEY_LOCAL_MACHINE\\" + std::string(kVersion) + "]\n";
  t += "\"Version\"=" + Dword(version) + "\n";
  t += "\"Type\"=" + Dword(type) + "\n";
  t += "\"Folder\"=\"Marovex\"\n\"LastPlayer\"=\"Player One\"\n";
  t += "\"CharSet\"=" + Dword(1) + "\n";
  t += "\"Server\"=" + Quoted(server) + "\n";
  return t;
}

void GameInstall::WriteRegistry() const { WriteFileBytes(registry, RegistryText()); }

void GameInstall::Ship(const std::string& name, const std::string& bytes) const {
  WriteFileBytes(dist + name, bytes);
}

void GameInstall::ShipSlowUpdate(int copies, size_t bytes, const std::string& report) const {
  std::string script = "updatetype = 0\nsetversion = 9\n";
  for (int i = 0; i < copies; ++i) {
    script += "dstpath = __MAIN + \"D" + std::to_string(i) + "\\\\\";\nfile = \"BIG.DAT\", 0\n";
  }
  Ship("patch.txt", script);
  Ship("BIG.DAT", std::string(bytes, 'x'));
  Ship("Report.txt", report);
}

std::string RegistryBytes(const std::string& registryFile, const std::string& key,
                          const std::string& name) {
  plat::regfile::Document doc;
  if (plat::regfile::Parse(ReadFileBytes(registryFile), &doc) != 0) {
    throw std::runtime_error("unreadable registry file " + registryFile);
  }
  plat::regfile::Key* k = plat::regfile::FindKey(&doc, key);
  if (k == nullptr) return "";
  plat::RegValue* v = plat::regfile::FindValue(k, name);
  if (v == nullptr) return "";
  return std::string(v->data.begin(), v->data.end());
}

uint32_t RegistryDword(const std::string& registryFile, const std::string& key,
                       const std::string& name) {
  std::string b = RegistryBytes(registryFile, key, name);
  if (b.size() != 4) return 0xFFFFFFFF;
  return static_cast<uint32_t>(static_cast<uint8_t>(b[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[3])) << 24;
}

}  // namespace testing_support
