#include "tools/updkit/Progress.h"

#include <algorithm>

#include "platform/Terminal.h"

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr double kSteadyAfter = 0.5;  // seconds before the rate means anything
constexpr int kNarrowestBar = 8;
constexpr int kWidestBar = 40;
constexpr int kNumbersWidth = 46;  // "100%  123.4/567.8 MiB  12.3 MiB/s  1:23:45 left"

Progress* g_live = nullptr;

std::string Printed(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Byte counts in the binary unit that suits the larger of the two.
struct Scale {
  double divisor;
  const char* name;
};
Scale ScaleOf(uint64_t bytes) {
  if (bytes >= (uint64_t{1} << 30)) return {double(uint64_t{1} << 30), "GiB"};
  if (bytes >= (uint64_t{1} << 20)) return {double(uint64_t{1} << 20), "MiB"};
  if (bytes >= 1024) return {1024.0, "KiB"};
  return {1.0, "B"};
}

std::string Bytes(uint64_t done, uint64_t total) {
  const Scale s = ScaleOf(std::max(done, total));
  const char* digits = s.divisor == 1.0 ? "%.0f" : "%.1f";
  std::string text = Printed(digits, double(done) / s.divisor);
  if (total != 0) text += "/" + Printed(digits, double(total) / s.divisor);
  return text + " " + s.name;
}

// "m:ss", or "h:mm:ss" from an hour on.
std::string Duration(double seconds) {
  const uint64_t s = static_cast<uint64_t>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(s / 3600),
                  unsigned(s / 60 % 60), unsigned(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%u:%02u", unsigned(s / 60), unsigned(s % 60));
  }
  return text;
}

}  // namespace

Progress::Progress(const std::string& label, Unit unit, uint64_t total)
    : label_(label), unit_(unit), total_(total), started_(Clock::now()) {
  shown_ = plat::TerminalColumns(plat::StdStream::kError) > 0;
  if (!shown_) return;
  g_live = this;
  Draw(false);
}

Progress::~Progress() { Done(); }

void Progress::Add(uint64_t n) {
  done_ += n;
  if (shown_ && Clock::now() - lastDraw_ >= kRedrawEvery) Draw(false);
}

void Progress::SetTotal(uint64_t total) { total_ = total; }

void Progress::WriteLine(FILE* out, const char* text) {
  if (shown_) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
    drawn_ = 0;
  }
  std::fputs(plat::ConsoleText(text).c_str(), out);
  std::fputc('\n', out);
  if (shown_) {
    std::fflush(out);
    Draw(false);
  }
}

void Progress::Done() {
  if (!shown_) return;
  Draw(true);
  shown_ = false;
  if (g_live == this) g_live = nullptr;
}

void Progress::BreakLine() {
  if (g_live == nullptr) return;
  std::fputc('\n', stderr);
  g_live->shown_ = false;
  g_live = nullptr;
}

void Progress::Draw(bool final) {
  lastDraw_ = Clock::now();
  int columns = plat::TerminalColumns(plat::StdStream::kError);
  if (columns <= 0) columns = 80;
  const std::string line = Line(columns, final);
  // Blanks cover what is left of a longer line drawn before (as far as the
  // terminal, which may have narrowed since, is wide).
  const size_t room = static_cast<size_t>(columns - 1);
  const size_t blanks =
      std::min(drawn_, room) > line.size() ? std::min(drawn_, room) - line.size() : 0;
  std::fprintf(stderr, "\r%s%*s%s", line.c_str(), static_cast<int>(blanks), "", final ? "\n" : "");
  std::fflush(stderr);
  drawn_ = line.size();
}

std::string Progress::Line(int columns, bool final) const {
  const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
  const bool steady = final || elapsed >= kSteadyAfter;
  const bool sized = total_ != 0;
  // The work may pass an estimate of its size; the bar then stays full.
  const uint64_t whole = std::max(total_, done_);

  std::string amount, rate;
  const double perSecond = elapsed > 0 ? double(done_) / elapsed : 0;
  if (unit_ == kBytes) {
    amount = Bytes(done_, sized ? whole : 0);
    if (steady) rate = Bytes(static_cast<uint64_t>(perSecond), 0) + "/s";
  } else {
    amount = std::to_string(done_) + (sized ? "/" + std::to_string(whole) : "") + " records";
    if (steady) rate = Printed("%.0f/s", perSecond);
  }
  std::string time;
  if (final) {
    time = "took " + Duration(elapsed);
  } else if (sized) {
    time = steady && perSecond > 0 ? Duration(double(whole - done_) / perSecond) + " left"
                                   : "--:-- left";
  }
  const std::string percent =
      sized ? Printed("%3.0f%%", whole == 0 ? 100.0 : 100.0 * double(done_) / double(whole)) : "";

  // The last column stays free: a terminal that wraps there would move the
  // next redraw a line down. The bar keeps its width while the numbers
  // change (it leaves them room for their longest); what does not fit
  // goes: the bar first, then the time, then the rate.
  const size_t width = static_cast<size_t>(std::max(columns - 1, 1));
  std::string tail = amount;
  for (const std::string* part : {&rate, &time}) {
    if (!part->empty()) tail += "  " + *part;
  }
  if (!percent.empty()) tail = percent + "  " + tail;
  std::string head = label_ + " ";
  const int room = static_cast<int>(width) - static_cast<int>(head.size()) - 3 - kNumbersWidth;
  if (sized && room >= kNarrowestBar) {
    const int bar = std::min(room, kWidestBar);
    const int filled = static_cast<int>(bar * (whole == 0 ? 1.0 : double(done_) / double(whole)));
    head += "[" + std::string(filled, '#') + std::string(bar - filled, '-') + "] ";
  }
  std::string line = head + tail;
  if (line.size() > width && !time.empty()) line = line.substr(0, line.size() - time.size() - 2);
  if (line.size() > width && !rate.empty() && line.size() >= rate.size() + 2)
    line = line.substr(0, line.size() - rate.size() - 2);
  if (line.size() > width) line.resize(width);
  return line;
}
