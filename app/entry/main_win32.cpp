#include <windows.h>
// Placeholder entry point until the run loop lands.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
