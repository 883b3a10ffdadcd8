// For tests only: a Windows program's version resource as Explorer's file
// properties read it (GetFileVersionInfoA, VerQueryValueA). Windows builds
// only: other systems have no such resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

class VersionResource {
 public:
  // Reads the resource of the program at path: 0 or a Win32 error code.
  int Read(const std::string& path);

  // The fixed part's version words (VS_FIXEDFILEINFO).
  uint32_t fileVersionMS = 0, fileVersionLS = 0, productVersionMS = 0;
  // A text of the U.S. English, Windows-1252 block ("040904E4"), "(none)"
  // when it has none of that name.
  std::string Text(const char* name) const;

 private:
  std::vector<char> info_;
};

}  // namespace plat
