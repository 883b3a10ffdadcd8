// A progress line for updkit's long work: on a terminal, standard error shows
// one line, redrawn in place at most ten times a second, with a bar, the
// bytes or records done of the whole, the rate and the time left; the final
// state stays on screen with the time the work took. When standard error is
// not a terminal nothing at all is written, so logs and pipes stay clean.
//
//   Progress progress("pkg build", Progress::kBytes, totalBytes);
//   for (...) { ...; progress.Add(n); }
//   progress.WriteLine(stdout, name);   // a line of output, under the bar
//   progress.Done();                     // or let it go out of scope
//
// One Progress is live at a time (the command's own). A message that
// UpdkitFail prints while it is live starts on a line of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

class Progress {
 public:
  enum Unit { kBytes, kRecords };

  // label says what is done ("pkg build"); total is the whole work in units,
  // 0 when it is not known (then there is no bar and no time left).
  Progress(const std::string& label, Unit unit, uint64_t total);
  ~Progress();  // Done()
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // n more units are done.
  void Add(uint64_t n);
  // A better estimate of the whole (it may shrink as the work shows its size).
  void SetTotal(uint64_t total);
  // Writes text (of the ANSI code page, as UpdkitPrint) and a line feed to
  // out (stdout, say) without breaking the bar: the bar is taken off the
  // screen and drawn again below the text.
  void WriteLine(FILE* out, const char* text);
  // Draws the final state and ends the line; later calls do nothing.
  void Done();

  uint64_t done() const { return done_; }
  uint64_t total() const { return total_; }
  // True while the bar is on a terminal.
  bool shown() const { return shown_; }

  // Ends the live progress line, if any, so that what follows on standard
  // error starts on a line of its own (UpdkitFail calls it).
  static void BreakLine();

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(bool final);
  std::string Line(int columns, bool final) const;

  std::string label_;
  Unit unit_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool shown_ = false;  // a terminal, and not yet done
  size_t drawn_ = 0;    // length of the line on screen, to blank what is left of it
  Clock::time_point started_;
  Clock::time_point lastDraw_;
};
