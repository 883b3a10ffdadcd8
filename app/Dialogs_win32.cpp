// The progress and completion dialogs on Windows: templates 101 and 102 of
// the program's resources, driven by USER32.
#include <windows.h>

#include <memory>
#include "app/AppState.h"
#include "app/DialogIds.h"
#include "app/DialogTexts.h"
#include "app/Dialogs.h"
#include "app/ReadWholeFile.h"

#include "ourlib/src/ErrFrame.h"
#include "platform/Ui.h"

namespace {

HINSTANCE Instance() {
  HINSTANCE instance = static_cast<HINSTANCE>(App().instance);
  return instance != nullptr ? instance : GetModuleHandleA(nullptr);
}

// The progress dialog while it is open, else null.
HWND Progress() { return static_cast<HWND>(App().progressDialog); }

// Centres a window on the screen, moved without repainting.
void Centre(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  MoveWindow(hwnd, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
             w, h, FALSE);
}

// The path boxes are statics, for their path ellipsis; they get the sunken
// edge an edit box with a border has.
void SunkenEdge(HWND hwnd, int id) {
  HWND box = GetDlgItem(hwnd, id);
  SetWindowLongA(box, GWL_STYLE, GetWindowLongA(box, GWL_STYLE) & ~WS_BORDER);
  SetWindowLongA(box, GWL_EXSTYLE, GetWindowLongA(box, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
  SetWindowPos(box, nullptr, 0, 0, 0, 0,
               SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Counters are shown as unsigned decimal numbers.
void ShowCounter(HWND hwnd, int id, int32_t value) {
  SetDlgItemInt(hwnd, id, static_cast<UINT>(value), FALSE);
}

INT_PTR CALLBACK ProgressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextA(hwnd, IDC_SOURCE, "");
      SetDlgItemTextA(hwnd, IDC_DESTINATION, "");
      SetDlgItemInt(hwnd, IDC_FILES, 0, FALSE);
      SetDlgItemInt(hwnd, IDC_UNITS, 0, FALSE);
      SetDlgItemInt(hwnd, IDC_BYTES, 0, FALSE);
      SunkenEdge(hwnd, IDC_SOURCE);
      SunkenEdge(hwnd, IDC_DESTINATION);
      Centre(hwnd);
      // The foreground window before it is shown, so that it is shown
      // active: a program's first window is not always given the
      // foreground (under Wine it is not), and a window made foreground
      // only after it was shown keeps the inactive caption it was drawn with.
      SetForegroundWindow(hwnd);
      return TRUE;
    case WM_CLOSE:
      SendMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
      return FALSE;
    case WM_COMMAND:
      // The run stops at its next check point and shows why; the dialog
      // stays until then (CloseProgressDialog), so the player never sees
      // an updater that has vanished while it still writes.
      if (wParam != IDCANCEL) return FALSE;
      App().cancel = true;
      return TRUE;
    case WM_DESTROY:
      if (Progress() == hwnd) App().progressDialog = nullptr;
      if (plat::MessageOwner() == hwnd) plat::SetMessageOwner(nullptr);
      return FALSE;
    case UM_PROGRESS: {
      const ProgressInfo* info = reinterpret_cast<const ProgressInfo*>(lParam);
      if (info->source != nullptr) SetDlgItemTextA(hwnd, IDC_SOURCE, info->source);
      if (info->destination != nullptr) SetDlgItemTextA(hwnd, IDC_DESTINATION, info->destination);
      if (info->bytes != -1) ShowCounter(hwnd, IDC_BYTES, info->bytes);
      if (info->units != -1) ShowCounter(hwnd, IDC_UNITS, info->units);
      if (info->files != -1) ShowCounter(hwnd, IDC_FILES, info->files);
      return TRUE;
    }
    case UM_FILE_UPDATED: {
      const char* path = reinterpret_cast<const char*>(lParam);
      SetDlgItemTextA(hwnd, IDC_DESTINATION, path);
      ShowCounter(hwnd, IDC_FILES, CountFileUpdated(path));
      return TRUE;
    }
    case UM_BYTES_UPDATED:
      ShowCounter(hwnd, IDC_BYTES, CountBytesUpdated(static_cast<uint32_t>(wParam)));
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK CompletionProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      Centre(hwnd);
      char path[kPathField];
      ReportPath(path, sizeof path);
      MemPtr<char> report(ReadReport(path));
      if (report) {
        SetDlgItemTextA(hwnd, IDC_REPORT, report.get());
      } else {
        EndDialog(hwnd, -1);  // the message below is still set before the dialog goes
      }
      char message[kCompletionMessage];
      ComposeCompletionMessage(message, sizeof message);
      SetDlgItemTextA(hwnd, IDC_MESSAGE, message);
      return TRUE;
    }
    case WM_CLOSE:
      EndDialog(hwnd, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          EndDialog(hwnd, 1);
          return TRUE;
        case IDCANCEL:
          EndDialog(hwnd, 0);
          return TRUE;
        case IDC_REPORT: {
          if (HIWORD(wParam) != EN_SETFOCUS) return FALSE;
          // The whole report selected, with the caret at its start, so
          // that it is read from its first line.
          HWND report = reinterpret_cast<HWND>(lParam);
          SendMessageA(report, EM_SETSEL, static_cast<WPARAM>(GetWindowTextLengthA(report)), 0);
          SendMessageA(report, EM_SCROLLCARET, 0, 0);
          return TRUE;
        }
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

void SetInstanceHandle(void* instance) { App().instance = instance; }

bool CreateProgressDialog() {
  HWND dialog =
      CreateDialogParamA(Instance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc, 0);
  App().progressDialog = dialog;
  if (dialog == nullptr) return false;
  // Error and question boxes shown while it is open stay in front of it.
  plat::SetMessageOwner(dialog);
  return true;
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (Progress() == nullptr || !IsDialogMessageA(Progress(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void SendProgress(const ProgressInfo& info) {
  if (Progress() != nullptr)
    SendMessageA(Progress(), UM_PROGRESS, 0, reinterpret_cast<LPARAM>(&info));
}

void SendFileUpdated(const char* path) {
  if (Progress() != nullptr)
    SendMessageA(Progress(), UM_FILE_UPDATED, 0, reinterpret_cast<LPARAM>(path));
}

void SendBytesUpdated(uint32_t count) {
  if (Progress() != nullptr) SendMessageA(Progress(), UM_BYTES_UPDATED, count, 0);
}

void CloseProgressDialog() {
  HWND dialog = Progress();
  if (dialog == nullptr) return;
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);  // sets the cancel flag
  DestroyWindow(dialog);
}

int ShowCompletionDialog() {
  return static_cast<int>(
      DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_COMPLETION), nullptr, CompletionProc, 0));
}

void PostQuit(int code) { PostQuitMessage(code); }
