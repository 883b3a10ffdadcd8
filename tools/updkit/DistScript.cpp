#include "tools/updkit/DistScript.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tools/updkit/Command.h"

namespace dist {

namespace {

constexpr int kMostVersion = 255;
constexpr int kMostBuild = 255;
constexpr int kMostPatch = 65535;

std::string Line(const char* format, int a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a);
  return buf;
}

std::string Line(const char* format, int a, int b) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

}  // namespace

bool ParseVersion(const char* text, Version* out) {
  const char* first = std::strchr(text, '.');
  const char* second = first != nullptr ? std::strchr(first + 1, '.') : nullptr;
  if (second == nullptr) return false;
  const std::string parts[3] = {std::string(text, first), std::string(first + 1, second),
                                std::string(second + 1)};
  const int most[3] = {kMostVersion, kMostBuild, kMostPatch};
  int64_t values[3];
  for (int i = 0; i < 3; ++i) {
    // Decimal only: ParseNumber would also take hex after 0x.
    if (parts[i].find_first_not_of("0123456789") != std::string::npos ||
        !ParseNumber(parts[i].c_str(), 0, most[i], &values[i])) {
      return false;
    }
  }
  out->version = static_cast<int>(values[0]);
  out->build = static_cast<int>(values[1]);
  out->patch = static_cast<int>(values[2]);
  return true;
}

std::string VersionText(const Version& v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%03d.%03d", v.version, v.build, v.patch);
  return buf;
}

int UpdateType(const Version& from, const Version& to, int type, std::string* why) {
  if (type < 0 || type > 2) {
    type = to.build != from.build ? 1 : to.patch > from.patch ? 2 : to.patch != from.patch ? 1 : 0;
  }
  const std::string ways = " from " + VersionText(from) + " to " + VersionText(to);
  switch (type) {
    case 0:
      if (to.build == from.build && to.patch == from.patch) return 0;
      *why = "update type 0 keeps the build and the patch: it cannot go" + ways;
      return -1;
    case 1:
      if (to.patch == 0 && to.build >= from.build) return 1;
      *why = "update type 1 sets a build that is not lower, and patch 0: it cannot go" + ways;
      return -1;
    default:
      if (to.build == from.build && to.patch >= from.patch) return 2;
      *why =
          "update type 2 keeps the build and sets a patch that is not lower: it cannot go" + ways;
      return -1;
  }
}

std::string VersionDirectives(const Version& from, const Version& to, int type) {
  std::string s = "// Only an installation at exactly " + VersionText(from) + " is updated.\n";
  // Each directive tests the installation when it is given, under the update
  // type given last: type 2 tests the build and the patch, type 1 the build,
  // `version` the version number in any type.
  s += "// Update type 2 tests its build and its patch";
  if (type == 2) {
    s += ", `version` its version.\n";
    s += Line("updatetype = 2, %d\n", from.build);
    s += Line("version = %d\n", from.version);
    s += Line("build = %d, %d\n", from.patch, from.patch);
  } else {
    s += type == 1
             ? "; then update type 1, which\n// sets a new build, its version and its build.\n"
             : "; then update type 0, which\n// changes only the version number, its version.\n";
    s += Line("updatetype = 2, %d\n", from.build);
    s += Line("build = %d, %d\n", from.patch, from.patch);
    s += Line("updatetype = %d\n", type);
    s += Line("version = %d\n", from.version);
    if (type == 1) s += Line("build = %d, %d\n", from.build, from.build);
  }
  s += "// The new version, " + VersionText(to) + ", written when the update is done.\n";
  s += Line("setversion = %d\n", to.version);
  if (type == 1) s += Line("setbuild = %d\n", to.build);
  if (type == 2) s += Line("setbuild = %d\n", to.patch);
  return s;
}

std::string ScriptString(const std::string& text) {
  std::string s(1, '"');
  for (char c : text) s.append(c == '\\' || c == '"' ? 1 : 0, '\\').push_back(c);
  return s + '"';
}

}  // namespace dist
