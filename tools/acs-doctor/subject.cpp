#include "subject.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "explain.h"

namespace doctor {

namespace {

// A process's or a login's environment, taken over whole, and where each
// steering variable in it came from.
void takeEnvironment(const std::string &block, const std::string &where, Subject &s) {
  for (std::size_t at = 0, end = 0; at < block.size(); at = end + 1) {
    end = std::min(block.find('\0', at), block.size());
    std::string entry = block.substr(at, end - at);
    if (entry.find('=') != std::string::npos && entry[0] != '=') s.environment.push_back(entry);
  }
  for (const char *name : {"QXREG", "ZORVAN_INST"}) {
    SteeringVariable v{name, false, "", ""};
    std::string head = std::string(name) + "=";
    for (const std::string &entry : s.environment)
      if (entry.compare(0, head.size(), head) == 0) {
        v.set = true;
        v.value = entry.substr(head.size());
      }
    v.origin = (v.set ? "from " : "unset in ") + where;
    s.variables.push_back(v);
  }
}

constexpr int kLoginShellSeconds = 20;

// Runs script in user's login shell (runuser -l, else su -), isolated as
// runChild isolates it; its output in output, its exit status in status. False with
// error set when no such command could be started or it did not finish.
bool captureLoginShell(const std::string &user, const std::string &script, std::string &output,
                       int &status, std::string &error) {
  auto login = [&]() {
    // One's own login needs no switch: a login shell with a clean
    // environment, as su - starts it, named "-bash" for bash, which as
    // "-sh" would read only ~/.profile.
    const trust::Accounts::User *pw = accounts().named(user);
    if (pw != nullptr && getuid() != 0 && pw->uid == getuid()) {
      std::string home = "HOME=" + pw->home, shell = "SHELL=" + pw->shell;
      std::string name = "USER=" + user, logname = "LOGNAME=" + user;
      char *envp[] = {&home[0], &shell[0], &name[0], &logname[0], const_cast<char *>("PATH=/usr/bin:/bin"), nullptr};
      if (chdir(pw->home.c_str()) != 0) {
      }
      std::string name0 = "-" + pw->shell.substr(pw->shell.rfind('/') + 1);
      execle(pw->shell.c_str(), name0.c_str(), "-c", script.c_str(), static_cast<char *>(nullptr), envp);
      return;
    }
    // runuser is su for root without authentication; older systems lack it.
    for (const char *runuser : {"/usr/sbin/runuser", "/sbin/runuser"})
      execl(runuser, "runuser", "-l", user.c_str(), "-c", script.c_str(), static_cast<char *>(nullptr));
    for (const char *su : {"/bin/su", "/usr/bin/su"})
      execl(su, "su", "-", user.c_str(), "-c", script.c_str(), static_cast<char *>(nullptr));
  };
  // A profile that waits for input or hangs must not hang the doctor.
  ChildRun run;
  if (!runChild(login, kLoginShellSeconds, run, error)) return false;
  output = run.output;
  status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
  if (run.timedOut)
    error = "the login shell did not finish within " + std::to_string(kLoginShellSeconds) + " s";
  else if (run.cut)
    error = "the login shell wrote more than " + std::to_string(kOutputLimit >> 20) + " MiB, the rest was cut";
  else if (status == 127)
    error = "neither runuser nor su could be started";
  return error.empty();
}

}  // namespace

Subject subjectFromSelf() {
  Subject s;
  s.source = "self";
  s.uid = s.euid = getuid();
  s.gid = s.egid = getgid();
  s.user = userName(s.uid);
  s.groups = ownGroups();
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) s.cwd = cwd;
  std::string block;
  for (char **entry = environ; *entry != nullptr; ++entry) block += std::string(*entry) + '\0';
  takeEnvironment(block, "this shell's environment", s);
  return s;
}

bool subjectFromPid(const std::string &pid, Subject &out, std::string &error) {
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
    error = "not a process id";
    return false;
  }
  std::string proc = "/proc/" + pid;
  std::ifstream status(proc + "/status");
  std::string block = readFileBytes(proc + "/environ", error);
  if (!status || !error.empty()) {
    error = "cannot read process " + pid + " (" + proc + "/status, " + proc + "/environ" +
            (error.empty() ? "" : ": " + error) + "); is it running, and are you root?";
    return false;
  }
  Subject s;
  s.source = "pid";
  s.pid = static_cast<pid_t>(std::stol(pid));
  unsigned long uid = 0, gid = 0, euid = 0, egid = 0, id = 0;
  bool haveUid = false, haveGid = false;
  std::string line;
  while (std::getline(status, line)) {
    // "Uid:\t1000\t0\t0\t0": the real id, then the effective one.
    if (std::sscanf(line.c_str(), "Uid: %lu %lu", &uid, &euid) == 2) haveUid = true;
    if (std::sscanf(line.c_str(), "Gid: %lu %lu", &gid, &egid) == 2) haveGid = true;
    if (line.compare(0, 7, "Groups:") == 0) {
      std::istringstream in(line.substr(7));
      while (in >> id) s.groups.push_back(static_cast<gid_t>(id));
    }
  }
  if (!haveUid || !haveGid) {
    error = "cannot read the user of process " + pid + " from " + proc + "/status";
    return false;
  }
  s.uid = static_cast<uid_t>(uid);
  s.gid = static_cast<gid_t>(gid);
  s.euid = static_cast<uid_t>(euid);
  s.egid = static_cast<gid_t>(egid);
  s.user = userName(s.uid);
  // Raised by capabilities alone, the kernel's AT_SECURE (in the process's
  // auxiliary vector) is set while every id is the caller's: that cannot
  // be taken on by switching ids.
  std::string auxv = readFileBytes(proc + "/auxv", error);
  for (std::size_t at = 0; error.empty() && at + 2 * sizeof(unsigned long) <= auxv.size(); at += 2 * sizeof(unsigned long)) {
    unsigned long entry[2];
    std::memcpy(entry, auxv.data() + at, sizeof entry);
    if (entry[0] == AT_SECURE && entry[1] != 0 && s.euid == s.uid && s.egid == s.gid) {
      error = "process " + pid + " was given capabilities when it started, which this check cannot take on";
      return false;
    }
  }
  error.clear();
  char cwd[4096];
  ssize_t n = readlink((proc + "/cwd").c_str(), cwd, sizeof cwd - 1);
  if (n > 0) s.cwd.assign(cwd, static_cast<std::size_t>(n));
  // A process in a chroot or a container of its own looks every path up
  // in another tree: the checking process enters it.
  char root[4096];
  ssize_t length = readlink((proc + "/root").c_str(), root, sizeof root - 1);
  struct stat mine, theirs;
  if (length > 0) s.root.assign(root, static_cast<std::size_t>(length));
  s.otherTree = s.root != "/" ||
                (stat((proc + "/ns/mnt").c_str(), &theirs) == 0 && stat("/proc/self/ns/mnt", &mine) == 0 &&
                 (theirs.st_ino != mine.st_ino || theirs.st_dev != mine.st_dev));
  takeEnvironment(block, "process " + pid + "'s environment", s);
  out = s;
  return true;
}

bool becomeSubject(const Subject &s) {
  return setgroups(s.groups.size(), s.groups.empty() ? nullptr : s.groups.data()) == 0 &&
         setresgid(s.gid, s.egid, s.egid) == 0 && setresuid(s.uid, s.euid, s.euid) == 0;
}

std::string mappedAcsLibrary(pid_t pid, const std::string &root) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    std::size_t slash = line.find('/');
    if (slash == std::string::npos || line.find("/libzorvan_db2acs", slash) == std::string::npos) continue;
    std::string path = line.substr(slash);
    return root != "/" && path.compare(0, root.size() + 1, root + "/") == 0 ? path.substr(root.size()) : path;
  }
  return "";
}

Subject subjectFromLogin(const trust::Accounts::User &pw) {
  Subject s;
  s.source = "login";
  s.user = pw.name;
  s.uid = s.euid = pw.uid;
  s.gid = s.egid = pw.gid;
  s.cwd = pw.home;
  s.groups = accounts().groupsOf(pw);

  // A login shell runs the profile, which may print; the marker tells
  // where the environment starts.
  static const char kMarker[] = "ACS-DOCTOR-ENVIRONMENT";
  std::string script = std::string("printf '%s\\0' ") + kMarker + "; exec env -0";
  std::string output, error;
  int status = -1;
  std::string head = std::string(kMarker) + '\0';
  std::size_t at = std::string::npos;
  if (captureLoginShell(s.user, script, output, status, error)) {
    at = output.find(head);
    if (at == std::string::npos || status != 0)
      error = "su - " + s.user + " -c env ended with status " + std::to_string(status) +
              " (shell " + pw.shell + ")";
  }
  if (at == std::string::npos) {
    // Checked all the same, with neither variable set, and said so.
    s.loginError = error;
    takeEnvironment("", s.user + "'s unreadable login environment", s);
  } else {
    takeEnvironment(output.substr(at + head.size()), s.user + "'s login environment", s);
  }
  return s;
}

}  // namespace doctor
