// db2ACSInitialize binding the reference back end the first time, from
// process start to bound: per sample a fork, in the child dlopen of the
// library and db2ACSInitialize, then exit; timed from fork to the reaped
// exit. The floor is the same child that only dlopens the back end.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_setup.h"
#include "paired.h"

namespace {

alignas(16) unsigned char gControlBlock[ACS_CB_MIN_SIZE];  // command-line case: ZORVAN_INST

int initializeInChild() {
  void *library = dlopen(zbench::childPaths().library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 10;
  void *symbol = dlsym(library, "db2ACSInitialize");
  void *handle = dlsym(library, "db2ACS_handle");
  if (symbol == nullptr || handle == nullptr) return 11;
  db2ACSInitialize_fn initialize;
  memcpy(&initialize, &symbol, sizeof initialize);
  // DB2's whole record (1,036 bytes): the reference back end fills all of it.
  alignas(8) unsigned char rc[1036] = {};
  db2ACS_RC result = initialize(reinterpret_cast<db2ACS_CB *>(gControlBlock),
                                reinterpret_cast<db2ACS_ReturnCode *>(rc));
  return result == 0 && *static_cast<void **>(handle) != nullptr ? 0 : 12;
}

int openBackendInChild() {
  return dlopen(zbench::childPaths().referenceBackend.c_str(), RTLD_LAZY) != nullptr ? 0 : 13;
}

template <int (*Child)()>
bool forkedSample() {
  pid_t pid = fork();
  if (pid == 0) _exit(Child());
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

void initialize(benchmark::State &state) {
  zbench::traceOff();
  zbench::runPaired(state, zbench::Clock::Wall, 1, 1, forkedSample<openBackendInChild>,
                    forkedSample<initializeInChild>);
}

}  // namespace

BENCHMARK(initialize)->Name("initialize")->Unit(benchmark::kMicrosecond);
