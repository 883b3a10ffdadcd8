// updkit dist plan: rehearses an update. The updater's own run (UpdaterMain:
// command line, settings, run loop, directive machine, update operations)
// runs against the installation the registry names, under an Env that
// keeps every write in memory, a registry that does the same and a UI that
// answers every question No; then the files, records and registry values
// it would change are printed, with its messages and its log.
//
// The updater's dialogs are those of this file: updkit links the
// application without the dialogs of either system, so a rehearsal opens
// no window and reads nothing from the console.
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/AppState.h"
#include "app/DialogTexts.h"
#include "app/Dialogs.h"
#include "app/Messages.h"
#include "app/RunUpdate.h"
#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/Mf32int.h"
#include "ourlib/src/SectionNames.h"
#include "platform/NativePath.h"
#include "platform/RehearsalEnv.h"
#include "platform/RehearsalRegistry.h"
#include "platform/Ui.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Dist.h"
#include "tools/updkit/Escape.h"
#include "update/StoreGuarded.h"

namespace {

// A message box or question the run would show, and the answer it got.
struct Shown {
  std::string caption;
  std::string text;
  const char* answer;
};

// What the rehearsal's dialogs and message boxes saw.
struct Screen {
  std::vector<Shown> shown;
  bool progressOpen = false;
};
Screen g_screen;

// Message boxes are recorded; a question gets the answer the console gives
// at the end of its input: No.
class PlanUi final : public plat::Ui {
 public:
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    const bool question = (flags & 0x0F) == plat::kMbYesNo;
    g_screen.shown.push_back({caption, text, question ? "No" : "OK"});
    return question ? plat::kIdNo : plat::kIdOk;
  }
  void Beep(uint32_t) override {}
  int LoadResString(int id, char* buf, int capacity) override {
    return plat::BackendUi()->LoadResString(id, buf, capacity);
  }
};

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

// The rehearsal's stand-ins, in place while it lives.
class Rehearsal {
 public:
  Rehearsal() : env(plat::BackendEnv()), registry(plat::BackendRegistry()) {
    plat::SetDefaultEnv(&env);
    plat::SetDefaultRegistry(&registry);
    plat::SetDefaultUi(&ui);
    App().log.tap = [this](const char* line) { log.push_back(line); };
  }
  ~Rehearsal() {
    App().log.tap = nullptr;
    plat::SetDefaultUi(nullptr);
    plat::SetDefaultRegistry(nullptr);
    plat::SetDefaultEnv(nullptr);
  }
  Rehearsal(const Rehearsal&) = delete;
  Rehearsal& operator=(const Rehearsal&) = delete;

  plat::RehearsalEnv env;
  plat::RehearsalRegistry registry;
  PlanUi ui;
  std::vector<std::string> log;
};

bool NamesAnIndex(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".DKX";
}

// What a key says of its record.
struct KeyFacts {
  int32_t length;  // unpacked
  int32_t stored;
  uint8_t pack;
  std::vector<uint8_t> info;
};

KeyFacts FactsOf(const uint8_t* key) {
  return {RecKeyUnpackedLength(key), RecKeyStoredLength(key), RecKeyPack(key),
          std::vector<uint8_t>(RecKeyInfo(key), RecKeyInfo(key) + kRecKeyInfo)};
}

bool SameBytes(cMf32* a, cMf32* b, uint8_t section, const char* name, int32_t length) {
  void* x = GuardedRecGet(a, section, name);
  void* y = GuardedRecGet(b, section, name);
  const bool same = x != nullptr && y != nullptr &&
                    (length <= 0 || std::memcmp(x, y, static_cast<size_t>(length)) == 0);
  GuardedRecMemFree(a, &x);
  GuardedRecMemFree(b, &y);
  return same;
}

// Every record of the rehearsed store at path that the one on the disk
// lacks or holds otherwise (bytes, length, pack method or info bytes).
void PrintRecords(plat::RehearsalEnv& env, const std::string& path, bool onDisk) {
  // The store library takes the core's names, the rehearsal gives the system's.
  const std::string core = plat::CorePath(path);
  StoreHandle before, after;
  plat::SetDefaultEnv(nullptr);  // the store on the disk
  const bool had = onDisk && before.Open(core.c_str(), MFO_READ) == 0;
  plat::SetDefaultEnv(&env);  // the store the run left in memory
  if (core.empty() || after.Open(core.c_str(), MFO_READ) != 0) return;
  std::map<std::pair<uint8_t, std::string>, KeyFacts> old;
  if (had && GuardedToBeg(before.get(), nullptr, nullptr) != 0) {
    while (const uint8_t* key = GuardedRecKeyGetNext(before.get())) {
      old.emplace(std::make_pair(RecKeySection(key), std::string(RecKeyName(key))), FactsOf(key));
    }
  }
  if (GuardedToBeg(after.get(), nullptr, nullptr) == 0) return;
  while (const uint8_t* key = GuardedRecKeyGetNext(after.get())) {
    const uint8_t section = RecKeySection(key);
    const std::string name = RecKeyName(key);
    const KeyFacts now = FactsOf(key);
    auto was = old.find({section, name});
    if (was != old.end() && was->second.length == now.length && was->second.pack == now.pack &&
        was->second.info == now.info &&
        SameBytes(before.get(), after.get(), section, name.c_str(), now.length)) {
      continue;
    }
    const std::string record =
        path + "  " + Trimmed(SectionName(section)) + "  " + EscapeBytes(name.c_str());
    const std::string lengths = "len " + std::to_string(now.length) + " (stored " +
                                std::to_string(now.stored) + ", pack " + std::to_string(now.pack) +
                                ")";
    if (was != old.end()) {
      std::printf("  replace %s  %s, was len %d\n", record.c_str(), lengths.c_str(),
                  static_cast<int>(was->second.length));
    } else {
      std::printf("  add     %s  %s\n", record.c_str(), lengths.c_str());
    }
  }
}

std::string ValueText(const plat::RegValue& v) {
  char text[32];
  if (v.type == plat::kRegDword && v.data.size() == 4) {
    const uint32_t word =
        v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(word));
    return text;
  }
  if (v.type == plat::kRegSz) {
    const std::string value(v.data.begin(), v.data.end());
    const std::string shown = value.c_str();  // up to the first zero byte
    std::string out = "\"" + EscapeBytes(shown.c_str()) + "\"";
    if (v.data.size() != shown.size() + 1) out += " (" + std::to_string(v.data.size()) + " bytes)";
    return out;
  }
  std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(v.type));
  std::string out = text;
  for (size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(text, sizeof text, i == 0 ? "%02x" : ",%02x", v.data[i]);
    out += text;
  }
  return out;
}

// Text as lines of its own under a heading, each after indent, without the
// carriage returns of its line ends.
void PrintLines(const char* indent, const std::string& text) {
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos && start == text.size() && start > 0) return;
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    UpdkitPrint(stdout, "%s%s\n", indent, line.c_str());
    if (end == std::string::npos) return;
    start = end + 1;
  }
}

// The rehearsal names files in the system's form, which is written as it
// is; the texts of the run (registry, messages, log) are in the code page.
void PrintReport(Rehearsal& r) {
  UpdkitPrint(stdout, "files:\n");
  std::vector<plat::RehearsalEnv::Change> changes = r.env.Changes();
  for (const auto& c : changes) {
    using Change = plat::RehearsalEnv::Change;
    switch (c.kind) {
      case Change::kCreated:
        std::printf("  create  %s (%" PRIu64 " bytes)\n", c.path.c_str(), c.size);
        break;
      case Change::kReplaced:
        std::printf("  replace %s (%" PRIu64 " bytes)\n", c.path.c_str(), c.size);
        break;
      case Change::kRewritten:
        std::printf("  rewrite %s (the same %" PRIu64 " bytes)\n", c.path.c_str(), c.size);
        break;
      case Change::kDeleted:
        std::printf("  delete  %s\n", c.path.c_str());
        break;
      case Change::kFolderCreated:
        std::printf("  folder  %s\n", c.path.c_str());
        break;
    }
  }
  UpdkitPrint(stdout, "records:\n");
  for (const auto& c : changes) {
    const bool written = c.kind == plat::RehearsalEnv::Change::kCreated ||
                         c.kind == plat::RehearsalEnv::Change::kReplaced;
    if (written && NamesAnIndex(c.path)) {
      PrintRecords(r.env, c.path, c.kind == plat::RehearsalEnv::Change::kReplaced);
    }
  }
  UpdkitPrint(stdout, "registry:\n");
  for (const auto& w : r.registry.Writes()) {
    plat::RegValue was;
    const bool had = r.registry.RealValue(w.key, w.value.name, &was);
    const bool same = had && was.type == w.value.type && was.data == w.value.data;
    UpdkitPrint(stdout, "  %s %s\\%s = %s", same ? "same   " : "changed", w.key.c_str(),
                w.value.name.c_str(), ValueText(w.value).c_str());
    if (!same) UpdkitPrint(stdout, " (was %s)", had ? ValueText(was).c_str() : "not there");
    UpdkitPrint(stdout, "\n");
  }
  UpdkitPrint(stdout, "messages:\n");
  for (const Shown& s : g_screen.shown) {
    UpdkitPrint(stdout, "  [%s] answered %s\n", Trimmed(s.caption).c_str(), s.answer);
    PrintLines("    ", s.text);
  }
  for (const std::string& program : r.env.Programs()) {
    UpdkitPrint(stdout, "  would start %s\n", program.c_str());
  }
  UpdkitPrint(stdout, "log:\n");
  for (const std::string& line : r.log) PrintLines("  ", line);
}

}  // namespace

// The progress and completion dialogs of a rehearsal: no window; the
// notifications keep the run counters and the log as the dialogs do, and
// the completion dialog is answered Exit.
void SetInstanceHandle(void*) {}
bool CreateProgressDialog() {
  g_screen.progressOpen = true;
  return true;
}
void PumpMessages() {}
void SendProgress(const ProgressInfo&) {}
void SendFileUpdated(const char* path) {
  if (g_screen.progressOpen) CountFileUpdated(path);
}
void SendBytesUpdated(uint32_t count) {
  if (g_screen.progressOpen) CountBytesUpdated(count);
}
void CloseProgressDialog() {
  if (!g_screen.progressOpen) return;
  g_screen.progressOpen = false;
  App().cancel = true;  // closing it is a cancel, as the dialogs do
}
int ShowCompletionDialog() {
  char path[kPathField];
  ReportPath(path, sizeof path);
  MemPtr<char> report(ReadReport(path));
  if (!report) return -1;
  char message[kCompletionMessage];
  ComposeCompletionMessage(message, sizeof message);
  g_screen.shown.push_back(
      {LoadText(IDS_DONE_CAPTION), std::string(message) + "\n" + report.get(), "Exit"});
  return 0;
}
void PostQuit(int) {}

int DistPlan(const Args& args) {
  InstallStringTable();
  // The registry file (POSIX) as named from the folder updkit was started
  // in, not from the distribution's.
  // --registry, like every argument, is in the code page; the file's path
  // is the system's.
  const char* file = args.Value("--registry");
  const std::string named = file != nullptr ? plat::NativePath(file) : plat::RegistryFilePath();
  if (!named.empty()) {
    std::error_code ec;
    plat::SetRegistryFile(std::filesystem::absolute(named, ec).string().c_str());
  }
  InDistribution dist(args.word(0));
  if (!dist.entered()) return UpdkitFail("dist plan: %s is not a folder", args.word(0));
  const char* scriptName = args.Value("--script");
  std::string script = scriptName != nullptr ? scriptName : kDefaultScript;
  std::string updater = dist.folder() + "updater";  // the updater folder is the distribution
  int status = 0;
  {
    Rehearsal rehearsal;
    char* argv[] = {&updater[0], &script[0], nullptr};
    status = UpdaterMain(2, argv);
    PrintReport(rehearsal);
  }
  UpdkitPrint(stdout, "exit code: %d\n", status);
  return status;
}
