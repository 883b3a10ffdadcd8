#include "platform/Ui.h"

namespace plat {

namespace {
Ui* g_ui = nullptr;
void* g_messageOwner = nullptr;
}  // namespace

Ui* Ui::Default() { return g_ui != nullptr ? g_ui : BackendUi(); }
void SetDefaultUi(Ui* ui) { g_ui = ui; }

void SetMessageOwner(void* window) { g_messageOwner = window; }
void* MessageOwner() { return g_messageOwner; }

int ShowMessageBox(const char* text, const char* caption, uint32_t flags) {
  return Ui::Default()->ShowMessageBox(text, caption, flags);
}
void Beep(uint32_t type) { Ui::Default()->Beep(type); }
int LoadResString(int id, char* buf, int capacity) {
  return Ui::Default()->LoadResString(id, buf, capacity);
}

}  // namespace plat
