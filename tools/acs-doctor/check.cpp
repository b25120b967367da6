#include "doctor.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/sendfile.h>
#include <sys/syscall.h>
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
  std::fprintf(stderr, "acs-doctor: %s\n", visible(what).c_str());
  return kExitUsage;
}

struct Engine {
  std::string pid, user;
};

// DB2's engine processes (db2sysc) this process can see; unseen says why
// it can see none, when it cannot read /proc.
std::vector<Engine> enginesRunning(std::string &unseen) {
  std::vector<Engine> found;
  DIR *proc = opendir("/proc");
  if (proc == nullptr) unseen = std::string("/proc cannot be read: ") + strerror(errno);
  while (const struct dirent *e = proc != nullptr ? readdir(proc) : nullptr) {
    std::string pid = e->d_name, name;
    struct stat st;
    std::ifstream comm("/proc/" + pid + "/comm");
    // DB2 runs no engine as root: a "db2sysc" of root's is something else.
    if (pid.find_first_not_of("0123456789") == std::string::npos && std::getline(comm, name) &&
        name == "db2sysc" && stat(("/proc/" + pid).c_str(), &st) == 0 && st.st_uid != 0)
      found.push_back({pid, userName(st.st_uid)});
  }
  if (proc != nullptr) closedir(proc);
  return found;
}

// The checks as DB2 runs: one command for each engine process, or why
// there is none to check as.
fix::Fixes checksAsDb2Runs(bool load) {
  std::string unseen, owners;
  fix::Fixes fixes;
  // Whose each is, first: anyone can name a program db2sysc.
  for (const Engine &e : enginesRunning(unseen)) {
    owners += (owners.empty() ? "" : ", ") + e.pid + " of " + e.user;
    fixes.push_back(fix::command("root", {"acs-doctor", "--pid", e.pid}));
    if (load) fixes.back().argv.push_back("--load");
  }
  if (!owners.empty()) fixes.insert(fixes.begin(), fix::advice("DB2 engine processes (db2sysc) here: " + owners + "."));
  if (fixes.empty())
    fixes.push_back(fix::advice((!unseen.empty() ? "DB2's engine processes (db2sysc) cannot be seen (" + unseen + ")"
                                                 : std::string("No DB2 engine process (db2sysc) is running here")) +
                                "; check as the instance owner: acs-doctor --as-user <instance owner>" +
                                (load ? " --load." : ".")));
  return fixes;
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
    if (s.otherTree && (s.euid != s.uid || s.egid != s.gid))
      return refuse("--pid " + o.pid + ": it runs with raised privileges in a file system of its own (its own root "
                    "directory or mount namespace), which this check cannot take on together");
  } else if (!o.asUser.empty()) {
    const trust::Accounts::User *pw = accounts().named(o.asUser);
    if (pw == nullptr && o.asUser.find_first_not_of("0123456789") == std::string::npos)
      pw = accounts().user(static_cast<uid_t>(std::strtoul(o.asUser.c_str(), nullptr, 10)));
    // A directory that does not list its users (enumeration switched off)
    // still answers for one by name.
    const struct passwd *listed = pw == nullptr ? getpwnam(o.asUser.c_str()) : nullptr;
    trust::Accounts::User unlisted{listed != nullptr ? listed->pw_name : "", listed != nullptr ? listed->pw_uid : 0,
                                   listed != nullptr ? listed->pw_gid : 0, listed != nullptr ? listed->pw_dir : "",
                                   listed != nullptr ? listed->pw_shell : ""};
    if (listed != nullptr) pw = &unlisted;
    if (pw == nullptr) return refuse("--as-user " + o.asUser + ": no such user");
    if (!root && pw->uid != getuid())
      return refuse("--as-user " + o.asUser + ": needs root, or run it as " + pw->name);
    s = subjectFromLogin(*pw);
    if (!s.loginError.empty()) {
      CauseValues v = {{"user", s.user}, {"error", s.loginError}};
      v.given = checksAsDb2Runs(o.load);
      notes.push_back(describe("login-unreadable", v));
    }
  } else if (root && o.load) {
    // Root is not who DB2 runs as, and the back end's code is not root's
    // to run.
    std::string commands;
    for (const fix::Fix &f : checksAsDb2Runs(true)) commands += (commands.empty() ? "" : "; ") + fix::render(f);
    return refuse("--load as root would run the back end's code as root, which is not how DB2 runs it; check as "
                  "DB2 runs: " + commands);
  } else {
    s = subjectFromSelf();
    if (s.uid == 0) {
      CauseValues v;
      v.given = checksAsDb2Runs(false);
      notes.push_back(describe("checked-as-root", v));
    }
  }
  s.switchUser = root && s.source != "self";
  return 0;
}

// What glibc ignores in a program with raised privileges, because it
// loads code or reads files on the environment's word: the checking
// process starts without them, so that nothing of the subject's runs in
// it; the request carries their values.
bool loaderVariable(const std::string &entry) {
  static const char *const kNames[] = {"GCONV_PATH", "GETCONF_DIR", "GLIBC_TUNABLES", "HOSTALIASES", "LOCALDOMAIN",
                                       "LOCPATH", "MALLOC_TRACE", "NIS_PATH", "NLSPATH", "RESOLV_HOST_CONF",
                                       "RES_OPTIONS", "TMPDIR", "TZDIR"};
  std::string name = entry.substr(0, entry.find('='));
  if (name.compare(0, 3, "LD_") == 0 || name.compare(0, 7, "MALLOC_") == 0) return true;
  for (const char *unsafe : kNames)
    if (name == unsafe) return true;
  return false;
}

// The program as an image the subject may run but not read: a process
// started from it is not dumpable from its first instruction, so no
// process of the subject's can trace it or write its memory before it has
// decided its verdict. The doctor's own file where none can be made.
int unreadableImage(int exe) {
  int image = static_cast<int>(syscall(SYS_memfd_create, "acs-doctor", 1u /* MFD_CLOEXEC */));
  struct stat st;
  bool copied = image >= 0 && fstat(exe, &st) == 0 && ftruncate(image, st.st_size) == 0;
  for (off_t at = 0; copied && at < st.st_size;) {
    ssize_t n = sendfile(image, exe, &at, static_cast<std::size_t>(st.st_size - at));
    copied = n > 0;
  }
  if (copied && fchmod(image, 0111) == 0) return image;
  if (image >= 0) close(image);
  return exe;
}

void execImage(int image, const char *path, char *const argv[], char *const envp[]) {
  syscall(SYS_execveat, image, "", argv, envp, AT_EMPTY_PATH);
  // An older kernel: through /proc, then, without it, by the path the
  // kernel started the doctor from.
  fexecve(image, argv, envp);
  if (path != nullptr) execve(path, argv, envp);
}

// The checking process's start, in runChild's isolated child. For a
// process in a tree of its own the doctor's program starts as root in the
// doctor's tree and enters that tree itself (its dynamic loader, its
// preloads and its libraries must not start the check); otherwise it
// becomes the subject here and starts from an image the subject cannot
// read.
[[noreturn]] void startChecker(int exe, const char *path, const Subject &s, const std::string &request) {
  std::string why;
  // Into the process's working directory itself, not the path that named
  // it: a directory above that was closed since the process went in does
  // not keep it from "reg".
  if (s.pid != 0 && !s.otherTree) {
    int cwd = open(("/proc/" + std::to_string(s.pid) + "/cwd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cwd < 0 || fchdir(cwd) != 0)
      why = "cannot enter the working directory process " + std::to_string(s.pid) + " sees: " + strerror(errno);
  }
  // With raised privileges the effective ids differ from the real ones,
  // so the kernel starts the checking process with AT_SECURE, as it
  // started DB2's.
  bool switches = s.switchUser && !s.otherTree;
  int image = switches ? unreadableImage(exe) : exe;
  if (why.empty() && switches && !becomeSubject(s)) why = "cannot become " + s.user + ": " + strerror(errno);
  if (why.empty()) {
    std::vector<char *> envp;
    for (const std::string &e : s.environment)
      if (!loaderVariable(e)) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    std::string name = "acs-doctor", flag = kCheckerFlag;
    char *argv[] = {&name[0], &flag[0], const_cast<char *>(request.c_str()), nullptr};
    // The one descriptor it keeps: the program, which it starts the load
    // process from and, run from an image it cannot read, cannot open.
    if (fcntl(exe, F_SETFD, 0) != 0) _exit(126);
    execImage(image, path, argv, envp.data());
    why = std::string("cannot start the checking process: ") + strerror(errno);
  }
  writeAll(1, json({{"error", why}}).dump() + "\n");
  _exit(127);
}

// Runs acs-doctor again (/proc/self/exe; without /proc, as in a plain
// chroot, the file the kernel started it from) after setgroups, setresgid
// and setresuid to the subject (and, for a process in a tree of its own,
// entering that tree), with the subject's environment, asking it (request)
// to check; the checking process enters the subject's working directory
// itself. Returns why no report came, "" when one did.
std::string runCheckingProcess(const Subject &subject, json request, int seconds, json &report) {
  json loader = json::object();
  for (const std::string &e : subject.environment)
    if (loaderVariable(e)) loader[e.substr(0, e.find('='))] = e.substr(e.find('=') + 1);
  request["loader"] = loader;
  request["timeout"] = seconds;
  if (subject.otherTree)
    request["enter"] = {{"pid", subject.pid}, {"uid", subject.uid}, {"gid", subject.gid},
                        {"groups", subject.groups}, {"switch", subject.switchUser}};
  // Opened as the doctor: the build or install directory need not be
  // searchable for the subject to run the program in it.
  const char *path = nullptr;
  int exe = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (exe < 0 && (path = reinterpret_cast<const char *>(getauxval(AT_EXECFN))) != nullptr)
    exe = open(path, O_RDONLY | O_CLOEXEC);
  if (exe < 0) return std::string("/proc/self/exe: ") + strerror(errno);
  ChildRun run;
  std::string error;
  // The load within it has seconds of its own; discovery's probes get as
  // many again.
  request["program_fd"] = exe;
  bool ran = runChild([&]() { startChecker(exe, path, subject, request.dump()); }, 2 * seconds, run, error, exe);
  close(exe);
  if (!ran) return error;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    json part = json::parse(line, nullptr, false);
    if (part.is_object() && (part.contains("error") || part.contains("discovery"))) report = part;
  }
  if (report.contains("error")) return report["error"].get<std::string>();
  if (report.contains("discovery")) return "";
  int signal = WIFSIGNALED(run.status) && !run.timedOut ? WTERMSIG(run.status) : 0;
  return "the checking process as " + subject.user + " " +
         (run.timedOut ? "did not finish within " + std::to_string(2 * seconds) + " s"
          : signal != 0 ? "was killed by signal " + std::to_string(signal)
                        : "ended with status " + std::to_string(WEXITSTATUS(run.status))) +
         (run.cut ? " and wrote more than its report" : "") + " and wrote no report";
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
  bool errors = false;
  for (const json &p : r["problems"]) errors = errors || p["severity"] == "error";
  bool binds = found && loadOk && waits.empty() && r["findings"].empty() && !errors;
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

int renderReport(const Options &o, const Subject &subject, std::vector<Problem> &notes, json &report);

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
  try {
    return renderReport(o, subject, notes, report);
  } catch (const json::exception &e) {
    // The checking process runs as the subject: what it wrote is checked,
    // not trusted.
    return refuse("the checking process as " + subject.user + " wrote a report that cannot be read: " + e.what());
  }
}

// The report made whole (the identity checked, what only this process
// knows added) and rendered; its exit status.
int renderReport(const Options &o, const Subject &subject, std::vector<Problem> &notes, json &report) {
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
    notes.push_back(describe("cwd-not-entered", {{"error", report["cwd_error"].get<std::string>()},
                                                 {"cwd", id["cwd"].get<std::string>()},
                                                 {"where", subject.source == "login" ? ", where a login shell starts then" : ""}}));
  if (report["trust"]["outside"].get<std::size_t>() != 0)
    notes.push_back(describe("owner-outside-namespace",
                             {{"count", std::to_string(report["trust"]["outside"].get<std::size_t>())}}));
  for (const json &n : problemsJson(notes)) report["problems"].push_back(n);
  report["checked_as"] = subjectJson(subject);
  report["vm_name"] = o.haveVmName ? json(o.vmName) : json();
  judge(report);

  if (o.brief)
    renderBrief(report, stdout);
  else if (o.json)
    writeJson(report, stdout);
  else
    writeVisible([&](std::FILE *out) { renderText(report, o.verbose, out); }, stdout);
  return report["exit_code"].get<int>();
}

}  // namespace doctor
