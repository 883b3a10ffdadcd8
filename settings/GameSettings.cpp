#include "settings/GameSettings.h"

#include <cstring>
#include <memory>

#include "platform/Env.h"
#include "platform/Registry.h"

cGameSettings g_GameSettings;

namespace {

using plat::RegKey;

// Reads a value into a field of `size` bytes. The stored value must fit the
// field (a longer one gives ERROR_MORE_DATA and fails the read).
bool ReadRaw(RegKey* key, const char* name, void* field, uint32_t size) {
  uint32_t n = size;
  return key->Query(name, nullptr, field, &n) == 0;
}

// A text must also end within its field: a value that fills the field
// without a terminator is a text too long for it.
bool ReadText(RegKey* key, const char* name, char* field, uint32_t size) {
  std::memset(field, 0, size);
  if (!ReadRaw(key, name, field, size)) return false;
  return std::memchr(field, '\0', size) != nullptr;
}

bool ReadPath(RegKey* key, const char* name, char* field) {
  return ReadText(key, name, field, kPathField) && EnsureTrailingSeparator(field, kPathField);
}

bool ReadWord(RegKey* key, const char* name, uint32_t* field) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (!ReadRaw(key, name, bytes, sizeof bytes)) return false;
  *field = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return true;
}

bool WriteText(RegKey* key, const char* name, const char* field, uint32_t size) {
  return key->Set(name, plat::kRegSz, field, size) == 0;
}

bool WriteWord(RegKey* key, const char* name, uint32_t value) {
  uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return key->Set(name, plat::kRegDword, bytes, sizeof bytes) == 0;
}

// The drive that must be fixed: "C:\" for a drive path, else the whole path
// (a network path or, on POSIX, an absolute folder such as /srv/game/).
bool OnFixedDrive(const char* mainPath) {
  char root[kPathField];
  CopyBounded(root, sizeof root, mainPath);
  if (root[0] != '\0' && root[1] == ':' && std::strlen(root) > 3) root[3] = '\0';
  return plat::Env::Default()->GetDriveType(root) == plat::DriveType::Fixed;
}

}  // namespace

uint32_t NormaliseTypeWord(uint32_t type) {
  switch (type >> 16) {
    case 0xD0DD:
    case 0xDDD1:
    case 0xDDD2:
    case 0xDEB0:
    case 0xFFFF:
      return type;
    default:
      return type | kTypeWordOverride;
  }
}

cGameSettings::cGameSettings() : Type(0), Version(0), CharSet(1) {
  char* texts[] = {MainPath, VideoPath, SoundPath, MusicPath, DataPath, InstPath, Folder};
  for (char* text : texts) std::memset(text, 0, kPathField);
  std::memset(CDAudioDrive, 0, sizeof CDAudioDrive);
  std::memset(LastPlayer, 0, sizeof LastPlayer);
  std::memset(Server, 0, sizeof Server);
}

bool cGameSettings::Read() {
  std::unique_ptr<RegKey> key;
  plat::Registry* registry = plat::Registry::Default();
  if (registry->OpenKey(kDirectoriesKey, &key) != 0) return false;
  if (!ReadPath(key.get(), "MainPath", MainPath)) return false;
  if (!OnFixedDrive(MainPath)) return false;
  if (!ReadPath(key.get(), "VideoPath", VideoPath) || !ReadPath(key.get(), "DataPath", DataPath) ||
      !ReadPath(key.get(), "SoundPath", SoundPath) ||
      !ReadPath(key.get(), "MusicPath", MusicPath) || !ReadPath(key.get(), "InstPath", InstPath))
    return false;
  key.reset();

  // An existing folder is fine: the result is not looked at.
  char saveGame[kPathField];
  CopyBounded(saveGame, sizeof saveGame, MainPath);
  if (AppendBounded(saveGame, sizeof saveGame, "SAVEGAME\\"))
    plat::Env::Default()->CreateFolder(saveGame);

  if (registry->OpenKey(kVersionKey, &key) != 0) return false;
  if (!ReadWord(key.get(), "Version", &Version) || !ReadWord(key.get(), "Type", &Type))
    return false;
  Type = NormaliseTypeWord(Type);
  if (!ReadText(key.get(), "Folder", Folder, sizeof Folder) ||
      !ReadText(key.get(), "LastPlayer", LastPlayer, sizeof LastPlayer) ||
      !ReadWord(key.get(), "CharSet", &CharSet) ||
      !ReadText(key.get(), "Server", Server, sizeof Server))
    return false;
  return true;
}

bool cGameSettings::Write() {
  std::unique_ptr<RegKey> key;
  plat::Registry* registry = plat::Registry::Default();
  if (registry->CreateKey(kVersionKey, &key) != 0) return false;
  if (!WriteWord(key.get(), "Type", Type) || !WriteWord(key.get(), "Version", Version) ||
      !WriteText(key.get(), "Folder", Folder, sizeof Folder) ||
      !WriteText(key.get(), "LastPlayer", LastPlayer, sizeof LastPlayer))
    return false;
  // Never loaded by Read, so only a drive someone put in the record is
  // stored; an empty field would wipe the game's setting. Result ignored.
  if (CDAudioDrive[0] != '\0')
    WriteText(key.get(), "CDAudioDrive", CDAudioDrive, sizeof CDAudioDrive);
  if (!WriteWord(key.get(), "CharSet", CharSet) ||
      !WriteText(key.get(), "Server", Server, sizeof Server) || key->Flush() != 0)
    return false;
  key.reset();

  char* paths[] = {MainPath, VideoPath, SoundPath, MusicPath, DataPath, InstPath};
  for (char* path : paths) EnsureTrailingSeparator(path, kPathField);

  if (registry->CreateKey(kDirectoriesKey, &key) != 0) return false;
  return WriteText(key.get(), "MainPath", MainPath, kPathField) &&
         WriteText(key.get(), "SoundPath", SoundPath, kPathField) &&
         WriteText(key.get(), "MusicPath", MusicPath, kPathField) &&
         WriteText(key.get(), "VideoPath", VideoPath, kPathField) &&
         WriteText(key.get(), "DataPath", DataPath, kPathField) &&
         WriteText(key.get(), "InstPath", InstPath, kPathField) && key->Flush() == 0;
}
