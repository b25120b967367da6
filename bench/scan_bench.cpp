// The first-instance scan over registries of growing size where only the
// last entry in directory order qualifies, tracing off, against one
// opendir/readdir pass with the two stat calls per entry the scan's
// answer depends on.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "bench_setup.h"

namespace {

void setPerEntry(benchmark::State &state) {
  state.counters["per_entry"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void scanLibrary(benchmark::State &state) {
  zbench::traceOff();
  zbench::ActiveScanRegistry active(static_cast<int>(state.range(0)));
  if (!active.ok()) {
    state.SkipWithError("cannot put the scan registry in place");
    return;
  }
  auto scan = zbench::bound().firstInstance;
  char name[1024];
  int result = 0;
  for (auto _ : state) {
    result = scan(name, sizeof name);
    benchmark::DoNotOptimize(name);
  }
  if (result != 0 || active.registry().qualifying != name) {
    state.SkipWithError("the scan did not find the qualifying instance");
    return;
  }
  setPerEntry(state);
}

void scanFloor(benchmark::State &state) {
  zbench::traceOff();
  zbench::ActiveScanRegistry active(static_cast<int>(state.range(0)));
  if (!active.ok()) {
    state.SkipWithError("cannot put the scan registry in place");
    return;
  }
  const std::string &dirPath = active.registry().instancesDir;
  char path[1024];
  memcpy(path, dirPath.data(), dirPath.size());
  path[dirPath.size()] = '/';
  char *name = path + dirPath.size() + 1;
  static const char kAgent[] = "/Db2Agent";
  std::string found;
  for (auto _ : state) {
    DIR *dir = opendir(dirPath.c_str());
    while (const dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      size_t length = strlen(entry->d_name);
      memcpy(name, entry->d_name, length + 1);
      struct stat st;
      if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      memcpy(name + length, kAgent, sizeof kAgent);
      if (stat(path, &st) == 0) {
        name[length] = '\0';
        break;
      }
    }
    closedir(dir);
  }
  if (active.registry().qualifying != name) {
    state.SkipWithError("the floor did not reach the qualifying instance");
    return;
  }
  setPerEntry(state);
}

}  // namespace

BENCHMARK(scanFloor)
    ->Name("scan/floor")
    ->Arg(100)->Arg(1000)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(scanLibrary)
    ->Name("scan/library")
    ->Arg(100)->Arg(1000)->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
