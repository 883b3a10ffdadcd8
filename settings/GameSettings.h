// The installed game's settings: its folders, version word, type word and
// a few preferences, kept in the registry below HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>

#include "ourlib/src/PathText.h"

// Registry keys (below HKEY_LOCAL_MACHINE).
constexpr const char* kDirectoriesKey = "SOFTWARE\\Varnholt\\Marovex\\Directories";
constexpr const char* kVersionKey = "SOFTWARE\\Varnholt\\Marovex\\Version";

constexpr uint32_t kCDAudioDriveField = 5;
constexpr uint32_t kNameField = 64;  // LastPlayer, Server

// Type words whose version type (bits 16-31) is not one of these are read
// as their OR with kTypeWordOverride.
constexpr uint32_t kTypeWordOverride = 0xD0DDFFFF;

class cGameSettings {
 public:
  // Every text empty, Type and Version 0, CharSet 1.
  cGameSettings();

  // Reads every value from the registry, in a fixed order, and creates the
  // folder MainPath + "SAVEGAME\\". False at the first value that is missing
  // or longer than its field, or when MainPath is not on a fixed drive; the
  // fields read so far stay filled in. Shows nothing.
  bool Read();

  // Writes the Version key, then the Directories key (with a separator
  // appended to the paths). False at the first failed write, which leaves
  // what was written so far. CDAudioDrive is written only when the field
  // holds a text, so a stored drive is never replaced by an empty one.
  bool Write();

  // Fields in the record's order; texts are zero-terminated in their field.
  char MainPath[kPathField];
  char VideoPath[kPathField];
  char SoundPath[kPathField];
  char MusicPath[kPathField];
  char DataPath[kPathField];
  char InstPath[kPathField];
  char CDAudioDrive[kCDAudioDriveField];
  char Folder[kPathField];
  uint32_t Type;     // bits 16-31 version type, bits 0-7 installation type bits
  uint32_t Version;  // bits 24-31 version, 16-23 build, 0-15 patch
  uint32_t CharSet;
  char LastPlayer[kNameField];
  char Server[kNameField];
};

// The one record of the run, constructed at program start.
extern cGameSettings g_GameSettings;

// The type-word rule of Read: 0xD0DD, 0xDDD1, 0xDDD2, 0xDEB0 and 0xFFFF keep
// the word as read; any other version type gives word | kTypeWordOverride.
uint32_t NormaliseTypeWord(uint32_t type);
