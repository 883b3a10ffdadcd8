// What an update script written by `updkit dist make` says about versions:
// which installation it accepts and which version it leaves, and how a text
// becomes a string of the script language.
#pragma once

#include <string>

namespace dist {

// A version word's three parts: version 0..255, build 0..255, patch 0..65535.
struct Version {
  int version = 0;
  int build = 0;
  int patch = 0;
};

// "V.BBB.PPP" (each part decimal, within its range). False when text is not one.
bool ParseVersion(const char* text, Version* out);
// "1.002.005", as the updater shows a version without its blanks.
std::string VersionText(const Version& v);

// The update type that takes an installation at `from` to `to`: `type` when
// it is 0, 1 or 2, else the one what changes asks for (a new build: 1, a new
// patch: 2, neither: 0). -1, with the reason in *why, when that type cannot
// write `to` (update type 0 keeps build and patch, 1 sets a build and patch
// 0, 2 sets the patch and keeps the build; neither sets a lower build or
// patch than the installation has).
int UpdateType(const Version& from, const Version& to, int type, std::string* why);

// The script's head: the directives, with comments, that let the update run
// only on an installation at exactly `from` and write `to` at its end.
std::string VersionDirectives(const Version& from, const Version& to, int type);

// text as a string constant of the script: in double quotes, with each
// backslash and double quote escaped by a backslash.
std::string ScriptString(const std::string& text);

}  // namespace dist
