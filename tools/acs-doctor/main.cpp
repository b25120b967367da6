// acs-doctor: tells whether DB2 would find, accept and load the ACS back
// end on this host, and why not; or, with --trace, reads what a DB2
// process wrote. The check runs in a checking process that is the subject
// (acs-doctor re-executed as that user, with its environment), using the
// library's own discovery linked in statically, its trace going to an
// in-process sink; the trace file, the markers and the caller's
// environment are left alone. This file is the command line and the
// doctor's own side of a check: whom to check as, starting the checking
// process, and the report made whole and rendered.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "causes.h"
#include "checking_process.h"
#include "command_line.h"
#include "installed_library.h"
#include "process_run.h"
#include "report.h"
#include "subject.h"
#include "trace_reader.h"
#include "zorvan/trace_sink.h"

namespace doctor {

namespace {

using nlohmann::json;

// The vmName field of the vendor-options record is 18 bytes, NUL included.
constexpr std::size_t kVmNameMax = 17;
constexpr int kDefaultTimeout = 60;

struct Options {
  bool help = false;
  bool json = false;
  bool brief = false;
  bool load = false;
  bool verbose = false;
  bool haveVmName = false;
  std::string vmName;
  std::string asUser;
  std::string pid;
  std::string traceFile;  // --trace: explain this trace log instead
  int timeout = kDefaultTimeout;  // seconds the load may take
};

int usageError(const char *program, const std::string &what) {
  std::fprintf(stderr, "acs-doctor: %s\nTry '%s --help'.\n", what.c_str(), program);
  return kExitUsage;
}

int refuse(const std::string &what) {
  std::fprintf(stderr, "acs-doctor: %s\n", fix::visible(what).c_str());
  return kExitUsage;
}

void printUsage(const char *program) {
  std::printf(
      "Usage: %s [--pid PID | --as-user USER] [--vm-name NAME] [--load] [--timeout S]\n"
      "       [--json | --brief] [--verbose]\n"
      "       %s --trace FILE [--json]\n"
      "Explains how DB2 would find and load the ACS back end on this host, with\n"
      "the library's own discovery code, and names the fix for each problem.\n"
      "\n"
      "Discovery is steered by QXREG (registry directory, default\n"
      "/etc/OstravaneRegistry) and ZORVAN_INST (instance name), and depends on\n"
      "who runs it. Check with the identity and environment DB2 really has:\n"
      "\n"
      "  --pid PID       as that running process (a DB2 agent): its real uid, gid\n"
      "                  and groups, its QXREG and ZORVAN_INST, its working\n"
      "                  directory, its environment whole (needs root, or the\n"
      "                  process's own user)\n"
      "  --as-user USER  as USER, with USER's login environment (what su - USER\n"
      "                  gives, profile included; needs root, or USER itself)\n"
      "  --vm-name NAME  simulate DB2 passing a vendor-options record whose\n"
      "                  vmName is NAME (at most %zu characters)\n"
      "  --load          load the back end as the checked user would and check\n"
      "                  its fourteen entry points; runs its constructors (in a\n"
      "                  load process of their own; root: only with --pid or\n"
      "                  --as-user)\n"
      "  --timeout S     give the check S seconds (default %d); a back end that\n"
      "                  loads no sooner is a finding: DB2's process would hang\n"
      "  --trace FILE    explain a captured trace log (/tmp/db2acstrace.log):\n"
      "                  each process's ACS calls, the first failure and its cause\n"
      "  --json          one JSON object on stdout instead of text\n"
      "  --brief         one line: host name, verdict and the first cause\n"
      "  --verbose       also print the library's trace of the discovery\n"
      "  --help          this text\n"
      "\n"
      "acs-doctor changes nothing: it never writes the trace file, never\n"
      "creates a marker, and ZORVAN_INST as the scan exports it stays in its\n"
      "checking child.\n"
      "\n"
      "Exit status: 0 checked as the identity asked for, and DB2 would bind the\n"
      "back end (without --load: would find it); 1 it would not, a debug marker\n"
      "would hold a call, the back end kills or hangs the process loading it,\n"
      "or someone besides root and the instance owner can change a path that\n"
      "decides what DB2 runs; 2 the check could not be made (usage error,\n"
      "another user's check without root, root's --load as itself, a process\n"
      "or file that cannot be read).\n"
      "With --trace: 0 no call failed, 1 one did, 2 usage error or unreadable file.\n",
      program, program, kVmNameMax, kDefaultTimeout);
}

int parseOptions(int argc, char **argv, Options &out) {
  const char *program = argc > 0 ? argv[0] : "acs-doctor";
  const std::pair<const char *, bool *> flags[] = {{"--help", &out.help}, {"--json", &out.json},
                                                   {"--brief", &out.brief}, {"--load", &out.load},
                                                   {"--verbose", &out.verbose}};
  const struct { const char *name, *needs; std::string *value; } named[] = {
      {"--as-user", "a user", &out.asUser}, {"--pid", "a process id", &out.pid},
      {"--trace", "a file", &out.traceFile}};
  for (CommandLine args(argc, argv); args.next();) {
    bool known = false;
    for (const auto &f : flags)
      if (args.flag(f.first)) known = *f.second = true;
    for (const auto &n : named)
      if (args.name() == n.name) {
        if (!args.value(*n.value) || n.value->empty()) return usageError(program, args.name() + " needs " + n.needs);
        known = true;
      }
    if (known) continue;
    std::string seconds;
    if (args.name() == "--timeout") {
      if (!args.value(seconds) || seconds.empty() || seconds.size() > 5 ||
          seconds.find_first_not_of("0123456789") != std::string::npos || std::stoi(seconds) == 0)
        return usageError(program, "--timeout needs a number of seconds, 1 to 99999");
      out.timeout = std::stoi(seconds);
      continue;
    }
    if (args.name() != "--vm-name") return usageError(program, "unknown argument " + std::string(args.word()));
    if (!args.value(out.vmName)) return usageError(program, "--vm-name needs a name");
    if (out.vmName.size() > kVmNameMax)
      return usageError(program, "--vm-name: the vmName field holds at most " + std::to_string(kVmNameMax) +
                                     " characters");
    out.haveVmName = true;
  }
  if (!out.pid.empty() && !out.asUser.empty())
    return usageError(program, "--pid and --as-user name two different checks; give one");
  if (out.json && out.brief) return usageError(program, "--json and --brief are two outputs; give one");
  if (!out.traceFile.empty() && (!out.pid.empty() || !out.asUser.empty() || out.load || out.haveVmName || out.brief ||
                                 out.timeout != kDefaultTimeout))
    return usageError(program, "--trace reads a trace log; it takes only --json");
  return 0;
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
// For --as-user, interactive is the subject with the environment of an
// interactive login.
int chooseSubject(const Options &o, Subject &s, Subject &interactive, std::vector<Problem> &notes) {
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
    s = subjectFromLogin(*pw, false);
    interactive = subjectFromLogin(*pw, true);
    if (!s.login.error.empty()) {
      CauseValues v = {{"user", s.user}, {"error", s.login.error}};
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
  interactive.switchUser = root;
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

// The checking process's limit: the load within it has seconds of its own,
// discovery's probes as many again, and starting, checking and reporting a
// few more, so that a busy host does not turn a short --timeout into a
// checking process that "did not finish".
int checkerLimit(int seconds) { return 2 * seconds + 5; }

// Runs acs-doctor again (/proc/self/exe; without /proc, as in a plain
// chroot, the file the kernel started it from) after setgroups, setresgid
// and setresuid to the subject (and, for a process in a tree of its own,
// entering that tree), with the subject's environment, asking it (request)
// to check; the checking process enters the subject's working directory
// itself. Returns why no report came, "" when one did.
std::string runCheckingProcess(const Subject &subject, json request, int seconds, Report &report) {
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
  request["program_fd"] = exe;
  bool ran = runChild([&]() { startChecker(exe, path, subject, request.dump()); }, checkerLimit(seconds), run,
                      error, exe);
  close(exe);
  if (!ran) return error;
  json doc;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    json part = json::parse(line, nullptr, false);
    if (part.is_object() && (part.contains("error") || part.contains("discovery"))) doc = part;
  }
  if (doc.contains("error") && doc["error"].is_string()) return doc["error"].get<std::string>();
  // The checking process runs as the subject: what it wrote is checked,
  // not trusted.
  try {
    if (doc.contains("discovery")) {
      report = reportFrom(doc);
      return "";
    }
  } catch (const json::exception &e) {
    return "the checking process as " + subject.user + " wrote a report that cannot be read: " + e.what();
  }
  int signal = WIFSIGNALED(run.status) && !run.timedOut ? WTERMSIG(run.status) : 0;
  return "the checking process as " + subject.user + " " +
         (run.timedOut ? "did not finish within " + std::to_string(checkerLimit(seconds)) + " s"
          : signal != 0 ? "was killed by signal " + std::to_string(signal)
                        : "ended with status " + std::to_string(WEXITSTATUS(run.status))) +
         (run.cut ? " and wrote more than its report" : "") + " and wrote no report";
}

// The steering variables' values in an environment, to tell two apart.
std::string steeringOf(const std::vector<std::string> &environment) {
  std::string values;
  for (const char *name : kSteeringNames)
    for (const std::string &entry : environment)
      if (entry.compare(0, strlen(name) + 1, std::string(name) + "=") == 0) values += entry + '\n';
  return values;
}

// One checking process for subject; its report made whole: checked to be
// the identity asked for, with whom it stands for.
int check(const Options &o, const Subject &subject, Report &report) {
  json origins = json::object();
  for (const Variable &v : subject.variables) origins[v.name] = v.origin;
  // The library DB2 loads: the one the process has mapped; while none
  // is, the one installed beside acs-doctor, unless the process sees
  // another file system.
  std::string mapped = subject.pid != 0 ? mappedAcsLibrary(subject.pid, subject.root) : "";
  std::string installed = mapped.empty() && !subject.otherTree ? zorvan::installedAcsLibrary() : "";
  // A process's working directory is entered already.
  json request = {{"cwd", subject.pid != 0 ? "" : subject.cwd}, {"source", subject.source}, {"vm_name", o.vmName},
                  {"vm_name_given", o.haveVmName}, {"load", o.load}, {"origins", origins},
                  {"acs_library", mapped}, {"installed_library", installed}};
  if (subject.source == "login" && subject.login.error.empty()) {
    json settings = json::object();
    for (const auto &s : subject.login.settings) settings[s.first] = {{"file", s.second.file}, {"line", s.second.line}};
    request["login"] = {{"user", subject.login.user}, {"home", subject.login.home}, {"first", subject.login.first},
                        {"csh", subject.login.csh}, {"settings", settings}};
  }
  std::string error = runCheckingProcess(subject, request, o.timeout, report);
  if (!error.empty()) return refuse(error);
  // The check counts only when it ran as the identity asked for.
  const Identity &id = report.identity;
  bool raised = subject.euid != subject.uid || subject.egid != subject.gid;
  if (id.uid != subject.uid || id.euid != subject.euid || id.gid != subject.gid || id.egid != subject.egid ||
      id.raised != raised)
    return refuse("the checking process ran as uid " + std::to_string(id.uid) + ", effective uid " +
                  std::to_string(id.euid) + (id.raised ? ", raised" : "") + "; not as " + subject.user + " (uid " +
                  std::to_string(subject.uid) + ", effective uid " + std::to_string(subject.euid) +
                  (raised ? ", raised" : "") + ")");
  report.checkedAs = {subject.source, subject.user, subject.uid, subject.gid, subject.groups,
                      subject.cwd,    subject.pid,  subject.variables, subject.login.error};
  return 0;
}

int checkInstallation(const Options &o) {
  Subject subject, interactive;
  std::vector<Problem> notes;
  if (int status = chooseSubject(o, subject, interactive, notes)) return status;
  Report report;
  if (int status = check(o, subject, report)) return status;
  report.problems.insert(report.problems.end(), notes.begin(), notes.end());
  // Started from an interactive login (ssh, then db2start), DB2 has that
  // login's environment: where it differs, it is checked too, and the
  // verdict holds for both.
  if (interactive.source == "login" && interactive.login.error.empty() &&
      steeringOf(interactive.environment) != steeringOf(subject.environment)) {
    Report second;
    if (int status = check(o, interactive, second)) return status;
    if (!second.binds) report.exitCode = kExitDoesNotBind;
    report.interactive.push_back(second);
  }
  if (o.brief)
    renderBrief(report, stdout);
  else if (o.json)
    writeJson(toJson(report), stdout);
  else
    writeVisible([&](std::FILE *out) { renderText(report, o.verbose, out); }, stdout);
  return report.exitCode;
}

}  // namespace

}  // namespace doctor

int main(int argc, char **argv) {
  using namespace doctor;
  // Nothing acs-doctor calls may write the trace file.
  zorvanSetTraceSink(discardTrace, nullptr);
  if (argc == 3 && std::strcmp(argv[1], kCheckerFlag) == 0) runChecker(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], kLoadFlag) == 0) runLoadProcess(argv[2], argv[3]);
  Options o;
  if (int status = parseOptions(argc, argv, o)) return status;
  if (o.help) {
    printUsage(argc > 0 ? argv[0] : "acs-doctor");
    return kExitBinds;
  }
  if (!o.traceFile.empty()) return explainTraceFile(o.traceFile, o.json, stdout, stderr);
  return checkInstallation(o);
}
