// The benchmarks' world: a private /tmp, the installation layouts they
// bind through, the shared object loaded and bound in this process, and
// the trace switch.
#ifndef ZORVAN_BENCH_SETUP_H
#define ZORVAN_BENCH_SETUP_H

#include <stddef.h>

#include <string>
#include <vector>

#include "zorvan/db2acs.h"

namespace zbench {

using ScanFn = int (*)(char *, size_t);

constexpr const char *kTracePath = "/tmp/db2acstrace.log";
constexpr const char *kBeginOperationMarker = "/tmp/db2ACSBeginOperationDebug";
// Trace lines one bound db2ACSBeginOperation writes: entered, hold,
// pointers, calling, leaving.
constexpr int kLinesPerForwardedCall = 5;
// Registry sizes of the first-instance scan.
constexpr int kScanSizes[] = {100, 1000, 10000};

// The shared object as this process uses it, bound to the null back end.
struct Bound {
  db2ACSBeginOperation_fn beginOperation;  // the library's forwarder
  db2ACSBeginOperation_fn backendBegin;    // the back end's own function
  ScanFn firstInstance;                    // get_first_zorvan_instname
  std::vector<size_t> lineLengths;         // bytes of each line of a traced call
};

// Paths the forking benchmarks use: a copy of the library that only the
// children open, and the reference back end as installed for them.
struct ChildPaths {
  std::string library;
  std::string referenceBackend;
};

// Enters a private mount namespace with a fresh tmpfs on /tmp, so that the
// trace file and debug markers touched here are never the host's.

// Lays out everything under /tmp and binds this process's copy of the
// library to the null back end. Exits the process on failure.
void prepare();

const Bound &bound();
const ChildPaths &childPaths();

// The registry of a scan size: its instances directory and the one
// instance that qualifies (the last entry in directory order).
struct ScanRegistry {
  std::string instancesDir;  // "<qxReg>/Zorvan" while active
  std::string qualifying;
};
// Moves the registry of that size into place as "<qxReg>/Zorvan" (and
// the binding registry aside); the destructor moves both back.
class ActiveScanRegistry {
 public:
  explicit ActiveScanRegistry(int size);
  ~ActiveScanRegistry();
  ActiveScanRegistry(const ActiveScanRegistry &) = delete;
  ActiveScanRegistry &operator=(const ActiveScanRegistry &) = delete;
  const ScanRegistry &registry() const { return registry_; }
  bool ok() const { return ok_; }

 private:
  int size_;
  ScanRegistry registry_;
  bool ok_;
};

// Tracing off: no trace file. Tracing on: an empty trace file that the
// library may write.
void traceOff();
void traceOn();

}  // namespace zbench

#endif
