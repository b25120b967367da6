// Runs the suite in a private /tmp and closes with a summary: for each
// figure the library's time beside its floor's, their ratio and the target,
// taken as medians over the repetitions.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bench_setup.h"
#include "private_tmp.h"

namespace {

// The counters runPaired reports, one value per repetition.
struct Samples {
  std::vector<double> floorNs, libraryNs, ratio;
  bool fromMedian = false;  // the "median" aggregate stands for them all
};

double medianOf(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &run : reports) {
      if (run.error_occurred) {
        ++errors_;
        continue;
      }
      std::string key = run.run_name.function_name;
      if (!run.run_name.args.empty()) key += "/" + run.run_name.args;
      auto counter = [&](const char *name) {
        auto found = run.counters.find(name);
        return found == run.counters.end() ? -1.0 : found->second.value;
      };
      Samples &s = samples_[key];
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration && !s.fromMedian) {
        s.floorNs.push_back(counter("floor_ns"));
        s.libraryNs.push_back(counter("library_ns"));
        s.ratio.push_back(counter("ratio"));
      } else if (median) {
        s = Samples{{counter("floor_ns")}, {counter("library_ns")}, {counter("ratio")}, true};
      }
    }
    ConsoleReporter::ReportRuns(reports);
  }

  int errors() const { return errors_; }
  const Samples *find(const std::string &key) const {
    auto found = samples_.find(key);
    return found == samples_.end() || found->second.ratio.empty() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Samples> samples_;
  int errors_ = 0;
};

struct Figure {
  std::string label;
  std::string key;
  double target;   // 0: reported only
  double entries;  // > 0: also the cost per entry
};

std::string timeText(double ns) {
  char text[32];
  if (ns >= 1e6)
    snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  else if (ns >= 1e4)
    snprintf(text, sizeof text, "%.1f us", ns / 1e3);
  else
    snprintf(text, sizeof text, "%.0f ns", ns);
  return text;
}

void printSummary(const SummaryReporter &reporter) {
  std::vector<Figure> figures = {
      {"forwarded call, tracing off", "forward_off", 1.05, 0},
      {"trace line (per line of a call)", "trace_line", 1.25, 0},
      {"  same, floor with the fstat", "trace_line_vs_fstat_floor", 0, 0},
      {"db2ACSInitialize, first binding", "initialize", 0, 0},
  };
  for (int size : zbench::kScanSizes)
    figures.push_back({"first-instance scan, " + std::to_string(size) + " entries",
                       "scan/" + std::to_string(size), 1.3, static_cast<double>(size)});

  int missed = 0;
  printf("\nSummary (medians over the repetitions; ratio = median of the paired blocks' "
         "library / floor)\n");
  printf("%-34s %12s %12s %7s  %s\n", "figure", "floor", "library", "ratio", "target");
  for (const Figure &f : figures) {
    const Samples *s = reporter.find(f.key);
    if (s == nullptr) continue;
    double floorNs = medianOf(s->floorNs), libraryNs = medianOf(s->libraryNs);
    double ratio = medianOf(s->ratio);
    char target[32] = "-";
    if (f.target > 0) {
      bool met = ratio <= f.target;
      if (!met) ++missed;
      snprintf(target, sizeof target, "%.2f %s", f.target, met ? "met" : "MISSED");
    }
    printf("%-34s %12s %12s %7.3f  %s\n", f.label.c_str(), timeText(floorNs).c_str(),
           timeText(libraryNs).c_str(), ratio, target);
    if (f.entries > 0)
      printf("%-34s %12s %12s\n", "  per entry", timeText(floorNs / f.entries).c_str(),
             timeText(libraryNs / f.entries).c_str());
  }
  printf("%s\n", missed == 0 ? "every target met" : "some targets missed");
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::string why;
  if (!testsupport::isolateTmp(why)) {
    // Never run against the host's /tmp: the trace file and debug markers
    // there are live for every DB2 on the host.
    fprintf(stderr, "cannot isolate /tmp (%s); the benchmarks need root\n", why.c_str());
    return 1;
  }
  zbench::prepare();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printSummary(reporter);
  benchmark::Shutdown();
  // A missed target is a figure to read, not a failure; a benchmark that
  // could not do its work is.
  if (reporter.errors() > 0) {
    fprintf(stderr, "%d benchmark run(s) failed\n", reporter.errors());
    return 1;
  }
  return 0;
}
