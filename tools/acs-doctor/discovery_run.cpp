#include "discovery_run.h"

#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "interpret.h"
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

// Length-prefixed fields: "<length>:<bytes>" each, in a fixed order.
namespace {

void put(std::string &out, const std::string &field) {
  out += std::to_string(field.size());
  out += ':';
  out += field;
}
void put(std::string &out, long value) { put(out, std::to_string(value)); }
void put(std::string &out, const std::vector<std::string> &lines) {
  put(out, static_cast<long>(lines.size()));
  for (const std::string &line : lines) put(out, line);
}

class Reader {
 public:
  explicit Reader(const std::string &bytes) : bytes_(bytes) {}
  bool get(std::string &field) {
    std::size_t colon = bytes_.find(':', at_);
    if (colon == std::string::npos || colon == at_) return false;
    char *end = nullptr;
    unsigned long length = std::strtoul(bytes_.c_str() + at_, &end, 10);
    if (end != bytes_.c_str() + colon || length > bytes_.size() - colon - 1) return false;
    field = bytes_.substr(colon + 1, length);
    at_ = colon + 1 + length;
    return true;
  }
  template <typename Int>
  bool get(Int &value) {
    std::string field;
    if (!get(field) || field.empty()) return false;
    char *end = nullptr;
    long parsed = std::strtol(field.c_str(), &end, 10);
    if (*end != '\0') return false;
    value = static_cast<Int>(parsed);
    return true;
  }
  bool get(std::vector<std::string> &lines) {
    long count = 0;
    if (!get(count) || count < 0) return false;
    lines.resize(static_cast<std::size_t>(count));
    for (std::string &line : lines)
      if (!get(line)) return false;
    return true;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  const std::string &bytes_;
  std::size_t at_ = 0;
};

}  // namespace

std::string encodeRun(const DiscoveryRun &run) {
  std::string out;
  put(out, run.user);
  put(out, static_cast<long>(run.uid));
  put(out, run.registry);
  put(out, run.nameFound);
  put(out, run.name);
  put(out, run.nameTrace);
  put(out, run.scanCalled ? 1L : 0L);
  put(out, run.scanResult);
  put(out, run.scanName);
  put(out, run.scanTrace);
  put(out, run.baseResult);
  put(out, run.baseDir);
  put(out, run.baseTrace);
  put(out, run.propertiesErrno);
  put(out, run.libraryErrno);
  put(out, run.traceWritable ? 1L : 0L);
  return out;
}

bool decodeRun(const std::string &bytes, DiscoveryRun &run) {
  Reader in(bytes);
  int scanCalled = 0, traceWritable = 0;
  bool ok = in.get(run.user) && in.get(run.uid) && in.get(run.registry) &&
            in.get(run.nameFound) && in.get(run.name) && in.get(run.nameTrace) &&
            in.get(scanCalled) && in.get(run.scanResult) && in.get(run.scanName) &&
            in.get(run.scanTrace) && in.get(run.baseResult) && in.get(run.baseDir) &&
            in.get(run.baseTrace) && in.get(run.propertiesErrno) && in.get(run.libraryErrno) &&
            in.get(traceWritable) && in.done();
  run.scanCalled = scanCalled != 0;
  run.traceWritable = traceWritable != 0;
  return ok;
}

}  // namespace doctor
