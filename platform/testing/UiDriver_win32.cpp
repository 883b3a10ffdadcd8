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
