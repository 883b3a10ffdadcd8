#include "app/AppState.h"

AppState& App() {
  static AppState state;
  return state;
}

void ResetAppState() {
  CloseLog();
  App() = AppState();
}

void UpdaterFolder(char* out, size_t capacity) {
  CopyBounded(out, capacity, App().updaterDrive);
  AppendBounded(out, capacity, App().updaterDir);
}
