// The user-interface seam for messages: message box, beep and the program's
// string table. Windows: USER32 MessageBoxA, MessageBeep and LoadStringA from
// the program's own module. POSIX: the console (caption and text on standard
// error; a Yes/No question reads a line from standard input, end of input
// is No) and the string table the program hands over.
//
// The names differ from the Win32 ones because <windows.h> makes MessageBox
// and LoadString macros.
//
// Ui::Default() is the backend of this build. Tests put another in its place
// with SetDefaultUi (they record message boxes instead of showing them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Message box styles and results, with their Win32 values.
constexpr uint32_t kMbOk = 0x00000000;            // MB_OK
constexpr uint32_t kMbYesNo = 0x00000004;         // MB_YESNO
constexpr uint32_t kMbIconError = 0x00000010;     // MB_ICONERROR (MB_ICONHAND)
constexpr uint32_t kMbIconQuestion = 0x00000020;  // MB_ICONQUESTION
constexpr uint32_t kMbIconWarning = 0x00000030;   // MB_ICONWARNING
constexpr uint32_t kMbIconInfo = 0x00000040;      // MB_ICONINFORMATION
constexpr uint32_t kMbDefButton2 = 0x00000100;    // MB_DEFBUTTON2
constexpr int kIdOk = 1;                          // IDOK
constexpr int kIdCancel = 2;                      // IDCANCEL
constexpr int kIdYes = 6;                         // IDYES
constexpr int kIdNo = 7;                          // IDNO
// MessageBeep(0xFFFFFFFF): the standard beep.
constexpr uint32_t kBeepStandard = 0xFFFFFFFF;

class Ui {
 public:
  virtual ~Ui() = default;
  static Ui* Default();
  // A modal message box, owned by MessageOwner() while there is one;
  // returns the button chosen (kIdOk, kIdYes, kIdNo...). The console asks a
  // Yes/No box as "[y/N]": only a yes is Yes, and the end of input (no one
  // to ask) is No.
  virtual int ShowMessageBox(const char* text, const char* caption, uint32_t flags) = 0;
  virtual void Beep(uint32_t type) = 0;
  // Copies string `id` of the program's string table into buf (at most
  // capacity-1 characters and a terminator). Returns the length, 0 when
  // there is no such string (buf then holds an empty text when capacity > 0).
  virtual int LoadResString(int id, char* buf, int capacity) = 0;
};

// The window that message boxes belong to while it is open (the progress
// dialog): a box shown then stays in front of it and the window waits for
// the box. Null: none, the boxes stand alone. Windows only; the console has
// no windows.
void SetMessageOwner(void* window);
void* MessageOwner();

// Sets the Ui that Ui::Default() returns (null restores the backend's own).
void SetDefaultUi(Ui* ui);

// The backend of this build, whatever SetDefaultUi was given.
Ui* BackendUi();

// Shorthands for Ui::Default()->...
int ShowMessageBox(const char* text, const char* caption, uint32_t flags);
void Beep(uint32_t type);
int LoadResString(int id, char* buf, int capacity);

// Takes the string table from the program file at modulePath instead of the
// running program (Windows: loaded as a data file; tests use the updater's
// table). POSIX: the table is the one handed to SetStringTable; returns
// true. Null returns to the running program's own table.
bool UseResourcesOf(const char* modulePath);

// One text of a program's string table.
struct ResString {
  int id;
  const char* text;
};
// POSIX: the string table LoadResString reads, which the program hands over
// at start (the backend holds none of its own; until then every string is
// missing). The table must outlive its use. Windows: no effect; the table
// is a resource of the program file.
void SetStringTable(const ResString* table, size_t count);

}  // namespace plat
