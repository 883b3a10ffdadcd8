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
      Centre(hwnd);
      return TRUE;
    case WM_CLOSE:
      SendMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
      return FALSE;
    case WM_COMMAND:
      if (wParam != IDCANCEL) return FALSE;
      App().cancel = true;
      DestroyWindow(hwnd);
      if (Progress() == hwnd) App().progressDialog = nullptr;
      return TRUE;
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

INT_PTR CALLBACK CompletionProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
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
        case IDC_REPORT:
          if (HIWORD(wParam) != EN_SETFOCUS) return FALSE;
          // Start 0, end -1, packed in the high and low words.
          SendDlgItemMessageA(hwnd, IDC_REPORT, EM_SETSEL, 0, static_cast<LPARAM>(0xFFFF0000));
          return TRUE;
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
  App().progressDialog =
      CreateDialogParamA(Instance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressProc, 0);
  return Progress() != nullptr;
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
  if (Progress() != nullptr) SendMessageA(Progress(), WM_COMMAND, IDCANCEL, 0);
}

int ShowCompletionDialog() {
  return static_cast<int>(
      DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_COMPLETION), nullptr, CompletionProc, 0));
}

void PostQuit(int code) { PostQuitMessage(code); }
