// updkit dist check: reads a distribution's script with the updater's own
// token reader and directive machine, without an installation, and names
// every problem as FILE:LINE: error|warning: text.
//
// The directive machine tests the installed version as it goes. Its tests
// compare each of the version, build and patch numbers with numbers of the
// script, so the installations a script accepts are a box: a range of each
// of the three. The check runs the machine over the script's tokens for
// installations made of the script's numbers and the ends of each range
// (every end of an accepted range is one of them), finds one it accepts,
// and from it each range. The `file` directives reach a host that records
// them instead of running them; their shipped files are then read the way
// the update operations read them.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/DialogTexts.h"
#include "app/Directives.h"
#include "app/FormatVersion.h"
#include "app/Messages.h"
#include "ourlib/src/ByteCodec.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/Pack.h"
#include "ourlib/src/PathText.h"
#include "ourlib/src/SectionNames.h"
#include "ourlib/src/StoreEngine.h"
#include "platform/Env.h"
#include "script/TokenReader.h"
#include "settings/GameSettings.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Dist.h"
#include "tools/updkit/Escape.h"
#include "tools/updkit/WholeFile.h"
#include "update/DibSize.h"
#include "update/PackageFormat.h"
#include "update/StoreGuarded.h"

namespace {

// The installation paths are measured against: a long, usual one.
constexpr char kMainPath[] = "C:\\Program Files (x86)\\Varnholt\\Marovex\\";
constexpr int kMaxPath = static_cast<int>(kPathField) - 1;
// A heap block holds at most 11 bytes more than was asked for (its size is
// rounded up to 4, and a rest too small to be a block stays with it).
constexpr uint32_t kBlockSlack = 12;
constexpr int kSurfaceOffsets = 2;  // a font table's offsets follow its 16-bit count

struct Finding {
  std::string file;
  int line;
  bool error;
  std::string text;
};

class Findings {
 public:
  void Error(const std::string& file, int line, const std::string& text) {
    list_.push_back({file, line, true, text});
  }
  void Warning(const std::string& file, int line, const std::string& text) {
    list_.push_back({file, line, false, text});
  }
  bool HasError() const {
    return std::any_of(list_.begin(), list_.end(), [](const Finding& f) { return f.error; });
  }
  // One line each: a control character of a text (a line end the script
  // error quotes) is written as an escape.
  void Print() const {
    for (const Finding& f : list_) {
      std::string text;
      for (char c : f.text) {
        if (static_cast<unsigned char>(c) < 0x20) {
          text += EscapeBytes(std::string(1, c).c_str());
        } else {
          text += c;
        }
      }
      UpdkitPrint(stdout, "%s:%d: %s: %s\n", f.file.c_str(), f.line, f.error ? "error" : "warning",
                  text.c_str());
    }
  }

 private:
  std::vector<Finding> list_;
};

// A text of the string table without its closing blanks.
std::string Text(int id) {
  std::string t = LoadText(id);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

std::string VersionText(uint32_t word) {
  std::string t = FormatVersion(static_cast<int>(word >> 24), static_cast<int>((word >> 16) & 0xFF),
                                static_cast<int>(word & 0xFFFF));
  return t.substr(1, t.size() - 2);  // without the blank on each side
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// One token of the script, with where the updater would report an error at it.
struct ScriptToken {
  int code;
  std::string text;
  uint32_t number;
  std::string string;
  std::string file;
  int line;
};

// Reads the script as the run loop does, up to its end or its first error.
void ReadScript(const char* path, std::vector<ScriptToken>* tokens, Findings& found) {
  if (OpenScript(path) != 0) {
    found.Error(path, 0, Text(IDS_ERROR_OPEN_FILE) + " " + path);
    return;
  }
  int failed = 0;
  const int raised = Guard([&] {
    for (;;) {
      const int code = ReadToken();
      if (code < 0) {
        failed = code;
        return;
      }
      tokens->push_back(
          ScriptToken{code, TokenText, TokenValue.word,
                      code == TOK_STRING && TokenValue.string != nullptr ? TokenValue.string : "",
                      SourceCurrentName(), SourceCurrentLine()});
      if (code == TOK_END_OF_INPUT) return;
    }
  });
  if (failed == 0) failed = raised;
  if (failed != 0) {
    found.Error(SourceCurrentName(), SourceCurrentLine(),
                Text(IDS_SYNTAX_ERROR) + std::to_string(failed));
  }
  CloseAllSources();
}

// What a `file` directive would hand UpdateFile.
struct FileCall {
  size_t token;  // the directive's number, where it is reported
  std::string source;
  std::string destination;
  int operation;
};

// Records what the machine reports and the `file` operations it starts.
class CheckHost final : public DirectiveHost {
 public:
  size_t at = 0;  // the token being fed
  bool stopped = false;
  bool versionFailed = false;
  std::string message;
  std::vector<FileCall> files;

  void ScriptError(int number, int value, const char* extra) override {
    Stop(Text(number + 1) + (value != 0 ? std::to_string(value) : "") + " " +
         (extra != nullptr ? extra : ""));
  }
  void Error(int number, const char* text) override {
    versionFailed = number == MSG_INCORRECT_VERSION;
    Stop(Text(number + 1) + (text != nullptr ? text : ""));
  }
  int RunFile(const char* sourceName, const char* destPath, int operation) override {
    files.push_back({at, sourceName, destPath, operation});
    return 0;
  }

 private:
  void Stop(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    stopped = true;
    message = std::move(text);
  }
};

// An installation of the given version word, in the nominal folders, with
// every installation type.
cGameSettings Installation(uint32_t version) {
  cGameSettings s;
  CopyBounded(s.MainPath, sizeof s.MainPath, kMainPath);
  const std::pair<char*, const char*> folders[] = {{s.DataPath, "Data\\"},
                                                   {s.SoundPath, "Sound\\"},
                                                   {s.VideoPath, "Video\\"},
                                                   {s.MusicPath, "Music\\"}};
  for (const auto& f : folders) {
    CopyBounded(f.first, kPathField, kMainPath);
    AppendBounded(f.first, kPathField, f.second);
  }
  s.Version = version;
  s.Type = 0xD0DD00FF;
  return s;
}

struct Replay {
  CheckHost host;
  uint32_t newVersion = 0;
  bool accepted() const { return !host.stopped; }
};

// Feeds every token to a directive machine for an installation at version.
Replay Run(const std::vector<ScriptToken>& tokens, uint32_t version) {
  Replay r;
  cGameSettings settings = Installation(version);
  DirectiveMachine machine(settings, r.host);
  for (size_t i = 0; i < tokens.size() && tokens[i].code != TOK_END_OF_INPUT; ++i) {
    const ScriptToken& t = tokens[i];
    r.host.at = i;
    DirectiveToken token{t.code, t.text.c_str(), t.number, t.string.c_str()};
    if (machine.Feed(token) == DirectiveResult::Failed) return r;
  }
  machine.WriteBack(settings);
  r.newVersion = settings.Version;
  return r;
}

uint32_t Word(uint32_t version, uint32_t build, uint32_t patch) {
  return version << 24 | build << 16 | patch;
}

// The numbers the version tests can compare with: those on the lines of
// `updatetype`, `version`, `build` and `setbuild`, and the ends of each range.
struct Candidates {
  std::vector<uint32_t> version, build, patch;
};

Candidates CandidatesOf(const std::vector<ScriptToken>& tokens) {
  std::set<std::pair<std::string, int>> lines;
  for (const ScriptToken& t : tokens) {
    if (t.code == TOK_UPDATETYPE || t.code == TOK_VERSION || t.code == TOK_BUILD ||
        t.code == TOK_SETBUILD) {
      lines.insert({t.file, t.line});
    }
  }
  std::set<uint32_t> numbers{0, 0xFF, 0xFFFF};
  for (const ScriptToken& t : tokens) {
    if (t.code == TOK_NUMBER && t.number <= 0xFFFF && lines.count({t.file, t.line}) != 0) {
      numbers.insert(t.number);
    }
  }
  Candidates c;
  for (uint32_t n : numbers) {
    if (n <= 0xFF) c.version.push_back(n), c.build.push_back(n);
    c.patch.push_back(n);
  }
  return c;
}

// The installations the script accepts: lowest and highest version word of
// the box, and the run of the highest. Without one, the run that got
// furthest.
struct Accepted {
  bool any = false;
  uint32_t low = 0, high = 0;
  Replay run;
};

Accepted FindAccepted(const std::vector<ScriptToken>& tokens) {
  const Candidates c = CandidatesOf(tokens);
  Accepted a;
  bool first = true;
  uint32_t found = 0;
  for (uint32_t v : c.version) {
    for (uint32_t b : c.build) {
      for (uint32_t p : c.patch) {
        Replay r = Run(tokens, Word(v, b, p));
        if (r.accepted()) {
          a.any = true;
          found = Word(v, b, p);
          break;
        }
        if (first || r.host.at > a.run.host.at) a.run = std::move(r);
        first = false;
      }
      if (a.any) break;
    }
    if (a.any) break;
  }
  if (!a.any) return a;
  // Each range, with the other two numbers kept at an accepted installation.
  auto range = [&](const std::vector<uint32_t>& values, int shift, uint32_t mask, uint32_t* low,
                   uint32_t* high) {
    bool seen = false;
    for (uint32_t n : values) {
      if (!Run(tokens, (found & ~(mask << shift)) | n << shift).accepted()) continue;
      if (!seen) *low = n;
      *high = n;
      seen = true;
    }
  };
  uint32_t lv = 0, hv = 0, lb = 0, hb = 0, lp = 0, hp = 0;
  range(c.version, 24, 0xFF, &lv, &hv);
  range(c.build, 16, 0xFF, &lb, &hb);
  range(c.patch, 0, 0xFFFF, &lp, &hp);
  a.low = Word(lv, lb, lp);
  a.high = Word(hv, hb, hp);
  a.run = Run(tokens, a.high);
  return a;
}

// Where the last directive of one of the codes before the first `file`
// stands; the script's first token when there is none.
const ScriptToken& LastBeforeFiles(const std::vector<ScriptToken>& tokens,
                                   std::initializer_list<int> codes) {
  size_t at = 0;
  for (size_t i = 0; i < tokens.size() && tokens[i].code != TOK_FILE; ++i) {
    if (std::find(codes.begin(), codes.end(), tokens[i].code) != codes.end()) at = i;
  }
  return tokens[at];
}

bool HasDotDot(const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find_first_of("\\/", start);
    if (path.substr(start, end == std::string::npos ? end : end - start) == "..") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

std::string WithSeparator(std::string path) {
  char field[kPathField];
  CopyBounded(field, sizeof field, path.c_str());
  if (EnsureTrailingSeparator(field, sizeof field)) return field;
  return path + "\\";
}

// The checks of one distribution. dist is its folder with a separator;
// the script and Report.txt are named relative to it, as the updater,
// started in that folder, names them.
class Checker {
 public:
  Checker(std::string dist, std::string script) : dist_(std::move(dist)), script_(script) {}
  int Run();

 private:
  void CheckVersions(const std::vector<ScriptToken>& tokens, const Accepted& a);
  void CheckFile(const ScriptToken& at, const FileCall& call);
  void CheckDestination(const ScriptToken& at, const FileCall& call, std::string* relative);
  void CheckPackage(const ScriptToken& at, const std::string& name, const std::string& path,
                    const std::string& folder);
  void CheckStore(const ScriptToken& at, const std::string& name, const std::string& path);
  void CheckFonts(const ScriptToken& at, const std::string& name, cMf32* store,
                  const uint8_t* table, int32_t length, const char* font);
  void CheckReport();
  void PathLength(const ScriptToken& at, const std::string& what, const std::string& path) {
    if (static_cast<int>(path.size()) > kMaxPath) {
      found_.Error(at.file, at.line,
                   what + ": the path " + path + " is " + std::to_string(path.size()) +
                       " characters, more than the " + std::to_string(kMaxPath) + " a path holds");
    }
  }

  std::string dist_;
  std::string script_;
  Findings found_;
  std::set<std::string> contentChecked_;  // shipped files read once, whatever names them
};

int Checker::Run() {
  std::vector<ScriptToken> tokens;
  ReadScript(script_.c_str(), &tokens, found_);
  Accepted accepted;
  if (!tokens.empty()) {
    accepted = FindAccepted(tokens);
    CheckVersions(tokens, accepted);
    for (const FileCall& call : accepted.run.host.files) CheckFile(tokens[call.token], call);
  }
  CheckReport();
  found_.Print();
  if (accepted.any) {
    UpdkitPrint(stdout, "%s: accepts %s to %s, writes %s\n", script_.c_str(),
                VersionText(accepted.low).c_str(), VersionText(accepted.high).c_str(),
                VersionText(accepted.run.newVersion).c_str());
  }
  return found_.HasError() ? 1 : 0;
}

void Checker::CheckVersions(const std::vector<ScriptToken>& tokens, const Accepted& a) {
  if (!a.any) {
    const ScriptToken& at = tokens[a.run.host.at];
    if (a.run.host.versionFailed) {
      found_.Error(at.file, at.line,
                   "no installed version passes the version checks that end here");
    } else {
      found_.Error(at.file, at.line, a.run.host.message);
    }
    return;
  }
  if (a.run.newVersion <= a.high) {
    const ScriptToken& at = LastBeforeFiles(tokens, {TOK_SETVERSION, TOK_SETBUILD});
    found_.Error(at.file, at.line,
                 "the new version " + VersionText(a.run.newVersion) + " is not above " +
                     VersionText(a.high) +
                     ", the highest version the update accepts: it could be applied again");
  }
  if (std::none_of(tokens.begin(), tokens.end(),
                   [](const ScriptToken& t) { return t.code == TOK_FILE; })) {
    found_.Warning(tokens.back().file, tokens.back().line, "no file directive: nothing is updated");
  }
  // A `file` directive the machine passed over without starting: its
  // installation types (insttypes) share no bit with any installation's.
  const std::vector<FileCall>& files = a.run.host.files;
  for (const ScriptToken& t : tokens) {
    if (t.code != TOK_FILE) continue;
    const bool started = std::any_of(files.begin(), files.end(), [&](const FileCall& call) {
      return tokens[call.token].line == t.line && tokens[call.token].file == t.file;
    });
    if (!started) {
      found_.Warning(t.file, t.line, "no installation type runs this file directive (insttypes)");
    }
  }
}

void Checker::CheckDestination(const ScriptToken& at, const FileCall& call, std::string* relative) {
  const bool named = call.operation == 0 || call.operation == 1;
  if (call.destination.empty()) {
    found_.Error(at.file, at.line,
                 call.source +
                     ": no destination (no dstpath before it): it would be written "
                     "beside the updater");
    return;
  }
  const std::string main = kMainPath;
  const std::string dest = WithSeparator(call.destination);
  if (dest.size() < main.size() || !SameText(dest.substr(0, main.size()), main)) {
    found_.Error(at.file, at.line,
                 call.source + ": the destination " + call.destination +
                     " is not below the game's folder (a dstpath starts with __MAIN, __DATA, ...)");
    return;
  }
  *relative = dest.substr(main.size());
  const std::string placed = named ? *relative + call.source : *relative;
  if (!pkg::SafeEntryFolder(placed.c_str())) {
    found_.Error(at.file, at.line, call.source + ": " + placed + " leaves the game's folder");
  } else if (HasDotDot(placed)) {
    found_.Warning(at.file, at.line,
                   call.source + ": \"..\" in " + placed +
                       ": where it leads depends on where the installation keeps its folders");
  }
  if (named) PathLength(at, call.source, dest + call.source);
}

void Checker::CheckFile(const ScriptToken& at, const FileCall& call) {
  const std::string path = dist_ + call.source;
  plat::Env& env = *plat::Env::Default();
  if (!pkg::SafeEntryFolder(call.source.c_str())) {
    found_.Error(at.file, at.line, call.source + ": the source lies outside the distribution");
    return;
  }
  if (!env.Exists(path.c_str()) || env.IsFolder(path.c_str())) {
    found_.Error(at.file, at.line, call.source + ": shipped file missing from the distribution");
    return;
  }
  std::string relative;
  CheckDestination(at, call, &relative);
  if (call.operation == 1) {
    if (contentChecked_.insert(path).second) CheckStore(at, call.source, path);
    return;
  }
  if (call.operation == 0) return;
  std::unique_ptr<plat::File> file;
  uint8_t magic[2] = {0, 0};
  uint32_t got = 0;
  if (env.Open(path.c_str(), plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting,
               0, &file) != 0 ||
      file->Read(magic, 2, &got) != 0) {
    found_.Error(at.file, at.line, call.source + ": cannot be read");
    return;
  }
  if (got == 2 && magic[0] == 'P' && magic[1] == 'Q') {
    CheckPackage(at, call.source, path, std::string(kMainPath) + relative);
  } else {
    PathLength(at, call.source, WithSeparator(std::string(kMainPath) + relative) + call.source);
  }
}

void Checker::CheckPackage(const ScriptToken& at, const std::string& name, const std::string& path,
                           const std::string& folder) {
  std::unique_ptr<plat::File> file;
  uint64_t size = 0;
  std::vector<pkg::Entry> entries;
  if (plat::Env::Default()->Open(path.c_str(), plat::Access::Read, plat::Share::Read,
                                 plat::Disposition::OpenExisting, 0, &file) != 0 ||
      file->Size(&size) != 0 || pkg::ReadDirectory(*file, size, &entries) != 0) {
    found_.Error(at.file, at.line,
                 name +
                     ": damaged package: its trailer, directory or chunks lie outside the "
                     "file (cut short?)");
    return;
  }
  const bool read = contentChecked_.insert(path).second;
  for (const pkg::Entry& e : entries) {
    const std::string entry = (e.hasFolder ? std::string(e.folder) + "\\" : std::string()) + e.name;
    if (!e.InSystemFolder() && e.hasFolder && !pkg::SafeEntryFolder(e.folder)) {
      found_.Error(at.file, at.line, name + ": entry " + entry + " leaves the destination folder");
      continue;
    }
    if (!e.IsEmpty() && !pkg::SafeEntryName(e.name)) {
      found_.Error(at.file, at.line, name + ": entry " + entry + " leaves its folder");
      continue;
    }
    if (e.InSystemFolder()) {
      found_.Warning(at.file, at.line,
                     name + ": " + e.name + " goes into the Windows system folder");
    } else {
      std::string target = WithSeparator(folder);
      if (e.hasFolder) target = WithSeparator(target + e.folder);
      if (!e.IsEmpty()) target += e.name;
      PathLength(at, name + ": " + entry, target);
    }
    if (read && !e.IsEmpty() && pkg::UnpackedSize(*file, e) < 0) {
      found_.Error(at.file, at.line,
                   name + ": " + entry + ": a packed chunk does not unpack within its chunk size");
    }
  }
}

void Checker::CheckStore(const ScriptToken& at, const std::string& name, const std::string& path) {
  StoreHandle store;
  if (int code = store.Open(path.c_str(), MFO_READ)) {
    found_.Error(at.file, at.line,
                 name + ": not a record store that opens (code " + std::to_string(code) + ")");
    return;
  }
  const std::string violation = StoreVerify(store->Engine());
  if (!violation.empty()) {
    found_.Error(at.file, at.line, name + ": the store does not verify: " + violation);
    return;
  }
  int records = 0, never = 0;
  if (GuardedToBeg(store.get(), nullptr, nullptr) == 0) {
    found_.Error(at.file, at.line, name + ": its keys cannot be walked");
    return;
  }
  for (;;) {
    int error = 0;
    const uint8_t* key = GuardedRecKeyGetNext(store.get(), &error);
    if (key == nullptr) {
      if (error != 0)
        found_.Error(at.file, at.line,
                     name + ": a key does not read (code " + std::to_string(error) + ")");
      break;
    }
    ++records;
    const uint8_t section = RecKeySection(key);
    const std::string record = std::string(SectionName(section)) + " " + RecKeyName(key);
    if (section == SECTION_ALL) ++never;
    const int32_t length = RecKeyUnpackedLength(key);
    const uint8_t pack = RecKeyPack(key);
    if (length < 0 || (pack != PACK_LZ && pack != PACK_RLE && length > RecKeyStoredLength(key))) {
      found_.Error(at.file, at.line,
                   name + ": " + record + ": its key claims more bytes than it holds");
      continue;
    }
    void* data = GuardedRecGet(store.get(), section, RecKeyName(key));
    if (data == nullptr) {
      found_.Error(at.file, at.line, name + ": " + record + " does not read (or unpack)");
      continue;
    }
    if (section == SECTION_FONT) {
      CheckFonts(at, name, store.get(), static_cast<const uint8_t*>(data), length, RecKeyName(key));
    }
    GuardedRecMemFree(store.get(), &data);
  }
  if (records == 0) found_.Warning(at.file, at.line, name + ": the store holds no record");
  if (never > 0) {
    found_.Warning(at.file, at.line,
                   name + ": " + std::to_string(never) + " records in section " +
                       SectionName(SECTION_ALL) + " (255), which an update never copies");
  }
}

// A font's surfaces as the record update takes them: each a used block that
// holds the bitmap its header describes (DibSize), and no more.
void Checker::CheckFonts(const ScriptToken& at, const std::string& name, cMf32* store,
                         const uint8_t* table, int32_t length, const char* font) {
  const int count = length >= kSurfaceOffsets ? GetI16(table) : 0;
  if (count <= 0) return;
  const std::string where = name + ": font " + font;
  if (kSurfaceOffsets + 4 * static_cast<int64_t>(count) > length) {
    found_.Error(
        at.file, at.line,
        where + ": its table names " + std::to_string(count) + " surfaces but holds fewer offsets");
    return;
  }
  for (int i = 0; i < count; ++i) {
    const int32_t offset = GetI32(table + kSurfaceOffsets + 4 * i);
    const uint8_t* bitmap = GuardedRecPtr(store, offset);
    const std::string surface = where + ": surface " + std::to_string(i);
    if (bitmap == nullptr || store->RecCheck(offset, kDibHeaderSize) != 0) {
      found_.Error(at.file, at.line, surface + " is not a record of the store");
      continue;
    }
    const int64_t size = DibSize(bitmap);
    if (size < kDibHeaderSize) {
      found_.Error(at.file, at.line, surface + ": its bitmap header gives no length");
    } else if (store->RecCheck(offset, static_cast<uint32_t>(size)) != 0) {
      found_.Error(at.file, at.line,
                   surface + " is cut: its header gives " + std::to_string(size) +
                       " bytes, more than its block holds");
    } else if (store->RecCheck(offset, static_cast<uint32_t>(size) + kBlockSlack) == 0) {
      found_.Warning(at.file, at.line,
                     surface + " holds more than the " + std::to_string(size) +
                         " bytes its header gives; the rest is not copied");
    }
  }
}

void Checker::CheckReport() {
  const std::string path = LoadText(IDS_REPORT_FILE);
  const std::string file = dist_ + path;
  std::vector<uint8_t> bytes;
  if (!plat::Env::Default()->Exists(file.c_str()) || !ReadWholeFile(file.c_str(), &bytes)) {
    found_.Warning(path, 0,
                   "missing: the updater then asks a Yes/No question instead of showing the "
                   "completion dialog");
    return;
  }
  if (bytes.size() > kReportLimit) {
    found_.Error(path, 0,
                 std::to_string(bytes.size()) + " bytes, more than the " +
                     std::to_string(kReportLimit) + " the completion dialog shows");
  }
  int line = 1;
  bool bareLineEnd = false, zero = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0 && !zero) {
      zero = true;
      found_.Warning(path, line, "a zero byte: the completion dialog shows nothing after it");
    }
    if (bytes[i] != '\n') continue;
    if (!bareLineEnd && (i == 0 || bytes[i - 1] != '\r')) {
      bareLineEnd = true;
      found_.Warning(path, line,
                     "the line ends without CR LF: the completion dialog runs it together with "
                     "the next");
    }
    ++line;
  }
}

}  // namespace

int DistCheck(const Args& args) {
  InstallStringTable();
  InDistribution dist(args.word(0));
  if (!dist.entered()) return UpdkitFail("dist check: %s is not a folder", args.word(0));
  const char* script = args.Value("--script");
  return Checker(dist.folder(), script != nullptr ? script : kDefaultScript).Run();
}
