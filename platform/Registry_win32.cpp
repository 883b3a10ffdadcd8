// HKEY_LOCAL_MACHINE through ADVAPI32, in the 32-bit view: the game and its
// installer are 32-bit programs, whose keys 64-bit Windows keeps below
// SOFTWARE\WOW6432Node; a 64-bit build of the updater asks for that view as
// a 32-bit one is given it (32-bit Windows has only the one view and ignores
// the flag).
#include <windows.h>

#include <algorithm>

#include "platform/Registry.h"

namespace plat {

namespace {

// What RegOpenKeyA and RegCreateKeyA ask for, in the 32-bit view.
constexpr REGSAM kAccess = MAXIMUM_ALLOWED | KEY_WOW64_32KEY;

class WinKey : public RegKey {
 public:
  explicit WinKey(HKEY key) : key_(key) {}
  ~WinKey() override { ::RegCloseKey(key_); }
  WinKey(const WinKey&) = delete;
  WinKey& operator=(const WinKey&) = delete;

  int Query(const char* name, uint32_t* type, void* data, uint32_t* size) override {
    DWORD t = 0;
    DWORD n = *size;
    LONG err = ::RegQueryValueExA(key_, name, nullptr, &t, static_cast<BYTE*>(data), &n);
    *size = n;
    if (type != nullptr) *type = t;
    return static_cast<int>(err);
  }

  int Set(const char* name, uint32_t type, const void* data, uint32_t size) override {
    return static_cast<int>(
        ::RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size));
  }

  int Delete(const char* name) override { return static_cast<int>(::RegDeleteValueA(key_, name)); }

  int Flush() override { return static_cast<int>(::RegFlushKey(key_)); }

  int List(std::vector<RegValue>* values) override {
    values->clear();
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD nameLen = sizeof name;
      DWORD type = 0;
      DWORD dataLen = 0;
      LONG err = ::RegEnumValueA(key_, i, name, &nameLen, nullptr, &type, nullptr, &dataLen);
      if (err == ERROR_NO_MORE_ITEMS) return 0;
      if (err != ERROR_SUCCESS) return static_cast<int>(err);
      RegValue v;
      v.name.assign(name, nameLen);
      v.type = type;
      v.data.resize(dataLen);
      DWORD got = dataLen;
      err = ::RegQueryValueExA(key_, v.name.c_str(), nullptr, &type, v.data.data(), &got);
      if (err != ERROR_SUCCESS) return static_cast<int>(err);
      v.data.resize(got);
      values->push_back(std::move(v));
    }
  }

 private:
  HKEY key_;
};

int ListBelow(HKEY parent, const std::string& path, std::vector<std::string>* keys) {
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameLen = sizeof name;
    LONG err = ::RegEnumKeyExA(parent, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (err == ERROR_NO_MORE_ITEMS) return 0;
    if (err != ERROR_SUCCESS) return static_cast<int>(err);
    std::string child = path.empty() ? std::string(name) : path + "\\" + name;
    keys->push_back(child);
    HKEY sub = nullptr;
    if (::RegOpenKeyExA(parent, name, 0, kAccess, &sub) == ERROR_SUCCESS) {
      int e = ListBelow(sub, child, keys);
      ::RegCloseKey(sub);
      if (e != 0) return e;
    }
  }
}

// The key at path below HKEY_LOCAL_MACHINE, opened or (create) made with
// its parents where missing.
int KeyAt(bool create, const char* path, std::unique_ptr<RegKey>* out) {
  HKEY key = nullptr;
  LONG err = create ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, kAccess, nullptr, &key, nullptr)
                    : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, kAccess, &key);
  if (err != ERROR_SUCCESS) return static_cast<int>(err);
  out->reset(new WinKey(key));
  return 0;
}

class WinRegistry : public Registry {
 public:
  int OpenKey(const char* path, std::unique_ptr<RegKey>* out) override {
    return KeyAt(false, path, out);
  }
  int CreateKey(const char* path, std::unique_ptr<RegKey>* out) override {
    return KeyAt(true, path, out);
  }

  int ListKeys(const char* path, std::vector<std::string>* keys) override {
    keys->clear();
    std::string p = path != nullptr ? path : "";
    HKEY key = nullptr;
    LONG err = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, p.c_str(), 0, kAccess, &key);
    if (err != ERROR_SUCCESS) return static_cast<int>(err);
    if (!p.empty()) keys->push_back(p);
    int e = ListBelow(key, p, keys);
    ::RegCloseKey(key);
    std::sort(keys->begin(), keys->end());
    return e;
  }
};

}  // namespace

std::string RegistryFilePath() { return std::string(); }
std::string RegistryNote() { return std::string(); }
void SetRegistryFile(const char*) {}

Registry* BackendRegistry() {
  static WinRegistry registry;
  return &registry;
}

}  // namespace plat
