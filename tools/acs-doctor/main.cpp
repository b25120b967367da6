// acs-doctor: tells whether DB2 would find, accept and load the ACS back
// end on this host, and why not. Discovery is the library's own code,
// linked in statically; its trace goes to an in-process sink, so the
// trace file, the markers and the caller's environment are left alone.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "as_user.h"
#include "backend_load.h"
#include "discovery_run.h"
#include "explain.h"
#include "interpret.h"
#include "options.h"
#include "render.h"
#include "tmp_state.h"
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

bool sameFailure(const Facts &a, const Facts &b) {
  return a.stage == b.stage && a.libraryPath == b.libraryPath &&
         a.propertiesPath == b.propertiesPath && a.instance == b.instance;
}

void checkAsUser(Report &r, const Options &o, const Account &account, const db2ACS_CB *cb,
                 const SavedInstanceVariable &saved) {
  r.asUserRequested = true;
  r.asUserName = account.name;
  if (account.uid == getuid()) {
    r.asUserChecked = true;
    r.asUser = r.self;
    return;
  }
  if (geteuid() != 0) {
    r.problems.push_back({Severity::Warning,
                          "Not checked as " + account.name + ": switching users needs root; the "
                          "results are for " + r.self.run.user + " only.",
                          "sudo -E acs-doctor --as-user " + o.asUser});
    return;
  }
  std::string error;
  if (!runDiscoveryAs(account, cb, saved, r.asUser.run, error)) {
    r.problems.push_back({Severity::Warning, "Not checked as " + account.name + ": " + error + ".",
                          "Check that " + account.name + " is a valid login account."});
    return;
  }
  r.asUserChecked = true;
  r.asUser.facts = interpret(r.asUser.run);
  if (r.self.facts.stage != Stage::Bound && sameFailure(r.self.facts, r.asUser.facts)) return;
  for (Problem p : explainDiscovery(r.asUser, r.registryOrigin)) {
    p.cause = "As " + account.name + ": " + p.cause;
    r.problems.push_back(p);
  }
}

int run(int argc, char **argv) {
  silenceLibraryTrace();
  Options o;
  if (int status = parseOptions(argc, argv, o)) return status;
  if (o.help) {
    printUsage(argc > 0 ? argv[0] : "acs-doctor");
    return kExitBinds;
  }
  Account account;
  if (!o.asUser.empty() && !lookupAccount(o.asUser, account)) {
    std::fprintf(stderr, "acs-doctor: --as-user: no such user: %s\n", o.asUser.c_str());
    return kExitUsage;
  }

  // Before discovery, which may export ZORVAN_INST to this process.
  SavedInstanceVariable saved;
  if (const char *value = std::getenv("ZORVAN_INST")) saved = {true, value};
  const char *qxreg = std::getenv("QXREG");

  Report r;
  r.registryOrigin = qxreg != nullptr && *qxreg != '\0' ? "QXREG" : "default";
  r.vmName = o.vmName;
  ControlBlock cb(o);
  r.self.run = runDiscovery(cb.get());
  r.self.facts = interpret(r.self.run);
  r.problems = explainDiscovery(r.self, r.registryOrigin);
  if (!o.asUser.empty()) checkAsUser(r, o, account, cb.get(), saved);

  const UserCheck &db2 = r.asUserChecked ? r.asUser : r.self;
  r.dbUser = db2.run.user;
  if (o.load) {
    std::string path = db2.facts.libraryPath.empty() ? r.self.facts.libraryPath
                                                     : db2.facts.libraryPath;
    if (path.empty()) {
      r.problems.push_back({Severity::Note, "--load: discovery named no back end to load.",
                            "Fix the discovery problem above first."});
    } else {
      r.load = loadBackend(path);
      std::vector<std::string> missing;
      for (const EntryPoint &e : r.load.entryPoints)
        if (!e.resolved) missing.push_back(e.symbol);
      if (!r.load.found) {
        r.problems.push_back({Severity::Error, "--load: the back end " + path + " was not found.",
                              "Install the back end as " + path + "."});
      } else if (!r.load.loaded) {
        r.problems.push_back({Severity::Error,
                              "The back end " + path + " was found but failed to load: " +
                                  r.load.error,
                              "Install the back end's missing libraries, or a back end built for "
                              "this platform (check: ldd " + path + ")."});
      } else if (!missing.empty()) {
        std::string names;
        for (const std::string &m : missing) names += (names.empty() ? "" : ", ") + m;
        r.problems.push_back({Severity::Error,
                              "The back end " + path + " lacks " + names +
                                  ": db2ACSInitialize would return 11.",
                              "Install a back end that exports all fourteen db2ACS*pp entry "
                              "points (check: nm -D " + path + ")."});
      }
    }
  }

  r.markers = findMarkers(db2.run.uid);
  r.traceFile = inspectTraceFile(db2.run.uid, r.dbUser, db2.run.traceWritable);
  explainTmp(r.markers, r.traceFile, r.dbUser, r.problems);
  if (getuid() == 0 && o.asUser.empty())
    r.problems.push_back({Severity::Note,
                          "Checked as root, which passes permission tests the DB2 instance "
                          "owner may fail.",
                          "Add --as-user <instance owner> to check as DB2 runs."});

  bool heldMarker = false;
  for (const Marker &m : r.markers) heldMarker = heldMarker || m.holds;
  r.binds = r.self.facts.stage == Stage::Bound &&
            (!r.asUserChecked || r.asUser.facts.stage == Stage::Bound) &&
            (!r.load.attempted || r.load.complete()) && !heldMarker;

  if (o.json)
    renderJson(r, stdout);
  else
    renderText(r, o.verbose, stdout);
  return r.binds ? kExitBinds : kExitDoesNotBind;
}

}  // namespace
}  // namespace doctor

int main(int argc, char **argv) { return doctor::run(argc, argv); }
