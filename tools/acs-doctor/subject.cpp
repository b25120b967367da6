#include "subject.h"

#include <grp.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "process_run.h"

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
    Variable v{name, false, "", ""};
    std::string head = std::string(name) + "=";
    for (const std::string &entry : s.environment)
      if (entry.compare(0, head.size(), head) == 0) {
        v.set = true;
        v.value = entry.substr(head.size());
      }
    v.origin = (v.set ? "from " : "unset in ") + where;
    auto set = s.login.settings.find(name);
    if (set != s.login.settings.end())
      v.origin += (v.set ? ", set in " : ", unset after ") + set->second.file + " line " + std::to_string(set->second.line);
    s.variables.push_back(v);
  }
}

}  // namespace

const trust::Accounts &accounts() {
  static const trust::Accounts snapshot = trust::Accounts::fromSystem();
  return snapshot;
}

std::string userName(uid_t uid) { return accounts().userName(uid); }

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

Subject subjectFromLogin(const trust::Accounts::User &user, bool interactive) {
  Subject s;
  s.source = "login";
  s.user = user.name;
  s.uid = s.euid = user.uid;
  s.gid = s.egid = user.gid;
  s.cwd = user.home;
  s.groups = accounts().groupsOf(user);
  s.login = runLogin(user, interactive);
  std::string block;
  for (const std::string &entry : s.login.environment) block += entry + '\0';
  s.environment.clear();
  // Checked all the same, with no variable set, when it cannot be read,
  // and said so.
  takeEnvironment(block, s.login.error.empty() ? s.user + (interactive ? "'s interactive" : "'s") + " login environment"
                                               : s.user + "'s unreadable login environment",
                  s);
  return s;
}

}  // namespace doctor
