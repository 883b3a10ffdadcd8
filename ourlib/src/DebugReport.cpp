#include "ourlib/src/DebugReport.h"

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ourlib/src/ErrFrame.h"

namespace {

constexpr size_t kMessageMax = 512;
constexpr char kTooLong[] = "User message too long";

struct Reporter {
  bool on = true;
  bool headerPending = true;
  std::FILE* log = nullptr;
  DebugBoxHook box = nullptr;
  bool boxOpen = false;
  std::string program;
  std::vector<uint32_t> values;
  int reports = 0;
};

Reporter& R() {
  static Reporter r;
  return r;
}

void Appendf(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string* out, const char* format, ...) {
  char buf[64];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n > 0)
    out->append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

// text, or its last `keep` characters with the first three of those made "...".
std::string CutFront(const char* text, size_t keep) {
  size_t n = std::strlen(text);
  if (n <= keep) return text;
  return "..." + std::string(text + n - keep + 3);
}

// The caller's message, at most kMessageMax characters; a longer one is cut
// so that it ends with kTooLong.
std::string FormatMessage(const char* format, va_list ap) {
  if (format == nullptr) return std::string();
  std::vector<char> buf(kMessageMax + 1);
  int n = std::vsnprintf(buf.data(), buf.size(), format, ap);
  if (n < 0) return std::string();
  std::string msg(buf.data());
  if (static_cast<size_t>(n) > kMessageMax) {
    msg.resize(kMessageMax - (sizeof kTooLong - 1));
    msg += kTooLong;
  }
  return msg;
}

void WriteHeader(std::FILE* log, int number) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const int ms =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm = *std::localtime(&t);
  std::fprintf(
      log, "\n%d ========================================  %02d.%02d.%d  %d:%02d:%02d.%03d\n",
      number, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

[[noreturn]] void EndProgram() {
  CloseDebugLog();
  std::raise(SIGABRT);
  std::exit(-1);
}

}  // namespace

int ReportDebugMessage(const char* file, int line, int abortFlag, int code, const char* format,
                       ...) {
  Reporter& r = R();
  FirstError& first = FirstErrorRecord();
  if (!r.on) {
    first.file = nullptr;
    return 0;
  }
  ++r.reports;

  va_list ap;
  va_start(ap, format);
  const std::string message = FormatMessage(format, ap);
  va_end(ap);

  const bool logging = r.log != nullptr;
  if (logging && r.headerPending) {
    WriteHeader(r.log, r.reports);
    r.headerPending = false;
  }

  std::string text;
  if (r.box != nullptr) text += "Program: " + CutFront(r.program.c_str(), 64);
  text += '\n';
  if (file != nullptr) {
    text += "File: " + CutFront(file, 64);
    text += logging ? "  " : "\n";
    if (line > 0) Appendf(&text, "Line: %d", line);
    if (logging) {
      // The caller's return address; the one before it cannot be had safely
      // without frame pointers and is written as 0.
      const auto caller = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
      Appendf(&text, " (%08X", static_cast<unsigned>(caller));
      Appendf(&text, " %08X)", 0u);
    }
    text += '\n';
  }
  if (first.file != nullptr && first.code == code) {
    text += "ExcRaise: " + CutFront(first.file, 54);
    Appendf(&text, " %d", first.line);
    text += '\n';
  }
  first.file = nullptr;
  if (code != 0) {
    Appendf(&text, "Error Code: 0x%08lX (%d)",
            static_cast<unsigned long>(static_cast<uint32_t>(code)),
            static_cast<int>(static_cast<int16_t>(code & 0xFFFF)));
  }
  text += '\n';
  if (!message.empty()) {
    if (!logging) text += '\n';
    text += message;
    text += '\n';
  }

  int result = 0;
  if (logging) {
    std::fputs(text.c_str(), r.log);
    for (size_t i = 0; i < r.values.size(); ++i) {
      std::fprintf(r.log, "%08X  ", static_cast<unsigned>(r.values[i]));
      if (i % 8 == 7 || i + 1 == r.values.size()) std::fputc('\n', r.log);
    }
    std::fflush(r.log);
    r.values.clear();
    if (abortFlag != 0) EndProgram();
  } else if (r.box != nullptr) {
    text += "\n(Press Retry to debug the application)";
    const char* caption = r.boxOpen        ? "Debug Message - SECOND CALL"
                          : abortFlag != 0 ? "Debug Error Message"
                                           : "Debug Message";
    r.values.clear();
    // A report made while the box is shown (from the hook) leaves it open.
    struct BoxOpen {
      bool& open;
      bool outer;
      explicit BoxOpen(bool& o) : open(o), outer(!o) { open = true; }
      ~BoxOpen() {
        if (outer) open = false;
      }
    } shown(r.boxOpen);
    const DebugBoxAnswer answer = r.box(text.c_str(), caption);
    if (answer == DebugBoxAnswer::Abort) EndProgram();
    result = answer == DebugBoxAnswer::Retry ? 1 : 0;
  } else {
    r.values.clear();
    if (abortFlag != 0) EndProgram();
  }
  return result;
}

void CloseDebugLog() {
  Reporter& r = R();
  if (r.log != nullptr) {
    std::fclose(r.log);
    r.log = nullptr;
  }
}

bool OpenDebugLog(const char* path) {
  CloseDebugLog();
  Reporter& r = R();
  r.log = std::fopen(path, "a");
  r.headerPending = true;
  return r.log != nullptr;
}

void SetDebugMessageBox(DebugBoxHook hook) { R().box = hook; }
void SetDebugProgramPath(const char* path) { R().program = path != nullptr ? path : ""; }
void SetDebugReporting(bool on) { R().on = on; }
void AddDebugValue(uint32_t value) { R().values.push_back(value); }
