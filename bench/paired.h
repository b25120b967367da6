// Paired measurement: the floor and the library run in alternating blocks
// inside one benchmark, so that whatever else the machine is doing at the
// moment weighs on both alike. Each pair of blocks gives a ratio; a run
// reports the median of its ratios and both sides' time per unit.
#ifndef ZORVAN_BENCH_PAIRED_H
#define ZORVAN_BENCH_PAIRED_H

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace zbench {

enum class Clock {
  Cpu,   // this thread's CPU time: in-process work
  Wall,  // elapsed time: work done in forked children
};

inline double nowNs(Clock clock) {
  struct timespec t;
  clock_gettime(clock == Clock::Cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// One benchmark iteration is one floor block and one library block, in
// alternating order; a block is callsPerBlock calls of the side's function,
// each worth unitsPerCall units (trace lines, say). A side returning false
// ends the run with an error. Counters: floor_ns and library_ns per unit,
// ratio = median over the block pairs of library time / floor time.
template <typename Floor, typename Library>
void runPaired(benchmark::State &state, Clock clock, int callsPerBlock, double unitsPerCall,
               Floor &&floor, Library &&library) {
  std::vector<double> ratios;
  double floorTotal = 0, libraryTotal = 0;
  bool libraryFirst = false;
  bool failed = false;
  auto block = [&](auto &side, double &elapsed) {
    double start = nowNs(clock);
    for (int i = 0; i < callsPerBlock; ++i)
      if (!side()) failed = true;
    elapsed = nowNs(clock) - start;
  };
  for (auto _ : state) {
    double f = 0, l = 0;
    if (libraryFirst) {
      block(library, l);
      block(floor, f);
    } else {
      block(floor, f);
      block(library, l);
    }
    libraryFirst = !libraryFirst;
    if (failed) {
      state.SkipWithError("a benchmarked call did not do its work");
      return;
    }
    floorTotal += f;
    libraryTotal += l;
    ratios.push_back(l / f);
  }
  if (ratios.empty()) return;
  double units = static_cast<double>(ratios.size()) * callsPerBlock * unitsPerCall;
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["floor_ns"] = floorTotal / units;
  state.counters["library_ns"] = libraryTotal / units;
  state.counters["ratio"] = ratios[ratios.size() / 2];
}

}  // namespace zbench

#endif
