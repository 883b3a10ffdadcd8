// Message boxes, the beep and the string table through USER32.
#include <windows.h>

#include "platform/Ui.h"

namespace plat {

namespace {

// The module the string table is read from: null for the running program,
// else a program file loaded as data (UseResourcesOf).
HMODULE g_resources = nullptr;

class WindowsUi : public Ui {
 public:
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    // A box without an owner can end up behind a window of this program,
    // which then looks hung while the box waits unseen.
    HWND owner = static_cast<HWND>(MessageOwner());
    if (owner != nullptr && !::IsWindow(owner)) owner = nullptr;
    return ::MessageBoxA(owner, text, caption, flags);
  }

  void Beep(uint32_t type) override { ::MessageBeep(type); }

  int LoadResString(int id, char* buf, int capacity) override {
    if (buf == nullptr || capacity <= 0) return 0;
    buf[0] = '\0';
    HINSTANCE module = g_resources != nullptr ? g_resources : ::GetModuleHandleA(nullptr);
    int n = ::LoadStringA(module, static_cast<UINT>(id), buf, capacity);
    if (n <= 0) {
      buf[0] = '\0';
      return 0;
    }
    return n;
  }
};

}  // namespace

Ui* BackendUi() {
  static WindowsUi ui;
  return &ui;
}

bool UseResourcesOf(const char* modulePath) {
  if (g_resources != nullptr) {
    ::FreeLibrary(g_resources);
    g_resources = nullptr;
  }
  if (modulePath == nullptr) return true;
  g_resources = ::LoadLibraryExA(modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return g_resources != nullptr;
}

void SetStringTable(const ResString*, size_t) {}

}  // namespace plat
