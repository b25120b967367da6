// acs-doctor: tells whether DB2 would find, accept and load the ACS back
// end on this host, and why not; or, with --trace, reads what a DB2
// process wrote. Discovery is the library's own code, linked in
// statically; it runs in a child that has become the checked user, and
// its trace goes to an in-process sink, so the trace file, the markers and
// the caller's environment are left alone.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "causes.h"
#include "checked_run.h"
#include "discovery_run.h"
#include "explain.h"
#include "interpret.h"
#include "options.h"
#include "render.h"
#include "subject.h"
#include "tmp_state.h"
#include "trace_explain.h"
#include "zorvan/acs_types.h"

namespace doctor {
namespace {

// DB2's control block, zero-filled; with a vmName it carries a
// vendor-options record, as when DB2 is driven with vendor options.
class ControlBlock {
 public:
  explicit ControlBlock(const Options &o) : block_(ACS_CB_MIN_SIZE, 0) {
    if (!o.haveVmName) return;
    std::memcpy(record_ + ACS_VO_VM_NAME, o.vmName.data(), o.vmName.size());
    uint32_t size = ACS_VENDOR_OPTIONS_SIZE;
    const unsigned char *data = record_;
    std::memcpy(block_.data() + ACS_CB_OPTIONS_SIZE_OFFSET, &size, sizeof size);
    std::memcpy(block_.data() + ACS_CB_OPTIONS_DATA_OFFSET, &data, sizeof data);
  }
  const db2ACS_CB *get() const { return reinterpret_cast<const db2ACS_CB *>(block_.data()); }

 private:
  std::vector<unsigned char> block_;
  unsigned char record_[ACS_VENDOR_OPTIONS_SIZE] = {};
};

// Whom to check as; false (after a one-line message) when that cannot be had.
bool chooseSubject(const Options &o, Report &r) {
  std::string error;
  if (!o.pid.empty()) {
    if (!subjectFromPid(o.pid, r.subject, error)) {
      std::fprintf(stderr, "acs-doctor: --pid %s: %s\n", o.pid.c_str(), error.c_str());
      return false;
    }
    // Only root may become another user; a process of our own needs no switch.
    if (r.subject.uid == getuid() && geteuid() != 0) r.subject.switchUser = false;
    return true;
  }
  if (!o.asUser.empty()) {
    // A user that does not exist is a mistake in the command, whoever runs it.
    if (getpwnam(o.asUser.c_str()) == nullptr) {
      std::fprintf(stderr, "acs-doctor: --as-user %s: no such user\n", o.asUser.c_str());
      return false;
    }
    Subject self = subjectFromSelf();
    if (geteuid() != 0) {
      r.subject = self;
      if (o.asUser != self.user && o.asUser != std::to_string(self.uid))
        r.problems.push_back({Severity::Warning,
                              "Not checked as " + o.asUser + ": switching users needs root; the "
                              "results are for " + self.user + " only.",
                              "As root: acs-doctor --as-user " + o.asUser});
      return true;
    }
    if (!subjectFromLogin(o.asUser, r.subject, error)) {
      std::fprintf(stderr, "acs-doctor: --as-user %s: %s\n", o.asUser.c_str(), error.c_str());
      return false;
    }
    if (!r.subject.loginError.empty())
      r.problems.push_back({Severity::Warning,
                            "Could not read " + r.subject.user + "'s login environment (" +
                                r.subject.loginError + "); checked with QXREG and ZORVAN_INST "
                                "unset, which DB2's environment may not be.",
                            "Check a running DB2 agent instead: acs-doctor --pid <pid>"});
    return true;
  }
  r.subject = subjectFromSelf();
  if (r.subject.uid == 0)
    r.problems.push_back({Severity::Note,
                          "Checked as root with root's own environment, which passes permission "
                          "tests the DB2 instance owner may fail and may lack its QXREG.",
                          "Check as DB2 runs: acs-doctor --pid <DB2 agent pid> or "
                          "acs-doctor --as-user <instance owner>"});
  return true;
}

void explainLoad(Report &r) {
  const BackendLoad &load = r.load;
  CauseValues v = {{"lib", load.path}, {"error", load.error}};
  std::string missing;
  for (const EntryPoint &e : load.entryPoints)
    if (!e.resolved) missing += (missing.empty() ? "" : ", ") + e.symbol;
  v["missing"] = missing;
  if (!load.found)
    r.problems.push_back(describe(Cause::BackendMissing, v));
  else if (!load.loaded)
    r.problems.push_back(describe(Cause::BackendLoadFailed, v));
  else if (!missing.empty())
    r.problems.push_back(describe(Cause::BackendLacksEntryPoints, v));
}

int checkInstallation(const Options &o) {
  Report r;
  if (!chooseSubject(o, r)) return kExitUsage;
  const SteeringVariable *qxreg = r.subject.variable("QXREG");
  r.registryOrigin = qxreg != nullptr && qxreg->set && !qxreg->value.empty() ? "QXREG" : "default";
  r.vmName = o.vmName;
  ControlBlock cb(o);

  CheckResult result;
  std::string error;
  if (!runCheckAs(r.subject, cb.get(), o.load, result, error)) {
    std::fprintf(stderr, "acs-doctor: %s\n", error.c_str());
    return kExitUsage;
  }
  r.check.run = result.run;
  r.check.facts = interpret(result.run);
  r.load = result.load;
  std::vector<Problem> found = explainDiscovery(r.check, r.subject);
  r.problems.insert(r.problems.begin(), found.begin(), found.end());
  if (!result.cwdError.empty())
    r.problems.push_back({Severity::Note,
                          "The working directory " + result.cwdError +
                              " could not be entered; relative paths were resolved elsewhere.",
                          "Check with --pid while DB2 runs."});
  if (o.load && r.check.facts.libraryPath.empty())
    r.problems.push_back({Severity::Note, "--load: discovery named no back end to load.",
                          "Fix the discovery problem above first."});
  if (r.load.attempted) explainLoad(r);

  r.dbUser = r.check.run.user;
  r.markers = findMarkers(r.check.run.uid);
  r.traceFile = inspectTraceFile(r.check.run.uid, r.dbUser, r.check.run.traceWritable);
  explainTmp(r.markers, r.traceFile, r.dbUser, r.problems);

  bool heldMarker = false;
  for (const Marker &m : r.markers) heldMarker = heldMarker || m.holds;
  r.bindsIgnoringMarkers =
      r.check.facts.stage == Stage::Bound && (!r.load.attempted || r.load.complete());
  r.binds = r.bindsIgnoringMarkers && !heldMarker;

  if (o.json)
    renderJson(r, stdout);
  else
    renderText(r, o.verbose, stdout);
  return r.binds ? kExitBinds : kExitDoesNotBind;
}

int run(int argc, char **argv) {
  silenceLibraryTrace();
  Options o;
  if (int status = parseOptions(argc, argv, o)) return status;
  if (o.help) {
    printUsage(argc > 0 ? argv[0] : "acs-doctor");
    return kExitBinds;
  }
  if (!o.traceFile.empty()) return explainTraceFile(o.traceFile, o.json, stdout, stderr);
  return checkInstallation(o);
}

}  // namespace
}  // namespace doctor

int main(int argc, char **argv) { return doctor::run(argc, argv); }
