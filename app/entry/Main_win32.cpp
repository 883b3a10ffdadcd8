// The updater on Windows: a GUI program with no main window.
#include <windows.h>

#include <cstdlib>

#include "app/Dialogs.h"
#include "app/RunUpdate.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SetInstanceHandle(instance);
  return UpdaterMain(__argc, __argv);
}
