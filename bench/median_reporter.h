// A console reporter that also keeps each repetition's time per iteration by
// benchmark name, so that a benchmark program can print ratios of two
// measurements taken in the same run.
#ifndef KEL_BENCH_MEDIAN_REPORTER_H_
#define KEL_BENCH_MEDIAN_REPORTER_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace kel::bench {

class MedianReporter : public benchmark::ConsoleReporter {
 public:
  // `wall`: keep real time instead of CPU time (for work that waits on
  // another thread or process, such as a loopback exchange).
  explicit MedianReporter(bool wall = false) : wall_(wall) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      double total = wall_ ? run.real_accumulated_time : run.cpu_accumulated_time;
      seconds_[run.run_name.function_name].push_back(total / static_cast<double>(run.iterations));
    }
  }

  // Median seconds per iteration, or a negative value when the benchmark did
  // not run (filtered out).
  double Median(const std::string &name) const {
    auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return -1;
    std::vector<double> times = found->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

 private:
  bool wall_;
  std::map<std::string, std::vector<double>> seconds_;
};

}  // namespace kel::bench

#endif  // KEL_BENCH_MEDIAN_REPORTER_H_
