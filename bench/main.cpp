// Runs the suite in a private /tmp and closes with a summary: each
// figure's median next to its floor's, their ratio and the target.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bench_setup.h"

namespace {

struct Samples {
  std::vector<double> iterations;  // ns per iteration, one per repetition
  double median = -1;              // the "median" aggregate when reported
};

// Real time for the forking benchmarks (the child's work is not this
// process's CPU time), CPU time for the rest.
double nanoseconds(const benchmark::BenchmarkReporter::Run &run, bool realTime) {
  double adjusted = realTime ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
  return adjusted * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
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
      bool realTime = key.rfind("initialize/", 0) == 0;
      Samples &samples = samples_[key];
      if (run.run_type == Run::RT_Iteration)
        samples.iterations.push_back(nanoseconds(run, realTime));
      else if (run.aggregate_name == "median")
        samples.median = nanoseconds(run, realTime);
    }
    ConsoleReporter::ReportRuns(reports);
  }

  int errors() const { return errors_; }

  // -1 when the benchmark did not run (filtered out or failed).
  double median(const std::string &key) const {
    auto found = samples_.find(key);
    if (found == samples_.end()) return -1;
    if (found->second.median >= 0) return found->second.median;
    std::vector<double> v = found->second.iterations;
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }

 private:
  std::map<std::string, Samples> samples_;
  int errors_ = 0;
};

struct Figure {
  std::string label;
  std::string floor;
  std::string library;
  double divisor;         // units per iteration (trace lines per call)
  double target;          // 0: reported only
  double entries;         // > 0: also print the cost per entry
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
      {"forwarded call, tracing off", "forward_off/floor", "forward_off/library", 1, 1.15, 0},
      {"trace line (traced call / 5)", "trace_call/floor", "trace_call/library",
       zbench::kLinesPerForwardedCall, 1.25, 0},
      {"  same, floor with the fstat", "trace_call/floor_with_fstat", "trace_call/library",
       zbench::kLinesPerForwardedCall, 0, 0},
      {"db2ACSInitialize, first binding", "initialize/floor", "initialize/library", 1, 0, 0},
  };
  for (int size : zbench::kScanSizes)
    figures.push_back({"first-instance scan, " + std::to_string(size) + " entries",
                       "scan/floor/" + std::to_string(size), "scan/library/" + std::to_string(size),
                       1, 1.3, static_cast<double>(size)});

  int missed = 0;
  printf("\nSummary: medians; ratio = library / floor\n");
  printf("%-34s %12s %12s %7s %8s\n", "figure", "floor", "library", "ratio", "target");
  for (const Figure &f : figures) {
    double floorNs = reporter.median(f.floor);
    double libraryNs = reporter.median(f.library);
    if (floorNs <= 0 || libraryNs <= 0) continue;
    floorNs /= f.divisor;
    libraryNs /= f.divisor;
    double ratio = libraryNs / floorNs;
    char target[32] = "-";
    if (f.target > 0) {
      bool met = ratio <= f.target;
      if (!met) ++missed;
      snprintf(target, sizeof target, "%.2f %s", f.target, met ? "met" : "MISSED");
    }
    printf("%-34s %12s %12s %7.3f %s\n", f.label.c_str(), timeText(floorNs).c_str(),
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
  if (!zbench::isolateTmp(why)) {
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
