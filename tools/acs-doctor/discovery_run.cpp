#include "discovery_run.h"

#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "interpret.h"
#include "wire.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_sink.h"

namespace doctor {

namespace {

void discard(const char *, void *) {}

void collect(const char *message, void *context) {
  static_cast<std::vector<std::string> *>(context)->emplace_back(message);
}

// Collects the messages of one call; back to discarding afterwards.
class Capture {
 public:
  explicit Capture(std::vector<std::string> &lines) { zorvanSetTraceSink(collect, &lines); }
  ~Capture() { zorvanSetTraceSink(discard, nullptr); }
  Capture(const Capture &) = delete;
  Capture &operator=(const Capture &) = delete;
};

std::string userName(uid_t uid) {
  const struct passwd *pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : "uid " + std::to_string(uid);
}

}  // namespace

void silenceLibraryTrace() { zorvanSetTraceSink(discard, nullptr); }

DiscoveryRun runDiscovery(const db2ACS_CB *cb) {
  DiscoveryRun run;
  run.uid = getuid();
  run.user = userName(run.uid);

  fixRegistryDir();
  run.registry = qxReg;

  char name[ZORVAN_PATH_MAX] = {};
  {
    Capture capture(run.nameTrace);
    run.nameFound = GetZorvanInstanceName(name, sizeof name, cb);
  }
  run.name = name;
  if (run.nameFound == 0) {
    char scanned[ZORVAN_PATH_MAX] = {};
    Capture capture(run.scanTrace);
    run.scanCalled = true;
    run.scanResult = get_first_zorvan_instname(scanned, sizeof scanned);
    run.scanName = scanned;
  }
  // The verdict: the same call db2ACSInitialize makes. With the scan it
  // also exports ZORVAN_INST, to this process only.
  char base[ZORVAN_PATH_MAX] = {};
  {
    Capture capture(run.baseTrace);
    run.baseResult = GetZorvanBaseDir(base, sizeof base, cb);
  }
  if (run.baseResult == 0) run.baseDir = base;

  Facts facts = interpret(run);
  if (!facts.propertiesPath.empty()) {
    FILE *properties = fopen(facts.propertiesPath.c_str(), "re");
    run.propertiesErrno = properties == nullptr ? errno : 0;
    if (properties != nullptr) fclose(properties);
  }
  if (!facts.libraryPath.empty())
    run.libraryErrno = access(facts.libraryPath.c_str(), X_OK) != 0 ? errno : 0;
  run.traceWritable = access(ZORVAN_TRACE_PATH, W_OK) == 0;
  return run;
}

std::string encodeRun(const DiscoveryRun &run) {
  Wire out;
  out.put(run.user);
  out.put(static_cast<long>(run.uid));
  out.put(run.registry);
  out.put(run.nameFound);
  out.put(run.name);
  out.put(run.nameTrace);
  out.put(run.scanCalled ? 1L : 0L);
  out.put(run.scanResult);
  out.put(run.scanName);
  out.put(run.scanTrace);
  out.put(run.baseResult);
  out.put(run.baseDir);
  out.put(run.baseTrace);
  out.put(run.propertiesErrno);
  out.put(run.libraryErrno);
  out.put(run.traceWritable ? 1L : 0L);
  out.put(run.blockedDir);
  out.put(static_cast<long>(run.blockedOwner));
  out.put(static_cast<long>(run.blockedMode));
  return out.bytes();
}

bool decodeRun(const std::string &bytes, DiscoveryRun &run) {
  WireReader in(bytes);
  return in.get(run.user) && in.get(run.uid) && in.get(run.registry) && in.get(run.nameFound) &&
         in.get(run.name) && in.get(run.nameTrace) && in.get(run.scanCalled) &&
         in.get(run.scanResult) && in.get(run.scanName) && in.get(run.scanTrace) &&
         in.get(run.baseResult) && in.get(run.baseDir) && in.get(run.baseTrace) &&
         in.get(run.propertiesErrno) && in.get(run.libraryErrno) && in.get(run.traceWritable) &&
         in.get(run.blockedDir) && in.get(run.blockedOwner) && in.get(run.blockedMode) &&
         in.done();
}

}  // namespace doctor
