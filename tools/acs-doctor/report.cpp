#include "report.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "fix.h"

namespace doctor {

namespace {

using nlohmann::json;

template <typename T>
json orNull(const std::optional<T> &value) {
  return value ? json(*value) : json();
}
json orNull(const std::string &text) { return text.empty() ? json() : json(text); }
std::string textOf(const json &value) { return value.is_string() ? value.get<std::string>() : ""; }

const char *const kSeverityNames[] = {"error", "warning", "note"};  // in the order of Severity

json discoveryJson(const Report &r) {
  const Facts &f = r.discovery;
  json scan;
  if (f.scanRan) {
    scan = {{"directory", f.instancesDir}, {"opened", f.scanOpened},
            {"instance001_has_agent", f.defaultProbeHit}, {"entries", json::array()}};
    if (!f.scanOpened) {
      scan["error"] = strerror(f.scanOpenErrno);
      scan["errno"] = f.scanOpenErrno;
    }
    for (const ScanEntry &e : f.scan)
      scan["entries"].push_back(e.chosen ? json{{"name", e.name}, {"chosen", true}}
                                         : json{{"name", e.name}, {"chosen", false}, {"reason", e.reason}});
  }
  bool found = f.stage == Stage::Bound;
  return {{"result", stageName(f.stage)},
          {"found", found},
          {"registry", {{"path", f.registry}, {"origin", r.registryFromVariable ? "QXREG" : "default"},
                        {"qxreg_ignored", orNull(f.qxregIgnored)}}},
          {"instance", {{"name", f.instanceOrigin.empty() ? json() : json(f.instance)},
                        {"origin", orNull(f.instanceOrigin)}}},
          {"scan", scan},
          {"properties", f.propertiesPath},
          {"home", f.home},
          {"base_dir", f.baseDir},
          {"backend", {{"path", f.libraryPath}, {"executable", found}}},
          {"trace", r.trace}};
}

void readDiscovery(const json &d, Report &r) {
  Facts &f = r.discovery;
  f.stage = stageNamed(d.at("result").get<std::string>());
  f.registry = d.at("registry").at("path").get<std::string>();
  r.registryFromVariable = d.at("registry").at("origin") == "QXREG";
  f.qxregIgnored = textOf(d.at("registry").at("qxreg_ignored"));
  f.instance = textOf(d.at("instance").at("name"));
  f.instanceOrigin = textOf(d.at("instance").at("origin"));
  const json &scan = d.at("scan");
  f.scanRan = !scan.is_null();
  if (f.scanRan) {
    f.instancesDir = scan.at("directory").get<std::string>();
    f.scanOpened = scan.at("opened").get<bool>();
    f.defaultProbeHit = scan.at("instance001_has_agent").get<bool>();
    f.scanOpenErrno = scan.value("errno", 0);
    for (const json &e : scan.at("entries"))
      f.scan.push_back({e.at("name").get<std::string>(), e.at("chosen").get<bool>(), textOf(e.value("reason", json()))});
  }
  f.propertiesPath = d.at("properties").get<std::string>();
  f.home = d.at("home").get<std::string>();
  f.baseDir = d.at("base_dir").get<std::string>();
  f.libraryPath = d.at("backend").at("path").get<std::string>();
  r.trace = d.at("trace").get<std::vector<std::string>>();
}

json loadJson(const Load &l) {
  json entries = json::array();
  for (const auto &e : l.entryPoints) entries.push_back({{"symbol", e.first}, {"resolved", e.second}});
  json load = {{"path", l.path}, {"found", l.found}, {"loaded", l.loaded}, {"complete", l.complete},
               {"entry_points", entries}, {"libraries", l.libraries}, {"run_path", l.runPath},
               {"signal", l.signal != 0 ? json(l.signal) : json()}, {"died", l.died}, {"hung", l.hung}};
  if (l.signal != 0) load["signal_name"] = l.signalName;
  if (!l.error.empty()) load["error"] = l.error;
  return load;
}

Load loadFrom(const json &j) {
  Load l;
  l.path = j.at("path").get<std::string>();
  l.found = j.at("found").get<bool>();
  l.loaded = j.at("loaded").get<bool>();
  l.complete = j.at("complete").get<bool>();
  l.died = j.at("died").get<bool>();
  l.hung = j.at("hung").get<bool>();
  for (const json &e : j.at("entry_points"))
    l.entryPoints.emplace_back(e.at("symbol").get<std::string>(), e.at("resolved").get<bool>());
  l.libraries = j.at("libraries").get<std::vector<std::string>>();
  l.runPath = j.at("run_path").get<std::vector<std::string>>();
  l.signal = j.at("signal").is_null() ? 0 : j.at("signal").get<int>();
  l.signalName = textOf(j.value("signal_name", json()));
  l.error = textOf(j.value("error", json()));
  return l;
}

// Which way the verdict went, for the headline and JSON's "verdict".
std::string waitsOf(const Report &r) {
  std::string waits;
  for (const Marker &m : r.markers)
    if (m.holds) waits += (waits.empty() ? "" : ", and ") + m.entryPoint + " would wait while " + m.path + " exists";
  return waits;
}

bool loadOk(const Report &r) { return !r.load || r.load->complete; }

void row(std::FILE *out, const char *label, const std::string &value, const std::string &remark = "") {
  std::fprintf(out, "  %-19s %s%s\n", label, value.c_str(), remark.empty() ? "" : ("  (" + remark + ")").c_str());
}

void subjectLines(std::FILE *out, const Report &r) {
  const CheckedAs &s = r.checkedAs;
  const Identity &id = r.identity;
  std::string how = s.source == "pid"     ? "as process " + std::to_string(s.pid) + " runs"
                    : s.source == "login" ? "with " + s.user + "'s login environment (su - " + s.user + ")"
                                          : "with this process's own identity and environment";
  std::string groups;
  for (gid_t g : id.groups) groups += (groups.empty() ? "" : ",") + std::to_string(g);
  std::fprintf(out, "Checked as %s (uid %lu, gid %lu%s), %s\n", s.user.c_str(), static_cast<unsigned long>(id.uid),
               static_cast<unsigned long>(id.gid), groups.empty() ? "" : (", groups " + groups).c_str(), how.c_str());
  if (id.raised)
    std::fprintf(out, "  with raised privileges, as that process has: effective uid %lu, gid %lu\n",
                 static_cast<unsigned long>(id.euid), static_cast<unsigned long>(id.egid));
  for (const Variable &v : s.environment)
    if (v.set)
      std::fprintf(out, "  %s=%s, %s\n", v.name.c_str(), v.value.c_str(), v.origin.c_str());
    else
      std::fprintf(out, "  %s %s\n", v.name.c_str(), v.origin.c_str());
  // The dynamic loader's search for the back end's own dependencies.
  if (id.ldLibraryPath)
    std::fprintf(out, "  LD_LIBRARY_PATH=%s, with the rest of that environment\n", id.ldLibraryPath->c_str());
  std::fprintf(out, "  working directory %s\n", id.cwd.c_str());
}

void discoveryDetails(std::FILE *out, const Report &r) {
  const Facts &f = r.discovery;
  const std::string &user = r.identity.user;
  bool found = f.stage == Stage::Bound;
  std::fprintf(out, "\nDiscovery as %s (uid %lu):\n", user.c_str(), static_cast<unsigned long>(r.identity.uid));
  row(out, "registry directory", f.registry,
      r.registryFromVariable     ? "from QXREG"
      : !f.qxregIgnored.empty() ? "default, QXREG ignored with raised privileges"
                                 : "default, QXREG unset or empty");
  if (!f.instanceOrigin.empty())
    row(out, "instance", f.instance,
        "from " + f.instanceOrigin +
            (f.instanceOrigin == "vendor options" ? ", simulated vmName '" + r.vmName.value_or("") + "'" : ""));
  else
    row(out, "instance", "(none)", "ZORVAN_INST unset and the scan found none");
  if (f.scanRan) {
    std::fprintf(out, "  first-instance scan of %s:\n", f.instancesDir.c_str());
    if (!f.scanOpened) {
      std::fprintf(out, "    cannot open it: %s\n", strerror(f.scanOpenErrno));
    } else if (f.defaultProbeHit) {
      std::fprintf(out, "    Instance001 has Db2Agent: taken without scanning\n");
    } else {
      std::fprintf(out, "    Instance001: no Instance001/Db2Agent, scanning in directory order\n");
      for (const ScanEntry &e : f.scan)
        std::fprintf(out, "    %-20s %s\n", e.name.c_str(),
                     e.chosen ? "chosen: a directory holding Db2Agent" : ("passed over: " + e.reason).c_str());
      if (f.scan.empty()) std::fprintf(out, "    (no other entries)\n");
    }
  }
  if (!f.propertiesPath.empty()) row(out, "properties file", f.propertiesPath);
  if (!f.home.empty()) row(out, "home directory", f.home, "dZORVANHOME");
  if (!f.baseDir.empty()) row(out, "base directory", f.baseDir);
  if (!f.libraryPath.empty())
    row(out, "back end", f.libraryPath, (found ? "passes the execute test for " : "fails the execute test for ") + user);
  if (found)
    std::fprintf(out, "  result: found; DB2 would chdir to %s and dlopen the back end\n", f.baseDir.c_str());
  else
    std::fprintf(out, "  result: discovery fails (%s); db2ACSInitialize would return 11\n", stageName(f.stage));
}

void loadDetails(std::FILE *out, const Report &r) {
  bool found = r.discovery.stage == Stage::Bound;
  if (!r.load) {
    if (found) std::fprintf(out, "\nEntry points not checked: add --load to load the back end.\n");
    return;
  }
  const Load &l = *r.load;
  std::fprintf(out, "\nBack end load (--load): %s\n", l.path.c_str());
  if (l.died || l.hung) {
    std::fprintf(out, "  %s: DB2's process would %s here\n", l.error.c_str(), l.hung ? "hang" : "die");
  } else if (!l.found) {
    std::fprintf(out, "  not found\n");
  } else if (!l.loaded) {
    std::fprintf(out, "  found but failed to load: %s\n", l.error.c_str());
  } else {
    std::size_t resolved = 0;
    for (const auto &e : l.entryPoints) resolved += e.second ? 1 : 0;
    std::fprintf(out, "  loaded; %zu of %zu entry points resolve\n", resolved, l.entryPoints.size());
    for (const auto &e : l.entryPoints)
      if (!e.second) std::fprintf(out, "  missing: %s\n", e.first.c_str());
    for (const std::string &library : l.libraries) std::fprintf(out, "  it loads %s\n", library.c_str());
  }
  if (l.loaded && !found)
    std::fprintf(out, "  but DB2 would never load it: discovery stops first (%s), and db2ACSInitialize returns 11 "
                      "before any dlopen\n",
                 stageName(r.discovery.stage));
}

void tmpDetails(std::FILE *out, const Report &r) {
  std::fprintf(out, "\n/tmp, judged for %s:\n", r.identity.user.c_str());
  std::fprintf(out, "  trace file          %s: %s\n", r.traceState.c_str(), r.traceDetail.c_str());
  if (r.markers.empty()) std::fprintf(out, "  debug markers       none\n");
  for (const Marker &m : r.markers)
    std::fprintf(out, "  debug marker        %s (owner %s): %s\n", m.path.c_str(), m.owner.c_str(),
                 m.holds ? "holds" : "does not hold");
}

}  // namespace

const char *severityName(Severity severity) { return kSeverityNames[static_cast<int>(severity)]; }

void decide(Report &r) {
  bool errors = false;
  for (const Problem &p : r.problems) errors = errors || p.severity == Severity::Error;
  r.binds = r.discovery.stage == Stage::Bound && loadOk(r) && !errors;
  r.exitCode = r.binds ? kExitBinds : kExitDoesNotBind;
}

std::string headline(const Report &r) {
  bool found = r.discovery.stage == Stage::Bound;
  std::string text = "DB2 would NOT bind the back end";
  if (r.load && r.load->hung)
    text = "DB2's process would hang loading the back end (" + r.load->error + ")";
  else if (r.load && r.load->died)
    text = "DB2's process would die loading the back end (" +
           (r.load->signal == 0 ? r.load->error
                                : "signal " + std::to_string(r.load->signal) + ", " + r.load->signalName) +
           ")";
  // Binding is dlopen and the fourteen entry points: without --load only
  // finding the back end was checked, and the headline claims no more.
  std::string good = r.load ? "DB2 would bind the back end" : "DB2 would find the back end";
  std::string waits = waitsOf(r);
  if (r.binds)
    text = good;
  else if (found && loadOk(r) && (!waits.empty() || !r.trustWho.empty()))
    text = good + ", but " + (waits.empty() ? r.trustWho + " can change what it runs" : waits);
  // Without its login environment the check stood for the user, not for
  // how DB2 runs as it: the one line a --brief reader sees says so.
  std::string as = r.checkedAs.user;
  if (!r.checkedAs.loginError.empty()) as += ", with an empty environment: " + as + "'s could not be read";
  std::string own = text + " (checked as " + as + ")";
  for (const Report &other : r.interactive)
    if (other.binds != r.binds)
      own += std::string("; started from an interactive login (ssh, then db2start), it would") +
             (other.binds ? "" : " NOT") + " bind it";
  return own + (found && !r.load ? "; add --load to check that it binds." : ".");
}

json problemsJson(const std::vector<Problem> &problems) {
  json list = json::array();
  for (const Problem &p : problems)
    list.push_back({{"severity", severityName(p.severity)}, {"id", p.id}, {"cause", p.cause},
                    {"fix", p.fixes.empty() ? "" : p.fixes[0]}, {"fixes", p.fixes}});
  return list;
}

std::vector<Problem> problemsFrom(const json &list) {
  std::vector<Problem> problems;
  for (const json &p : list) {
    std::string severity = p.at("severity").get<std::string>();
    Problem problem;
    problem.severity = severity == "error" ? Severity::Error : severity == "warning" ? Severity::Warning : Severity::Note;
    problem.id = p.at("id").get<std::string>();
    problem.cause = p.at("cause").get<std::string>();
    problem.fixes = p.at("fixes").get<std::vector<std::string>>();
    problems.push_back(problem);
  }
  return problems;
}

json toJson(const Report &r) {
  const CheckedAs &s = r.checkedAs;
  const Identity &id = r.identity;
  json variables = json::object();
  for (const Variable &v : s.environment)
    variables[v.name] = {{"value", v.set ? json(v.value) : json()}, {"origin", v.origin}};
  json paths = json::object(), chain = json::array(), markers = json::array();
  for (const auto &p : r.paths) paths[p.first] = p.second;
  for (const TrustRow &t : r.chain)
    chain.push_back({{"path", t.path}, {"role", t.role}, {"kind", t.kind}, {"owner", t.owner}, {"group", t.group},
                     {"mode", t.mode}, {"who", orNull(t.who)}, {"verdict", t.verdict}});
  for (const Marker &m : r.markers)
    markers.push_back({{"path", m.path}, {"entry_point", m.entryPoint}, {"owner", m.owner}, {"holds", m.holds}});
  // The trust findings are problems like any other; "findings" lists them
  // apart, as the interface always has.
  std::vector<Problem> findings;
  for (const Problem &p : r.problems)
    if (p.id == "changeable-by-others") findings.push_back(p);
  bool all = r.binds;
  for (const Report &other : r.interactive) all = all && other.binds;
  return {{"binds", all},
          {"verdict", !all ? "does not bind" : r.load ? "binds" : "found, not loaded"},
          {"headline", headline(r)},
          {"exit_code", all ? kExitBinds : kExitDoesNotBind},
          {"problems", problemsJson(r.problems)},
          {"findings", problemsJson(findings)},
          {"checked_as", {{"source", s.source}, {"user", s.user}, {"uid", s.uid}, {"gid", s.gid},
                          {"groups", s.groups}, {"cwd", s.cwd}, {"pid", s.pid == 0 ? json() : json(s.pid)},
                          {"environment", variables}, {"login_error", orNull(s.loginError)}}},
          {"identity", {{"user", id.user}, {"uid", id.uid}, {"euid", id.euid}, {"gid", id.gid}, {"egid", id.egid},
                        {"raised", id.raised}, {"groups", id.groups}, {"cwd", id.cwd},
                        {"ld_library_path", orNull(id.ldLibraryPath)}}},
          {"cwd_error", orNull(r.cwdError)},
          {"discovery", discoveryJson(r)},
          {"paths", paths},
          {"load", r.load ? loadJson(*r.load) : json()},
          {"trust", {{"who", r.trustWho}, {"chain", chain}, {"outside", r.outside}}},
          {"trace_file", {{"state", r.traceState}, {"detail", r.traceDetail}}},
          {"markers", markers},
          {"vm_name", orNull(r.vmName)},
          {"interactive", r.interactive.empty() ? json() : toJson(r.interactive[0])}};
}

Report reportFrom(const json &doc) {
  Report r;
  const json &as = doc.at("checked_as");
  r.checkedAs = {as.at("source").get<std::string>(), as.at("user").get<std::string>(), as.at("uid").get<uid_t>(),
                 as.at("gid").get<gid_t>(), as.at("groups").get<std::vector<gid_t>>(), as.at("cwd").get<std::string>(),
                 as.at("pid").is_null() ? 0 : as.at("pid").get<pid_t>(), {}, textOf(as.at("login_error"))};
  for (const auto &v : as.at("environment").items())
    r.checkedAs.environment.push_back({v.key(), v.value().at("value").is_string(), textOf(v.value().at("value")),
                                       v.value().at("origin").get<std::string>()});
  const json &id = doc.at("identity");
  r.identity.user = id.at("user").get<std::string>();
  r.identity.uid = id.at("uid").get<uid_t>();
  r.identity.euid = id.at("euid").get<uid_t>();
  r.identity.gid = id.at("gid").get<gid_t>();
  r.identity.egid = id.at("egid").get<gid_t>();
  r.identity.raised = id.at("raised").get<bool>();
  r.identity.groups = id.at("groups").get<std::vector<gid_t>>();
  r.identity.cwd = id.at("cwd").get<std::string>();
  if (id.at("ld_library_path").is_string()) r.identity.ldLibraryPath = id.at("ld_library_path").get<std::string>();
  r.cwdError = textOf(doc.at("cwd_error"));
  readDiscovery(doc.at("discovery"), r);
  for (const auto &p : doc.at("paths").items()) r.paths.emplace_back(p.key(), p.value().get<std::string>());
  if (!doc.at("load").is_null()) r.load = loadFrom(doc.at("load"));
  for (const json &t : doc.at("trust").at("chain"))
    r.chain.push_back({t.at("path").get<std::string>(), t.at("role").get<std::string>(), t.at("kind").get<std::string>(),
                       t.at("owner").get<std::string>(), t.at("group").get<std::string>(),
                       t.at("mode").get<std::string>(), textOf(t.at("who")), t.at("verdict").get<std::string>()});
  r.trustWho = doc.at("trust").at("who").get<std::string>();
  r.outside = doc.at("trust").at("outside").get<std::size_t>();
  r.traceState = doc.at("trace_file").at("state").get<std::string>();
  r.traceDetail = doc.at("trace_file").at("detail").get<std::string>();
  for (const json &m : doc.at("markers"))
    r.markers.push_back({m.at("path").get<std::string>(), m.at("entry_point").get<std::string>(),
                         m.at("owner").get<std::string>(), m.at("holds").get<bool>()});
  r.problems = problemsFrom(doc.at("problems"));
  if (doc.at("vm_name").is_string()) r.vmName = doc.at("vm_name").get<std::string>();
  r.binds = doc.at("binds").get<bool>();
  r.exitCode = doc.at("exit_code").get<int>();
  if (doc.contains("interactive") && !doc.at("interactive").is_null())
    r.interactive.push_back(reportFrom(doc.at("interactive")));
  return r;
}

void printProblems(std::FILE *out, const std::vector<Problem> &problems) {
  for (Severity level : {Severity::Error, Severity::Warning, Severity::Note})
    for (const Problem &p : problems) {
      if (p.severity != level) continue;
      std::string tag = severityName(level);
      for (char &ch : tag) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      std::fprintf(out, "%-8s %s\n", tag.c_str(), p.cause.c_str());
      for (const std::string &f : p.fixes) std::fprintf(out, "         fix: %s\n", f.c_str());
    }
}

void renderText(const Report &r, bool verbose, std::FILE *out) {
  std::fprintf(out, "acs-doctor: %s\n", headline(r).c_str());
  subjectLines(out, r);
  std::fprintf(out, "\n");
  if (r.problems.empty()) std::fprintf(out, "No problems found.\n");
  printProblems(out, r.problems);
  for (const Report &other : r.interactive) {
    std::fprintf(out, "\nStarted from an interactive login of %s (ssh, then db2start), DB2 has another environment:\n",
                 other.checkedAs.user.c_str());
    for (const Variable &v : other.checkedAs.environment)
      std::fprintf(out, "  %s%s%s, %s\n", v.name.c_str(), v.set ? "=" : "", v.set ? v.value.c_str() : "",
                   v.origin.c_str());
    std::fprintf(out, "and then: %s\n", headline(other).c_str());
    printProblems(out, other.problems);
  }
  discoveryDetails(out, r);
  loadDetails(out, r);
  tmpDetails(out, r);
  if (!verbose) return;
  std::fprintf(out, "\nWho besides root and %s can change what DB2 runs, path by path:\n", r.identity.user.c_str());
  for (const TrustRow &t : r.chain) std::fprintf(out, "  %s (%s): %s\n", t.path.c_str(), t.role.c_str(), t.verdict.c_str());
  std::fprintf(out, "\nLibrary trace of the discovery as %s:\n", r.identity.user.c_str());
  for (std::string line : r.trace) {
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::fprintf(out, "  %s\n", line.c_str());
  }
}

void renderBrief(const Report &r, std::FILE *out) {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string line = std::string(host) + ": " + headline(r);
  if (!r.binds)
    for (const Problem &p : r.problems)
      if (p.severity == Severity::Error) {
        line += " " + p.cause;
        break;
      }
  std::fprintf(out, "%s\n", fix::visible(line).c_str());
}

void writeJson(const json &doc, std::FILE *out) {
  std::string text = doc.dump(2, ' ', true, json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

void writeVisible(const std::function<void(std::FILE *)> &render, std::FILE *out) {
  char *text = nullptr;
  std::size_t size = 0;
  std::FILE *memory = open_memstream(&text, &size);
  if (memory == nullptr) return;
  render(memory);
  std::fclose(memory);
  std::string all(text, size);
  std::free(text);
  for (std::size_t at = 0, end = 0; at < all.size(); at = end + 1) {
    end = std::min(all.find('\n', at), all.size());
    std::fprintf(out, "%s%s", fix::visible(all.substr(at, end - at)).c_str(), end < all.size() ? "\n" : "");
  }
}

}  // namespace doctor
