#include "render.h"

#include <cctype>
#include <cstring>
#include <string>

#include "explain.h"
#include "subject.h"

namespace doctor {

namespace {

void row(std::FILE *out, const char *label, const std::string &value,
         const std::string &remark = "") {
  std::fprintf(out, "  %-19s %s%s\n", label, visible(value).c_str(),
               remark.empty() ? "" : ("  (" + remark + ")").c_str());
}

void scanDetails(std::FILE *out, const Facts &f) {
  if (!f.scanRan) return;
  std::fprintf(out, "  first-instance scan of %s:\n", f.instancesDir.c_str());
  if (!f.scanOpened) {
    std::fprintf(out, "    cannot open it: %s\n", std::strerror(f.scanOpenErrno));
    return;
  }
  if (f.defaultProbeHit) {
    std::fprintf(out, "    Instance001 has Db2Agent: taken without scanning\n");
    return;
  }
  std::fprintf(out, "    Instance001: no Instance001/Db2Agent, scanning in directory order\n");
  for (const ScanEntry &e : f.scan)
    std::fprintf(out, "    %-20s %s\n", visible(e.name).c_str(),
                 e.chosen ? "chosen: a directory holding Db2Agent"
                          : ("passed over: " + e.reason).c_str());
  if (f.scan.empty()) std::fprintf(out, "    (no other entries)\n");
}

void discoveryDetails(std::FILE *out, const UserCheck &c, const std::string &registryOrigin,
                      const std::string &vmName) {
  const Facts &f = c.facts;
  std::fprintf(out, "\nDiscovery as %s (uid %u):\n", c.run.user.c_str(),
               static_cast<unsigned>(c.run.uid));
  row(out, "registry directory", f.registry,
      registryOrigin == "QXREG" ? "from QXREG" : "default, QXREG unset or empty");
  if (!f.instanceOrigin.empty()) {
    std::string remark = "from " + f.instanceOrigin;
    if (f.instanceOrigin == "vendor options") remark += ", simulated vmName '" + vmName + "'";
    row(out, "instance", f.instance, remark);
  } else {
    row(out, "instance", "(none)", "ZORVAN_INST unset and the scan found none");
  }
  scanDetails(out, c.facts);
  if (!f.propertiesPath.empty()) row(out, "properties file", f.propertiesPath);
  if (!f.home.empty()) row(out, "home directory", f.home, "dZORVANHOME");
  if (!f.baseDir.empty()) row(out, "base directory", f.baseDir);
  if (!f.libraryPath.empty())
    row(out, "back end", f.libraryPath,
        f.libraryAccessible ? "passes the execute test for " + c.run.user
                            : "fails the execute test for " + c.run.user);
  if (f.stage == Stage::Bound)
    std::fprintf(out, "  result: found; DB2 would chdir to %s and dlopen the back end\n",
                 visible(f.baseDir).c_str());
  else
    std::fprintf(out, "  result: discovery fails; db2ACSInitialize would return 11\n");
}

void loadDetails(std::FILE *out, const BackendLoad &load) {
  if (!load.attempted) return;
  std::fprintf(out, "\nBack end load (--load): %s\n", visible(load.path).c_str());
  if (!load.found) {
    std::fprintf(out, "  not found\n");
    return;
  }
  if (!load.loaded) {
    std::fprintf(out, "  found but failed to load: %s\n", load.error.c_str());
    return;
  }
  std::size_t resolved = 0;
  for (const EntryPoint &e : load.entryPoints) resolved += e.resolved ? 1 : 0;
  std::fprintf(out, "  loaded; %zu of %zu entry points resolve\n", resolved,
               load.entryPoints.size());
  for (const EntryPoint &e : load.entryPoints)
    if (!e.resolved) std::fprintf(out, "  missing: %s\n", e.symbol.c_str());
}

void tmpDetails(std::FILE *out, const Report &r) {
  std::fprintf(out, "\n/tmp, judged for %s:\n", r.dbUser.c_str());
  std::fprintf(out, "  trace file          %s: %s\n", r.traceFile.state.c_str(),
               r.traceFile.detail.c_str());
  if (r.markers.empty()) std::fprintf(out, "  debug markers       none\n");
  for (const Marker &m : r.markers)
    std::fprintf(out, "  debug marker        %s (owner %s): %s\n", m.path.c_str(),
                 m.ownerName.c_str(), m.holds ? "holds" : "does not hold");
}

void traceLines(std::FILE *out, const UserCheck &c) {
  std::fprintf(out, "\nLibrary trace of the discovery as %s:\n", c.run.user.c_str());
  for (const auto *lines : {&c.run.nameTrace, &c.run.scanTrace, &c.run.baseTrace})
    for (const std::string &line : *lines) {
      std::string shown = line;
      while (!shown.empty() && shown.back() == '\n') shown.pop_back();
      std::fprintf(out, "  %s\n", visible(shown).c_str());
    }
}

}  // namespace

const char *severityName(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Note: return "note";
  }
  return "?";
}

void printProblem(std::FILE *out, const Problem &p) {
  std::string tag = severityName(p.severity);
  for (char &ch : tag) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  std::fprintf(out, "%-8s %s\n         fix: %s\n", tag.c_str(), p.cause.c_str(), p.fix.c_str());
}

std::string headline(const Report &r) {
  std::string who = r.subject.user;
  if (r.binds) return "DB2 would bind the back end (checked as " + who + ").";
  if (r.bindsIgnoringMarkers) {
    std::string waits;
    for (const Marker &m : r.markers)
      if (m.holds)
        waits += (waits.empty() ? "" : ", and ") + m.entryPoint + " would wait while " + m.path +
                 " exists";
    return "DB2 would bind, but " + waits + " (checked as " + who + ").";
  }
  return "DB2 would NOT bind the back end (checked as " + who + ").";
}

void subjectLines(std::FILE *out, const Subject &s) {
  std::string how = s.source == "pid"     ? "as process " + std::to_string(s.pid) + " runs"
                    : s.source == "login" ? "with " + s.user + "'s login environment (su - " + s.user + ")"
                                          : "with this process's own identity and environment";
  std::fprintf(out, "Checked as %s, %s\n", identityText(s).c_str(), how.c_str());
  for (const SteeringVariable &v : s.variables) {
    if (v.set)
      std::fprintf(out, "  %s=%s, %s\n", v.name.c_str(), visible(v.value).c_str(), v.origin.c_str());
    else
      std::fprintf(out, "  %s %s\n", v.name.c_str(), v.origin.c_str());
  }
  // It decides where the back end's own dependencies are found (--load).
  for (const std::string &entry : s.environment)
    if (entry.compare(0, 16, "LD_LIBRARY_PATH=") == 0)
      std::fprintf(out, "  %s, with the rest of that environment\n", visible(entry).c_str());
  if (!s.cwd.empty()) std::fprintf(out, "  working directory %s\n", visible(s.cwd).c_str());
}

void renderText(const Report &r, bool verbose, std::FILE *out) {
  std::fprintf(out, "acs-doctor: %s\n", headline(r).c_str());
  subjectLines(out, r.subject);

  bool any = false;
  for (Severity level : {Severity::Error, Severity::Warning, Severity::Note})
    for (const Problem &p : r.problems) {
      if (p.severity != level) continue;
      if (!any) std::fprintf(out, "\n");
      any = true;
      printProblem(out, p);
    }
  if (!any) std::fprintf(out, "\nNo problems found.\n");

  discoveryDetails(out, r.check, r.registryOrigin, r.vmName);
  loadDetails(out, r.load);
  if (!r.load.attempted && r.check.facts.stage == Stage::Bound)
    std::fprintf(out, "\nEntry points not checked: add --load to load the back end.\n");
  tmpDetails(out, r);
  if (verbose) traceLines(out, r.check);
}

}  // namespace doctor
