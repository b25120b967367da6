#include "doctor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "explain.h"
#include "installed_library.h"
#include "subject.h"

namespace doctor {

namespace {

using nlohmann::json;

int refuse(const std::string &what) {
  std::fprintf(stderr, "acs-doctor: %s\n", what.c_str());
  return kExitUsage;
}

// DB2's engine processes this process can see, as "acs-doctor --pid N
// (db2sysc of user)"; or, when it can see no process, why.
std::string enginesRunning(std::string &unseen) {
  DIR *proc = opendir("/proc");
  if (proc == nullptr) unseen = std::string("/proc cannot be read: ") + strerror(errno);
  std::string found;
  while (const struct dirent *e = proc != nullptr ? readdir(proc) : nullptr) {
    std::string pid = e->d_name, name;
    struct stat st;
    std::ifstream comm("/proc/" + pid + "/comm");
    if (pid.find_first_not_of("0123456789") == std::string::npos && std::getline(comm, name) &&
        name == "db2sysc" && stat(("/proc/" + pid).c_str(), &st) == 0)
      found += (found.empty() ? "" : "; ") + std::string("acs-doctor --pid ") + pid + " (db2sysc of " +
               userName(st.st_uid) + ")";
  }
  if (proc != nullptr) closedir(proc);
  return found;
}

// Whom to check as; 0, or the exit status after a one-line message.
int chooseSubject(const Options &o, Subject &s, std::vector<Problem> &notes) {
  std::string error;
  bool root = geteuid() == 0;
  struct stat st;
  if (!o.pid.empty()) {
    if (!root && o.pid.find_first_not_of("0123456789") == std::string::npos &&
        stat(("/proc/" + o.pid).c_str(), &st) == 0 && st.st_uid != getuid())
      return refuse("--pid " + o.pid + ": needs root, or run it as " + userName(st.st_uid));
    if (!subjectFromPid(o.pid, s, error)) return refuse("--pid " + o.pid + ": " + error);
    if (!root && s.otherTree)
      return refuse("--pid " + o.pid + ": it sees another file system (its own root directory or mount "
                    "namespace), which only root can enter to check");
    if (!root && (s.euid != s.uid || s.egid != s.gid))
      return refuse("--pid " + o.pid + ": it runs with raised privileges (effective uid " + std::to_string(s.euid) +
                    ", gid " + std::to_string(s.egid) + "), which only root can check as");
  } else if (!o.asUser.empty()) {
    const struct passwd *pw = getpwnam(o.asUser.c_str());
    if (pw == nullptr && o.asUser.find_first_not_of("0123456789") == std::string::npos)
      pw = getpwuid(static_cast<uid_t>(std::strtoul(o.asUser.c_str(), nullptr, 10)));
    if (pw == nullptr) return refuse("--as-user " + o.asUser + ": no such user");
    if (!root && pw->pw_uid != getuid())
      return refuse("--as-user " + o.asUser + ": needs root, or run it as " + pw->pw_name);
    s = subjectFromLogin(pw);
    if (!s.loginError.empty()) {
      std::string unseen, engines = enginesRunning(unseen);
      notes.push_back({Severity::Warning,
                       "Could not read " + s.user + "'s login environment (" + s.loginError +
                           "); checked with an empty environment, which DB2's may not be.",
                       "Check a running DB2 engine process instead: " +
                           (!unseen.empty() ? "none can be seen, " + unseen
                                            : engines.empty() ? "none is running" : engines)});
    }
  } else {
    s = subjectFromSelf();
    std::string unseen, engines = s.uid == 0 ? enginesRunning(unseen) : "";
    std::string asOwner = "; check as the instance owner: acs-doctor --as-user <instance owner>";
    if (s.uid == 0)
      notes.push_back({Severity::Note,
                       "Checked as root with root's own environment, which passes permission tests "
                       "the DB2 instance owner may fail and may lack its QXREG.",
                       !unseen.empty()   ? "DB2's engine processes (db2sysc) cannot be seen (" + unseen + ")" + asOwner
                       : engines.empty() ? "No DB2 engine process (db2sysc) is running here" + asOwner
                                         : "Check as DB2 runs: " + engines});
  }
  s.switchUser = root && s.source != "self";
  return 0;
}

[[noreturn]] void startChecker(int exe, const char *path, int fd, const Subject &s, const std::string &request) {
  // The report goes to its own descriptor; whatever the back end prints
  // to stdout goes to the doctor's stderr. Both descriptors are moved out
  // of the way first: started from a shell, the program file is often
  // open as 3 itself.
  int report = fcntl(fd, F_DUPFD, kReportFd + 1), self = fcntl(exe, F_DUPFD_CLOEXEC, kReportFd + 1);
  if (report < 0 || self < 0 || close(fd) != 0 || dup2(report, kReportFd) < 0 || close(report) != 0)
    _exit(126);
  if (dup2(2, 1) < 0) _exit(126);
  int in = open("/dev/null", O_RDONLY);
  if (in >= 0 && in != 0) dup2(in, 0);
  std::string why;
  // Into the file system a process sees, and into its working directory
  // itself, not the path that named it: a directory above that was
  // closed since the process went in does not keep it from "reg".
  if (s.pid != 0) {
    std::string proc = "/proc/" + std::to_string(s.pid);
    int cwd = open((proc + "/cwd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int ns = s.otherTree ? open((proc + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC) : -1;
    int root = s.otherTree ? open((proc + "/root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (cwd < 0 || (s.otherTree && (ns < 0 || root < 0 || setns(ns, CLONE_NEWNS) != 0 || fchdir(root) != 0 ||
                                    chroot(".") != 0)) || fchdir(cwd) != 0)
      why = "cannot enter the " + std::string(s.otherTree ? "file system" : "working directory") + " process " +
            std::to_string(s.pid) + " sees: " + strerror(errno);
  }
  // With raised privileges the effective ids differ from the real ones,
  // so the kernel starts the checking process with AT_SECURE, as it
  // started DB2's.
  if (why.empty() && s.switchUser &&
      (setgroups(s.groups.size(), s.groups.empty() ? nullptr : s.groups.data()) != 0 ||
       setresgid(s.gid, s.egid, s.egid) != 0 || setresuid(s.uid, s.euid, s.euid) != 0))
    why = "cannot become " + s.user + ": " + strerror(errno);
  if (why.empty()) {
    std::vector<char *> envp;
    for (const std::string &e : s.environment) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    std::string name = "acs-doctor", flag = kCheckerFlag;
    char *argv[] = {&name[0], &flag[0], const_cast<char *>(request.c_str()), nullptr};
    fexecve(self, argv, envp.data());
    // An older C library's fexecve needs /proc.
    if (path != nullptr) execve(path, argv, envp.data());
    why = std::string("cannot start the checking process: ") + strerror(errno);
  }
  writeAll(kReportFd, json({{"error", why}}).dump() + "\n");
  _exit(127);
}

// Runs acs-doctor again (/proc/self/exe; without /proc, as in a plain
// chroot, the file the kernel started it from) after setgroups, setresgid
// and setresuid to the subject (and, for a process in a tree of its own,
// entering that tree), with the subject's whole environment, asking it
// (request) to check; the checking process enters the subject's working
// directory itself. report gets the discovery part, with "load" and its
// problems merged in; a checking process killed by a signal during --load
// leaves load.signal set. Returns why no report came, "" when one did.
std::string runCheckingProcess(const Subject &subject, const json &request, int seconds, json &report) {
  // Opened as the doctor: the build or install directory need not be
  // searchable for the subject to run the program in it.
  const char *path = nullptr;
  int exe = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (exe < 0 && (path = reinterpret_cast<const char *>(getauxval(AT_EXECFN))) != nullptr)
    exe = open(path, O_RDONLY | O_CLOEXEC);
  if (exe < 0) return std::string("/proc/self/exe: ") + strerror(errno);
  ChildRun run;
  std::string error;
  bool ran = runChild([&](int fd) { startChecker(exe, path, fd, subject, request.dump()); }, seconds, run, error,
                      true);
  close(exe);
  if (!ran) return error;
  std::istringstream lines(run.output);
  int status = run.status;
  std::vector<json> parts;
  for (std::string line; std::getline(lines, line);) {
    json part = json::parse(line, nullptr, false);
    if (!part.is_discarded()) parts.push_back(part);
  }
  if (!parts.empty() && parts[0].contains("error")) return parts[0]["error"].get<std::string>();
  // Killed by us when the time ran out: the signal is not the finding.
  int signal = WIFSIGNALED(status) && !run.timedOut ? WTERMSIG(status) : 0;
  std::string ended = run.timedOut ? "did not finish within " + std::to_string(seconds) + " s"
                      : signal != 0 ? "was killed by signal " + std::to_string(signal)
                                    : "ended with status " + std::to_string(WEXITSTATUS(status));
  if (parts.empty() || !parts[0].contains("discovery"))
    return "the checking process as " + subject.user + " " + ended + " and wrote no report";
  report = parts[0];
  report["load"] = parts.size() > 1 ? parts[1]["load"] : json();
  // The load's trust chain adds the libraries the back end brought along.
  if (parts.size() > 1)
    for (const char *key : {"trust", "findings"}) report[key] = parts[1][key];
  for (const json &p : parts.size() > 1 ? parts[1]["problems"] : json::array()) report["problems"].push_back(p);
  std::string lib = report["paths"]["library"];
  if (parts.size() > 1 || !request.value("load", false) || lib.empty()) return "";
  // It died or hung between the report and the load's result: in the back end.
  std::string died = "the checking process " + ended + " while loading it";
  report["load"] = {{"path", lib}, {"found", true}, {"loaded", false}, {"died", !run.timedOut},
                    {"hung", run.timedOut},
                    {"complete", false}, {"entry_points", json::array()},
                    {"signal", signal != 0 ? json(signal) : json()},
                    {"signal_name", signal != 0 ? json(strsignal(signal)) : json()}, {"error", died}};
  Problem death = run.timedOut ? describe("backend-hangs-while-loading", {{"lib", lib}, {"seconds", std::to_string(seconds)}})
                  : signal == 0 ? describe("backend-load-failed", {{"lib", lib}, {"error", died}})
                                : describe("backend-killed-the-process",
                                           {{"lib", lib}, {"signal", std::to_string(signal)},
                                            {"signalName", strsignal(signal)}});
  // The death comes first.
  report["problems"].insert(report["problems"].begin(), problemsJson({death})[0]);
  return "";
}

json subjectJson(const Subject &s) {
  json variables = json::object();
  for (const SteeringVariable &v : s.variables)
    variables[v.name] = {{"value", v.set ? json(v.value) : json()}, {"origin", v.origin}};
  return {{"source", s.source}, {"user", s.user}, {"uid", s.uid}, {"gid", s.gid},
          {"groups", s.groups}, {"cwd", s.cwd}, {"pid", s.pid == 0 ? json() : json(s.pid)},
          {"environment", variables}, {"login_error", s.loginError.empty() ? json() : json(s.loginError)}};
}

// binds, verdict, headline and exit_code, from the report.
void judge(json &r) {
  const json &load = r["load"];
  bool found = r["discovery"]["found"].get<bool>();
  bool loadOk = load.is_null() || load["complete"].get<bool>();
  std::string waits;
  for (const json &m : r["markers"])
    if (m["holds"].get<bool>())
      waits += (waits.empty() ? "" : ", and ") + m["entry_point"].get<std::string>() +
               " would wait while " + m["path"].get<std::string>() + " exists";
  bool binds = found && loadOk && waits.empty() && r["findings"].empty();
  std::string headline = "DB2 would NOT bind the back end";
  if (!load.is_null() && load.value("hung", false))
    headline = "DB2's process would hang loading the back end (" + load["error"].get<std::string>() + ")";
  else if (!load.is_null() && load.value("died", false))
    headline = "DB2's process would die loading the back end (" +
               (load["signal"].is_null() ? load["error"].get<std::string>()
                                         : "signal " + std::to_string(load["signal"].get<int>()) + ", " +
                                               load["signal_name"].get<std::string>()) + ")";
  // Binding is dlopen and the fourteen entry points: without --load only
  // finding the back end was checked, and the headline claims no more.
  std::string good = load.is_null() ? "DB2 would find the back end" : "DB2 would bind the back end";
  if (binds)
    headline = good;
  else if (found && loadOk)
    headline = good + ", but " +
               (waits.empty() ? r["trust"]["who"].get<std::string>() + " can change what it runs" : waits);
  r["binds"] = binds;
  r["verdict"] = !binds ? "does not bind" : load.is_null() ? "found, not loaded" : "binds";
  // Without its login environment the check stood for the user, not for
  // how DB2 runs as it: the one line a --brief reader sees says so.
  std::string as = r["checked_as"]["user"].get<std::string>();
  if (!r["checked_as"]["login_error"].is_null()) as += ", with an empty environment: " + as + "'s could not be read";
  r["headline"] = headline + " (checked as " + as + ")" +
                  (found && load.is_null() ? "; add --load to check that it binds." : ".");
  r["exit_code"] = binds ? kExitBinds : kExitDoesNotBind;
}

}  // namespace

int checkInstallation(const Options &o) {
  Subject subject;
  std::vector<Problem> notes;
  if (int status = chooseSubject(o, subject, notes)) return status;
  json origins = json::object();
  for (const SteeringVariable &v : subject.variables) origins[v.name] = v.origin;
  // The library DB2 loads: the one the process has mapped; while none
  // is, the one installed beside acs-doctor, unless the process sees
  // another file system.
  std::string mapped = subject.pid != 0 ? mappedAcsLibrary(subject.pid, subject.root) : "";
  std::string installed = mapped.empty() && !subject.otherTree ? zorvan::installedAcsLibrary() : "";
  // A process's working directory is entered already.
  json request = {{"cwd", subject.pid != 0 ? "" : subject.cwd}, {"source", subject.source}, {"vm_name", o.vmName},
                  {"vm_name_given", o.haveVmName}, {"load", o.load}, {"origins", origins},
                  {"acs_library", mapped}, {"installed_library", installed}};
  json report;
  std::string error = runCheckingProcess(subject, request, o.timeout, report);
  if (!error.empty()) return refuse(error);
  // The check counts only when it ran as the identity asked for.
  const json &id = report["identity"];
  bool raised = subject.euid != subject.uid || subject.egid != subject.gid;
  if (id["uid"].get<uid_t>() != subject.uid || id["euid"].get<uid_t>() != subject.euid ||
      id["gid"].get<gid_t>() != subject.gid || id["egid"].get<gid_t>() != subject.egid ||
      id["raised"].get<bool>() != raised)
    return refuse("the checking process ran as uid " + std::to_string(id["uid"].get<uid_t>()) + ", effective uid " +
                  std::to_string(id["euid"].get<uid_t>()) + (id["raised"].get<bool>() ? ", raised" : "") +
                  "; not as " + subject.user + " (uid " + std::to_string(subject.uid) + ", effective uid " +
                  std::to_string(subject.euid) + (raised ? ", raised" : "") + ")");

  for (const json &f : report["findings"]) report["problems"].push_back(f);
  if (!report["cwd_error"].is_null())
    notes.push_back({Severity::Note,
                     "Could not enter the working directory " + report["cwd_error"].get<std::string>() +
                         "; relative paths were resolved from " + id["cwd"].get<std::string>() +
                         (subject.source == "login" ? ", where a login shell starts then." : "."),
                     "Check with --pid while DB2 runs."});
  if (report["trust"]["outside"].get<std::size_t>() != 0)
    notes.push_back({Severity::Note,
                     std::to_string(report["trust"]["outside"].get<std::size_t>()) +
                         " of the paths DB2 depends on belong to a user or group outside this user namespace "
                         "(shown as the overflow id), so who can change them was not judged.",
                     "Check from the host itself, as root there: acs-doctor --pid <pid of a DB2 engine process>",
                     "owner-outside-namespace"});
  for (const json &n : problemsJson(notes)) report["problems"].push_back(n);
  report["checked_as"] = subjectJson(subject);
  report["vm_name"] = o.haveVmName ? json(o.vmName) : json();
  judge(report);

  if (o.brief)
    renderBrief(report, stdout);
  else if (o.json)
    writeJson(report, stdout);
  else
    renderText(report, o.verbose, stdout);
  return report["exit_code"].get<int>();
}

}  // namespace doctor
