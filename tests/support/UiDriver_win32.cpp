#include "tests/support/UiDriver_win32.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/Registry.h"
#include "tests/support/TestPaths.h"

namespace testing_support {

namespace {
const char kDirectories[] = "SOFTWARE\\Varnholt\\Marovex\\Directories";
const char kVersionKey[] = "SOFTWARE\\Varnholt\\Marovex\\Version";

// REG_SZ values are stored with their terminating zero, as the installer does.
void SetText(plat::RegKey& key, const char* name, const std::string& text) {
  EXPECT_EQ(0, key.Set(name, plat::kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)))
      << name;
}
void SetDword(plat::RegKey& key, const char* name, uint32_t v) {
  EXPECT_EQ(0, key.Set(name, plat::kRegDword, &v, sizeof v)) << name;
}
}  // namespace

void WriteMachineRegistry(const GameInstall& g) {
  std::unique_ptr<plat::RegKey> key;
  ASSERT_EQ(0, plat::Registry::Default()->CreateKey(kDirectories, &key));
  SetText(*key, "MainPath", g.game);
  SetText(*key, "VideoPath", g.game + "Video\\");
  SetText(*key, "DataPath", g.game + "Data\\");
  SetText(*key, "SoundPath", g.game + "Sound\\");
  SetText(*key, "MusicPath", g.game + "Music\\");
  SetText(*key, "InstPath", g.dist);
  ASSERT_EQ(0, plat::Registry::Default()->CreateKey(kVersionKey, &key));
  SetDword(*key, "Version", g.version);
  SetDword(*key, "Type", g.type);
  SetText(*key, "Folder", "Marovex");
  SetText(*key, "LastPlayer", "Player One");
  SetDword(*key, "CharSet", 1);
  SetText(*key, "Server", g.server);
}

uint32_t VersionDword(const char* name) {
  std::unique_ptr<plat::RegKey> key;
  uint32_t v = 0xFFFFFFFF, size = sizeof v;
  if (plat::Registry::Default()->OpenKey(kVersionKey, &key) != 0) return v;
  key->Query(name, nullptr, &v, &size);
  return v;
}

std::string VersionText(const char* name) {
  std::unique_ptr<plat::RegKey> key;
  char text[256] = {};
  uint32_t size = sizeof text - 1;
  if (plat::Registry::Default()->OpenKey(kVersionKey, &key) != 0) return "<no key>";
  if (key->Query(name, nullptr, text, &size) != 0) return "<no value>";
  return text;
}

std::string Quote(const std::string& arg) { return "\"" + arg + "\""; }

std::string RunUpdkit(const std::string& args, const std::string& outFile, uint32_t* code) {
  plat::ChildOptions options;
  options.outputFile = outFile;
  *code = 12345;
  {
    plat::ChildProcess p;
    EXPECT_EQ(0, p.Start(Quote(UpdkitPath()) + " " + args, options)) << args;
    p.Wait(120000, code);
  }
  return ReadFileBytes(outFile);
}

std::string ItemText(WindowId dialog, int id) { return plat::ControlText(dialog, id); }

void Press(WindowId dialog, int id) { EXPECT_EQ(0, plat::PressButton(dialog, id)) << id; }

bool IsCompletion(WindowId w) { return plat::ControlOf(w, kCompletionText) != plat::kNoWindow; }
// A message box counts once its text is in place: a box caught while it is
// still being set up shows no text yet, and a button pressed then is lost.
bool IsMessageBox(WindowId w) {
  return plat::ControlOf(w, plat::kMessageBoxTextId) != plat::kNoWindow &&
         !plat::ControlText(w, plat::kMessageBoxTextId).empty();
}

UpdaterProcess::UpdaterProcess(const GameInstall& g, const std::string& args) {
  plat::ChildOptions options;
  options.workingDir = g.dist;
  EXPECT_EQ(0, process_.Start("\"" + g.Updater() + "\" " + args, options));
}

WindowId UpdaterProcess::Window(const std::string& caption, bool (*accept)(WindowId),
                                int timeoutMs) {
  if (process_.Id() == 0) return plat::kNoWindow;
  std::vector<WindowId> found;
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    plat::VisibleWindowsOf(process_.Id(), caption, &found);
    for (WindowId w : found) {
      if (accept == nullptr || accept(w)) return w;
    }
    uint32_t code;
    if (process_.Wait(10, &code)) return plat::kNoWindow;
  }
  return plat::kNoWindow;
}

uint32_t UpdaterProcess::Exit(int timeoutMs) {
  uint32_t code = 12345;
  process_.Wait(timeoutMs, &code);
  return code;
}

std::string UpdaterProcess::ErrorToTheEnd(int timeoutMs) {
  WindowId box = Window(" ERROR ", IsMessageBox, timeoutMs);
  EXPECT_NE(plat::kNoWindow, box) << "no error box";
  if (box == plat::kNoWindow) return "<no error box>";
  const std::string text = ItemText(box, plat::kMessageBoxTextId);
  Press(box, plat::kIdOk);
  EXPECT_EQ(0xFFFFFFFFu, Exit());
  return text;
}

}  // namespace testing_support
