// A game installation and an update distribution in a temporary folder, for
// tests that run the real updater:
//
//   <root>game/        MainPath (by default), with Data/ (DataPath) and the other folders
//   <root>dist/        the updater folder: the updater, the script, the files
//   <root>registry.reg the registry stand-in (POSIX: UPDATER_REGISTRY)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

struct GameInstall {
  std::string root;  // with a trailing separator
  std::string game;  // MainPath as stored, with a trailing separator
  std::string dist;  // the updater folder, with a trailing separator
  std::string registry;
  uint32_t version = 0x01020005;  // 1.002.005
  uint32_t type = 0xD0DD0001;
  std::string server = "old.example";

  // Makes the folders under root (which must exist); the game folder is
  // root + gameFolder, and the updater is copied into dist when copyUpdater
  // is set.
  explicit GameInstall(const std::string& root, bool copyUpdater = true,
                       const std::string& gameFolder = "game");

  // The registry file's text for the values above: the Directories and
  // Version keys as the game's installer leaves them.
  std::string RegistryText() const;
  void WriteRegistry() const;

  // Writes a file of the distribution (name relative to dist).
  void Ship(const std::string& name, const std::string& bytes) const;
  // An update that takes long enough to be stopped on its way: patch.txt
  // sets version 9 and copies BIG.DAT of `bytes` bytes into the game's
  // folders D0 .. D<copies - 1>; report is shipped as Report.txt.
  void ShipSlowUpdate(int copies, size_t bytes, const std::string& report) const;
  // The updater inside dist.
  std::string Updater() const;
};

// A value of a key in a registry file, as the stored bytes ("" when missing).
std::string RegistryBytes(const std::string& registryFile, const std::string& key,
                          const std::string& name);
// A REG_DWORD value, or 0xFFFFFFFF when missing.
uint32_t RegistryDword(const std::string& registryFile, const std::string& key,
                       const std::string& name);

}  // namespace testing_support
