// A forwarded call, db2ACSBeginOperation through the dlopen'ed library
// bound to the null back end, against the system calls it cannot avoid.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_setup.h"
#include "paired.h"

namespace {

using zbench::bound;

// The floor's own trace file: beside the real one, at the same depth and
// with a name as long.
const char kFloorTrace[] = "/tmp/db2acsfloor.log";

struct Call {
  db2ACSBeginOperation_fn fn;
  int opaque = 0;
  db2ACS_ReturnCode rc{0};
  bool operator()() {
    benchmark::DoNotOptimize(fn(1, &opaque, &rc));
    return true;
  }
};

// Tracing off, the library: five trace calls, each one access(W_OK) on
// the missing trace file, the debug-hold test of the missing marker, the
// back end. The floor: those six access calls and the back end, direct.
void forwardOff(benchmark::State &state) {
  zbench::traceOff();
  Call library{bound().beginOperation};
  Call backend{bound().backendBegin};
  auto floor = [&] {
    for (int i = 0; i < zbench::kLinesPerForwardedCall; ++i)
      benchmark::DoNotOptimize(access(zbench::kTracePath, W_OK));
    benchmark::DoNotOptimize(access(zbench::kBeginOperationMarker, F_OK));
    return backend();
  };
  zbench::runPaired(state, zbench::Clock::Cpu, 100, 1, floor, library);
}

// Tracing on, the same call writes five lines; figures are per line. The
// floor: each line's system calls (access, open, write of a line as long
// as the library's, close) on a regular file in the same file system, and
// the debug-hold test and the back end as above. WithFstat adds the fstat
// of each opened file that the library's owner and file-type test needs,
// a system call the plain floor leaves out.
template <bool WithFstat>
void traceOn(benchmark::State &state) {
  int created = open(kFloorTrace, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (created < 0) {
    state.SkipWithError("cannot create the floor's file");
    return;
  }
  close(created);
  zbench::traceOn();
  std::vector<std::string> lines;
  for (size_t length : bound().lineLengths) lines.push_back(std::string(length - 1, 'x') + "\n");
  Call library{bound().beginOperation};
  Call backend{bound().backendBegin};
  auto floor = [&] {
    for (const std::string &line : lines) {
      benchmark::DoNotOptimize(access(kFloorTrace, W_OK));
      int fd = open(kFloorTrace, O_WRONLY | O_APPEND | O_CLOEXEC);
      if (WithFstat) {
        struct stat st;
        benchmark::DoNotOptimize(fstat(fd, &st));
      }
      benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
      close(fd);
    }
    benchmark::DoNotOptimize(access(zbench::kBeginOperationMarker, F_OK));
    return backend();
  };
  zbench::runPaired(state, zbench::Clock::Cpu, 20, zbench::kLinesPerForwardedCall, floor,
                    library);
  zbench::traceOff();
  unlink(kFloorTrace);
}

}  // namespace

BENCHMARK(forwardOff)->Name("forward_off");
BENCHMARK(traceOn<false>)->Name("trace_line");
BENCHMARK(traceOn<true>)->Name("trace_line_vs_fstat_floor");
