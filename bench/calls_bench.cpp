// A forwarded call, db2ACSBeginOperation through the dlopen'ed library
// bound to the null back end, against the system calls it cannot avoid.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_setup.h"

namespace {

using zbench::bound;

// Tracing off: five trace calls, each one access(W_OK) on the missing
// trace file, the debug-hold test of the missing marker, and the back end.
void forwardOffLibrary(benchmark::State &state) {
  zbench::traceOff();
  auto begin = bound().beginOperation;
  int opaque = 0;
  db2ACS_ReturnCode rc{0};
  for (auto _ : state) benchmark::DoNotOptimize(begin(1, &opaque, &rc));
}

void forwardOffFloor(benchmark::State &state) {
  zbench::traceOff();
  auto backend = bound().backendBegin;
  int opaque = 0;
  db2ACS_ReturnCode rc{0};
  for (auto _ : state) {
    for (int i = 0; i < zbench::kLinesPerForwardedCall; ++i)
      benchmark::DoNotOptimize(access(zbench::kTracePath, W_OK));
    benchmark::DoNotOptimize(access(zbench::kBeginOperationMarker, F_OK));
    benchmark::DoNotOptimize(backend(1, &opaque, &rc));
  }
}

// Time per trace line, as a counter beside the time per call.
void perLine(benchmark::State &state) {
  state.counters["per_line"] = benchmark::Counter(
      zbench::kLinesPerForwardedCall,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Tracing on: the same call writes five lines. Reported per call; the
// summary divides by five.
void traceCallLibrary(benchmark::State &state) {
  zbench::traceOn();
  auto begin = bound().beginOperation;
  int opaque = 0;
  db2ACS_ReturnCode rc{0};
  for (auto _ : state) benchmark::DoNotOptimize(begin(1, &opaque, &rc));
  perLine(state);
  zbench::traceOff();
}

// The same call's floor: each line's system calls (access, open, write of
// a line as long as the library's, close) on a regular file in the same
// file system, plus the debug-hold test and the back end, as above. With
// Checked, also the fstat of each opened file that the library's owner
// and file-type test needs, a system call the plain floor leaves out.
template <bool Checked>
void traceCallFloor(benchmark::State &state) {
  // Beside the trace file, at the same depth and with a name as long.
  const char *path = "/tmp/db2acsfloor.log";
  int created = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (created < 0) {
    state.SkipWithError("cannot create the floor's file");
    return;
  }
  close(created);
  std::vector<std::string> lines;
  for (size_t length : bound().lineLengths) lines.push_back(std::string(length - 1, 'x') + "\n");
  auto backend = bound().backendBegin;
  int opaque = 0;
  db2ACS_ReturnCode rc{0};
  for (auto _ : state) {
    for (const std::string &line : lines) {
      benchmark::DoNotOptimize(access(path, W_OK));
      int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
      if (Checked) {
        struct stat st;
        benchmark::DoNotOptimize(fstat(fd, &st));
      }
      benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
      close(fd);
    }
    benchmark::DoNotOptimize(access(zbench::kBeginOperationMarker, F_OK));
    benchmark::DoNotOptimize(backend(1, &opaque, &rc));
  }
  perLine(state);
  unlink(path);
}

}  // namespace

BENCHMARK(forwardOffFloor)->Name("forward_off/floor")->Unit(benchmark::kNanosecond);
BENCHMARK(forwardOffLibrary)->Name("forward_off/library")->Unit(benchmark::kNanosecond);
BENCHMARK(traceCallFloor<false>)->Name("trace_call/floor")->Unit(benchmark::kNanosecond);
BENCHMARK(traceCallFloor<true>)
    ->Name("trace_call/floor_with_fstat")
    ->Unit(benchmark::kNanosecond);
BENCHMARK(traceCallLibrary)->Name("trace_call/library")->Unit(benchmark::kNanosecond);
