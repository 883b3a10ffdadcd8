// Driving another program through KERNEL32 processes and USER32 messages.
#include <windows.h>

#include <cstring>

#include "platform/testing/UiDriver.h"

namespace plat {

namespace {

HWND AsHwnd(WindowId w) { return reinterpret_cast<HWND>(w); }
WindowId AsId(HWND w) { return reinterpret_cast<WindowId>(w); }

int LastError() {
  DWORD err = ::GetLastError();
  return err == 0 ? ERROR_GEN_FAILURE : static_cast<int>(err);
}

// The part of "NAME=value" before the separating '='; a leading '=' belongs
// to the name (Windows keeps per-drive folders as "=C:=C:\...").
std::string VariableName(const std::string& entry) {
  size_t eq = entry.find('=', 1);
  return entry.substr(0, eq);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// This program's environment with additions (an added name replaces the
// inherited one), as the block CreateProcessA takes: entries ended by a
// zero byte, then one more.
std::string EnvironmentBlock(const std::vector<std::string>& additions) {
  std::vector<std::string> entries;
  if (char* own = ::GetEnvironmentStringsA()) {
    for (const char* p = own; *p != '\0'; p += std::strlen(p) + 1) entries.emplace_back(p);
    ::FreeEnvironmentStringsA(own);
  }
  for (const std::string& add : additions) {
    const std::string name = VariableName(add);
    for (auto it = entries.begin(); it != entries.end();) {
      it = SameName(VariableName(*it), name) ? entries.erase(it) : it + 1;
    }
    entries.push_back(add);
  }
  std::string block;
  for (const std::string& e : entries) block.append(e).push_back('\0');
  block.push_back('\0');
  return block;
}

}  // namespace

struct ChildProcess::Handles {
  PROCESS_INFORMATION pi{};
};

ChildProcess::ChildProcess() : h_(new Handles) {}

ChildProcess::~ChildProcess() {
  if (h_->pi.hProcess == nullptr) return;
  if (::WaitForSingleObject(h_->pi.hProcess, 0) == WAIT_TIMEOUT)
    ::TerminateProcess(h_->pi.hProcess, 99);
  ::CloseHandle(h_->pi.hThread);
  ::CloseHandle(h_->pi.hProcess);
}

int ChildProcess::Start(const std::string& commandLine, const ChildOptions& options) {
  if (h_->pi.hProcess != nullptr) return ERROR_BUSY;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!options.outputFile.empty()) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};  // the child inherits it
    output = ::CreateFileA(options.outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                           CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) return LastError();
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output;
    si.hStdError = output;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  }
  std::string env;
  if (!options.environment.empty()) env = EnvironmentBlock(options.environment);
  std::string cmd = commandLine;  // CreateProcessA may write into it
  BOOL ok = ::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0,
                             env.empty() ? nullptr : &env[0],
                             options.workingDir.empty() ? nullptr : options.workingDir.c_str(), &si,
                             &h_->pi);
  int err = ok ? 0 : LastError();
  // The child holds its own copy of the output handle.
  if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
  if (!ok) h_->pi = PROCESS_INFORMATION{};
  return err;
}

bool ChildProcess::Wait(int timeoutMs, uint32_t* exitCode) {
  if (h_->pi.hProcess == nullptr) return false;
  if (::WaitForSingleObject(h_->pi.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
    return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(h_->pi.hProcess, &code)) return false;
  *exitCode = code;
  return true;
}

uint32_t ChildProcess::Id() const { return h_->pi.dwProcessId; }

int VisibleWindowsOf(uint32_t processId, const std::string& caption, std::vector<WindowId>* out) {
  struct Search {
    DWORD pid;
    const std::string& caption;
    std::vector<WindowId>* found;
  } s{processId, caption, out};
  out->clear();
  ::EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        Search* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid != s->pid || !::IsWindowVisible(w)) return TRUE;
        char title[256] = "";
        ::GetWindowTextA(w, title, sizeof title);
        if (s->caption == title) s->found->push_back(AsId(w));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return 0;
}

std::string WindowText(WindowId window) {
  if (window == kNoWindow) return "";
  char buf[4096] = "";
  DWORD_PTR got = 0;
  // A timeout, so that a hung program fails the test instead of stopping it.
  ::SendMessageTimeoutA(AsHwnd(window), WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                        SMTO_NORMAL, 5000, &got);
  buf[sizeof buf - 1] = '\0';
  return buf;
}

WindowId ControlOf(WindowId dialog, int id) { return AsId(::GetDlgItem(AsHwnd(dialog), id)); }

std::string ControlText(WindowId dialog, int id) { return WindowText(ControlOf(dialog, id)); }

int PressButton(WindowId dialog, int id) {
  HWND button = ::GetDlgItem(AsHwnd(dialog), id);
  if (!::PostMessageA(AsHwnd(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
    return LastError();
  }
  return 0;
}

int PostKey(WindowId window, UiKey key) {
  WPARAM vk = key == UiKey::Escape ? VK_ESCAPE : VK_RETURN;
  return ::PostMessageA(AsHwnd(window), WM_KEYDOWN, vk, 0) ? 0 : LastError();
}

int PressCloseBox(WindowId window) {
  return ::PostMessageA(AsHwnd(window), WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : LastError();
}

uint32_t WindowStyle(WindowId window) {
  if (window == kNoWindow) return 0;
  return static_cast<uint32_t>(::GetWindowLongA(AsHwnd(window), GWL_STYLE));
}

std::string ClassOf(WindowId window) {
  char name[256] = "";
  if (window == kNoWindow || ::GetClassNameA(AsHwnd(window), name, sizeof name) == 0) return "";
  return name;
}

WindowId OwnerOf(WindowId window) { return AsId(::GetWindow(AsHwnd(window), GW_OWNER)); }

std::vector<WindowId> ChildrenTopDown(WindowId parent) {
  std::vector<WindowId> children;
  for (HWND w = ::GetWindow(AsHwnd(parent), GW_CHILD); w != nullptr;
       w = ::GetWindow(w, GW_HWNDNEXT)) {
    children.push_back(AsId(w));
  }
  return children;
}

WindowId ForegroundWindow() { return AsId(::GetForegroundWindow()); }

int CaptionDrawnActive(WindowId window, bool* active) {
  RECT r;
  if (!::GetWindowRect(AsHwnd(window), &r)) return LastError();
  // Along the middle of the caption bar, the pixels that are not its text
  // have the colours of an active or of an inactive caption (either end of
  // the gradient).
  const int y = r.top + ::GetSystemMetrics(SM_CYFIXEDFRAME) + ::GetSystemMetrics(SM_CYCAPTION) / 2;
  const COLORREF activeLeft = ::GetSysColor(COLOR_ACTIVECAPTION);
  const COLORREF activeRight = ::GetSysColor(COLOR_GRADIENTACTIVECAPTION);
  const COLORREF inactiveLeft = ::GetSysColor(COLOR_INACTIVECAPTION);
  const COLORREF inactiveRight = ::GetSysColor(COLOR_GRADIENTINACTIVECAPTION);
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return LastError();
  int activePixels = 0, inactivePixels = 0;
  for (int x = r.left; x < r.right; ++x) {
    const COLORREF p = ::GetPixel(screen, x, y);
    if (p == activeLeft || p == activeRight) ++activePixels;
    if (p == inactiveLeft || p == inactiveRight) ++inactivePixels;
  }
  ::ReleaseDC(nullptr, screen);
  if (activePixels == inactivePixels) return ERROR_NOT_FOUND;
  *active = activePixels > inactivePixels;
  return 0;
}

int ClientSize(WindowId window, int* width, int* height) {
  RECT r;
  if (!::GetClientRect(AsHwnd(window), &r)) return LastError();
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  return 0;
}

int EditView(WindowId edit, int* firstLine, int* selStart, int* selEnd) {
  DWORD_PTR line = 0;
  DWORD_PTR sel = 0;
  // Both answers come back as results, with no pointers into this process.
  if (!::SendMessageTimeoutA(AsHwnd(edit), EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_NORMAL, 5000,
                             &line) ||
      !::SendMessageTimeoutA(AsHwnd(edit), EM_GETSEL, 0, 0, SMTO_NORMAL, 5000, &sel)) {
    return LastError();
  }
  *firstLine = static_cast<int>(line);
  *selStart = LOWORD(sel);
  *selEnd = HIWORD(sel);
  return 0;
}

struct DialogFont::Handles {
  HDC dc = nullptr;
  HFONT font = nullptr;
  HGDIOBJ previous = nullptr;
  int error = 0;
  int baseX = 0;
  int baseY = 0;
  ~Handles() {
    if (previous != nullptr) ::SelectObject(dc, previous);
    if (font != nullptr) ::DeleteObject(font);
    if (dc != nullptr) ::DeleteDC(dc);
  }
};

DialogFont::DialogFont(const std::string& face, int points) : h_(new Handles) {
  h_->dc = ::CreateCompatibleDC(nullptr);
  if (h_->dc == nullptr) {
    h_->error = LastError();
    return;
  }
  // The height in pixels for the screen, and the template's weight (none).
  const int pixels = ::MulDiv(points, ::GetDeviceCaps(h_->dc, LOGPIXELSY), 72);
  h_->font = ::CreateFontA(-pixels, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0,
                           0, PROOF_QUALITY, FF_DONTCARE, face.c_str());
  if (h_->font == nullptr) {
    h_->error = LastError();
    return;
  }
  h_->previous = ::SelectObject(h_->dc, h_->font);
  // The base units of a dialog in this font: the average width of the 52
  // letters, rounded, and the height of a line.
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE size;
  TEXTMETRICA metrics;
  if (!::GetTextExtentPoint32A(h_->dc, kLetters, 52, &size) ||
      !::GetTextMetricsA(h_->dc, &metrics)) {
    h_->error = LastError();
    return;
  }
  h_->baseX = (size.cx / 26 + 1) / 2;
  h_->baseY = metrics.tmHeight;
}

DialogFont::~DialogFont() = default;

int DialogFont::Error() const { return h_->error; }

int DialogFont::TextSize(const std::string& text, int* width, int* height) const {
  if (h_->error != 0) return h_->error;
  SIZE size;
  if (!::GetTextExtentPoint32A(h_->dc, text.data(), static_cast<int>(text.size()), &size))
    return LastError();
  *width = size.cx;
  *height = size.cy;
  return 0;
}

int DialogFont::UnitsX(int units) const { return ::MulDiv(units, h_->baseX, 4); }
int DialogFont::UnitsY(int units) const { return ::MulDiv(units, h_->baseY, 8); }

int OwnProgramPath(std::string* path) {
  char buf[MAX_PATH] = "";
  DWORD n = ::GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0) return LastError();
  if (n >= sizeof buf) return ERROR_INSUFFICIENT_BUFFER;
  path->assign(buf, n);
  return 0;
}

int OwnCommandLine(std::string* commandLine) {
  const char* line = ::GetCommandLineA();
  if (line == nullptr) return LastError();
  *commandLine = line;
  return 0;
}

}  // namespace plat
