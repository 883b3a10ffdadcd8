// Runs a benchmark program in rounds and compares each measure with its peer.
//
// Every round runs each benchmark of the comparison table once, in turn, so
// that ours and its peer alternate on the same data and under the same load
// (odd rounds go through the list backwards); the table at the end takes the
// median time of the rounds. By default the sizes are small and there is one
// round, which is how CI runs every benchmark once; UPD_BENCH_FULL=1 takes
// the sizes the performance table is measured at and three rounds
// (UPD_BENCH_ROUNDS overrides the count).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace bench {

inline bool Full() {
  const char* v = std::getenv("UPD_BENCH_FULL");
  return v != nullptr && *v != '\0' && *v != '0';
}

// The size of a measure: small unless UPD_BENCH_FULL is set.
inline int64_t Size(int64_t small, int64_t full) { return Full() ? full : small; }

inline int Rounds() {
  const char* v = std::getenv("UPD_BENCH_ROUNDS");
  int n = v != nullptr ? std::atoi(v) : 0;
  return n > 0 ? n : (Full() ? 3 : 1);
}

// One row of the table: the benchmark of ours beside the benchmark of its peer.
struct Comparison {
  const char* what;
  const char* ours;  // benchmark names
  const char* peer;
  // false: the ratio is our speed over the peer's (peer's time / ours) and
  // meets the target when at least `target`; true: the ratio is our time
  // over the peer's and meets it when at most `target`.
  bool timeRatio;
  double target;
};

// Which time the table compares: the processor time of the thread (its
// kernel time included), which other programs on the machine disturb least,
// or the wall-clock time, for measures that wait for the disk.
enum class Clock { kCpu, kReal };

// Shows every run as the console reporter does (the context once) and keeps
// each benchmark's times, one per round.
class RoundReporter : public benchmark::ConsoleReporter {
 public:
  explicit RoundReporter(Clock clock) : ConsoleReporter(OO_Tabular), clock_(clock) {}
  bool ReportContext(const Context& context) override {
    if (shown_) return true;
    shown_ = true;
    return ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      double total = clock_ == Clock::kCpu ? run.cpu_accumulated_time : run.real_accumulated_time;
      times_[run.run_name.function_name].push_back(total / static_cast<double>(run.iterations));
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // The median seconds per iteration of a benchmark, 0 when it did not run.
  double Median(const std::string& name) const {
    auto it = times_.find(name);
    if (it == times_.end() || it->second.empty()) return 0;
    std::vector<double> t = it->second;
    std::sort(t.begin(), t.end());
    size_t n = t.size();
    return n % 2 == 1 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
  }

 private:
  Clock clock_;
  bool shown_ = false;
  std::map<std::string, std::vector<double>> times_;
};

inline std::string Seconds(double s) {
  char text[32];
  if (s >= 1) {
    std::snprintf(text, sizeof text, "%.2f s", s);
  } else {
    std::snprintf(text, sizeof text, "%.1f ms", s * 1000);
  }
  return text;
}

// The program's main: runs the benchmarks of `table` (those the filter
// selects) in rounds, then prints the table as Markdown rows.
inline int Main(int argc, char** argv, Clock clock, const std::vector<Comparison>& table) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::regex filter(benchmark::GetBenchmarkFilter());
  std::vector<std::string> names;
  for (const Comparison& c : table) {
    for (const char* name : {c.ours, c.peer}) {
      if (std::find(names.begin(), names.end(), name) == names.end() &&
          std::regex_search(name, filter)) {
        names.push_back(name);
      }
    }
  }
  RoundReporter reporter(clock);
  const int rounds = Rounds();
  for (int r = 0; r < rounds; ++r) {
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string& name = names[r % 2 == 0 ? i : names.size() - 1 - i];
      benchmark::RunSpecifiedBenchmarks(&reporter, "^" + name + "(/|$)");
    }
  }
  benchmark::Shutdown();

  std::printf("\n%s time, median of %d round(s)%s\n\n",
              clock == Clock::kCpu ? "processor" : "wall-clock", rounds,
              Full() ? "" : " at the small CI sizes");
  std::printf("| what | ours | peer | ratio | target | met? |\n|---|---|---|---|---|---|\n");
  for (const Comparison& c : table) {
    double ours = reporter.Median(c.ours), peer = reporter.Median(c.peer);
    if (ours <= 0 || peer <= 0) continue;
    double ratio = c.timeRatio ? ours / peer : peer / ours;
    bool met = c.timeRatio ? ratio <= c.target : ratio >= c.target;
    std::printf("| %s | %s | %s | %.2f%s | %s %.2g%s | %s |\n", c.what, Seconds(ours).c_str(),
                Seconds(peer).c_str(), ratio, c.timeRatio ? "x its time" : "",
                c.timeRatio ? "<=" : ">=", c.target, c.timeRatio ? "x" : "", met ? "yes" : "no");
  }
  return 0;
}

}  // namespace bench
