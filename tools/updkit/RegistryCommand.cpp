// updkit registry: reads and writes the values the updater keeps below
// HKEY_LOCAL_MACHINE, through the same backend the updater uses (the real
// registry on Windows, the .reg file on POSIX).
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/NativePath.h"
#include "platform/RegFile.h"
#include "platform/Registry.h"
#include "tools/updkit/Command.h"

namespace {

int Get(const char* keyPath, const char* name) {
  std::unique_ptr<plat::RegKey> key;
  if (int err = plat::Registry::Default()->OpenKey(keyPath, &key))
    return UpdkitFail("cannot open key %s (error %d)", keyPath, err);
  uint32_t size = 0, type = 0;
  if (int err = key->Query(name, &type, nullptr, &size))
    return UpdkitFail("no value %s in %s (error %d)", name, keyPath, err);
  std::vector<uint8_t> data(size + 1);
  if (int err = key->Query(name, &type, data.data(), &size))
    return UpdkitFail("cannot read %s (error %d)", name, err);
  data.resize(size);
  if (type == plat::kRegSz) {
    std::string text(data.begin(), data.end());
    std::printf("%s\n", text.c_str());
  } else if (type == plat::kRegDword && size == 4) {
    uint32_t v =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    std::printf("0x%08x\n", v);
  } else {
    std::printf("hex(%x):", type);
    for (size_t i = 0; i < data.size(); ++i) std::printf(i == 0 ? "%02x" : ",%02x", data[i]);
    std::printf("\n");
  }
  return 0;
}

int Set(const char* keyPath, const char* name, const char* text, int64_t dword) {
  std::unique_ptr<plat::RegKey> key;
  if (int err = plat::Registry::Default()->CreateKey(keyPath, &key))
    return UpdkitFail("cannot create key %s (error %d)", keyPath, err);
  int err = 0;
  if (text != nullptr) {
    err = key->Set(name, plat::kRegSz, text, static_cast<uint32_t>(std::strlen(text) + 1));
  } else {
    const uint32_t v = static_cast<uint32_t>(dword);
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    err = key->Set(name, plat::kRegDword, b, 4);
  }
  if (err != 0) return UpdkitFail("cannot write %s (error %d)", name, err);
  return 0;
}

int Delete(const char* keyPath, const char* name) {
  std::unique_ptr<plat::RegKey> key;
  if (int err = plat::Registry::Default()->OpenKey(keyPath, &key))
    return UpdkitFail("cannot open key %s (error %d)", keyPath, err);
  if (int err = key->Delete(name)) return UpdkitFail("cannot delete %s (error %d)", name, err);
  return 0;
}

int Dump(const char* keyPath) {
  std::vector<std::string> keys;
  if (int err = plat::Registry::Default()->ListKeys(keyPath, &keys))
    return UpdkitFail("cannot list %s (error %d)", keyPath, err);
  plat::regfile::Document doc;
  for (const std::string& path : keys) {
    std::unique_ptr<plat::RegKey> key;
    if (int err = plat::Registry::Default()->OpenKey(path.c_str(), &key))
      return UpdkitFail("cannot open key %s (error %d)", path.c_str(), err);
    plat::regfile::Key* out = plat::regfile::AddKey(&doc, path);
    if (int err = key->List(&out->values))
      return UpdkitFail("cannot list %s (error %d)", path.c_str(), err);
  }
  std::fputs(plat::regfile::Serialize(doc).c_str(), stdout);
  return 0;
}

// Runs an action on the registry file that --registry names (POSIX); a
// failure also says which file that was and, when known, why it failed.
std::function<int(const Args&)> On(int (*action)(const Args&)) {
  return [action](const Args& a) {
    // The argument is in the code page; the registry file takes the
    // system's name.
    if (const char* file = a.Value("--registry"))
      plat::SetRegistryFile(plat::NativePath(file).c_str());
    const int status = action(a);
    const std::string note = plat::RegistryNote();
    if (status != 0 && !note.empty()) UpdkitPrint(stderr, "%s\n", note.c_str() + 1);
    return status;
  };
}

const Command kRegistryCommand{
    "registry",
    "get, set, delete and dump values below HKEY_LOCAL_MACHINE",
    {
        {"get",
         {"KEY", "NAME"},
         {},
         "Prints the value: a text (REG_SZ) up to its first zero byte, a\n"
         "REG_DWORD as 0x%08x, anything else as hex(TYPE):BYTES. Status 1\n"
         "when the key or value does not exist.\n",
         On([](const Args& a) { return Get(a.word(0), a.word(1)); })},
        {"set",
         {"KEY", "NAME"},
         {OneOf(Valued("--sz", "TEXT")), OneOf(Number("--dword", "N", 0, 0xFFFFFFFF))},
         "Creates the key when needed and stores the text with its\n"
         "terminating zero, or N (decimal, or hex after 0x) as REG_DWORD.\n",
         On([](const Args& a) {
           return Set(a.word(0), a.word(1), a.Value("--sz"), a.Number("--dword", 0));
         })},
        {"delete", {"KEY", "NAME"}, {}, "", On([](const Args& a) {
           return Delete(a.word(0), a.word(1));
         })},
        {"dump",
         {"[KEY]"},
         {},
         "Prints KEY and every key below it (all keys without KEY) in the\n"
         "REGEDIT4 text format.\n",
         On([](const Args& a) { return Dump(a.words().empty() ? "" : a.word(0)); })},
    },
    "KEY is written as in the registry (SOFTWARE\\Varnholt\\Marovex\\Version),\n"
    "always below HKEY_LOCAL_MACHINE. --registry names the .reg file on\n"
    "POSIX (instead of UPDATER_REGISTRY or ~/.updater-registry.reg); it is\n"
    "ignored on Windows.\n",
    {Valued("--registry", "FILE")},
    1,  // status of a command line without an action
    1,  // and of a wrong one for an action
};

}  // namespace

UPDKIT_COMMAND(registry, kRegistryCommand);
