#include "platform/ui.h"

namespace plat {

namespace {
Ui* g_ui = nullptr;
}

Ui* DefaultUi() { return g_ui != nullptr ? g_ui : NativeUi(); }
void SetDefaultUi(Ui* ui) { g_ui = ui; }

int ShowMessageBox(const char* text, const char* caption, uint32_t flags) {
  return DefaultUi()->ShowMessageBox(text, caption, flags);
}
void Beep(uint32_t type) { DefaultUi()->Beep(type); }
int LoadResString(int id, char* buf, int capacity) {
  return DefaultUi()->LoadResString(id, buf, capacity);
}

}  // namespace plat
