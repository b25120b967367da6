// The first-instance scan over registries of growing size where only the
// last entry in directory order qualifies, tracing off, against one
// opendir/readdir pass with the two stat calls per entry (on the full
// paths) that the scan's answer depends on.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "bench_setup.h"
#include "paired.h"

namespace {

void scan(benchmark::State &state) {
  zbench::traceOff();
  zbench::ActiveScanRegistry active(static_cast<int>(state.range(0)));
  if (!active.ok()) {
    state.SkipWithError("cannot put the scan registry in place");
    return;
  }
  const std::string &dirPath = active.registry().instancesDir;
  const std::string &qualifying = active.registry().qualifying;

  auto library = [&] {
    char name[1024];
    return zbench::bound().firstInstance(name, sizeof name) == 0 && qualifying == name;
  };

  char path[1024];
  memcpy(path, dirPath.data(), dirPath.size());
  path[dirPath.size()] = '/';
  char *name = path + dirPath.size() + 1;
  auto floor = [&] {
    static const char kAgent[] = "/Db2Agent";
    bool found = false;
    DIR *dir = opendir(dirPath.c_str());
    if (dir == nullptr) return false;
    while (const dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      size_t length = strlen(entry->d_name);
      memcpy(name, entry->d_name, length + 1);
      struct stat st;
      if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      memcpy(name + length, kAgent, sizeof kAgent);
      if (stat(path, &st) == 0) {
        name[length] = '\0';
        found = qualifying == name;
        break;
      }
    }
    closedir(dir);
    return found;
  };
  zbench::runPaired(state, zbench::Clock::Cpu, 1, 1, floor, library);
}

}  // namespace

BENCHMARK(scan)->Name("scan")->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
