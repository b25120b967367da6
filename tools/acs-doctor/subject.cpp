#include "subject.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "child_io.h"

namespace doctor {

namespace {

const char *const kSteering[] = {"QXREG", "ZORVAN_INST"};

// A process's or a login's environment, taken over whole.
void takeEnvironment(const std::string &block, Subject &s) {
  std::size_t at = 0;
  while (at < block.size()) {
    std::size_t end = block.find('\0', at);
    if (end == std::string::npos) end = block.size();
    std::string entry = block.substr(at, end - at);
    if (entry.find('=') != std::string::npos && entry[0] != '=') s.environment.push_back(entry);
    at = end + 1;
  }
}

// Fills the steering variables from a NUL-separated environment block.
void takeVariables(const std::string &block, const std::string &where, Subject &s) {
  for (const char *name : kSteering) {
    SteeringVariable v;
    v.name = name;
    std::string head = std::string(name) + "=";
    std::size_t at = 0;
    while (at < block.size()) {
      std::size_t end = block.find('\0', at);
      if (end == std::string::npos) end = block.size();
      if (block.compare(at, head.size(), head) == 0) {
        v.set = true;
        v.value = block.substr(at + head.size(), end - at - head.size());
      }
      at = end + 1;
    }
    v.origin = (v.set ? "from " : "unset in ") + where;
    s.variables.push_back(v);
  }
}

std::vector<gid_t> groupsOf(const struct passwd *pw) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

// "Uid:\t1000\t1000\t1000\t1000" -> the first (real) id.
bool firstId(const std::string &line, const char *head, unsigned long &out) {
  if (line.compare(0, std::strlen(head), head) != 0) return false;
  std::istringstream in(line.substr(std::strlen(head)));
  return static_cast<bool>(in >> out);
}

}  // namespace

Subject subjectFromSelf() {
  Subject s;
  s.source = "self";
  s.uid = getuid();
  s.gid = getgid();
  s.user = userName(s.uid);
  int count = getgroups(0, nullptr);
  if (count > 0) {
    s.groups.resize(static_cast<std::size_t>(count));
    count = getgroups(count, s.groups.data());
    s.groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  }
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) s.cwd = cwd;
  std::string block;
  for (char **entry = environ; *entry != nullptr; ++entry) block += std::string(*entry) + '\0';
  takeVariables(block, "this shell's environment", s);
  takeEnvironment(block, s);
  return s;
}

bool subjectFromPid(const std::string &pid, Subject &out, std::string &error) {
  if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
    error = "--pid " + pid + ": not a process id";
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
  s.switchUser = true;
  unsigned long uid = 0, gid = 0;
  bool haveUid = false, haveGid = false;
  std::string line;
  while (std::getline(status, line)) {
    unsigned long id = 0;
    if (firstId(line, "Uid:", id)) haveUid = true, uid = id;
    if (firstId(line, "Gid:", id)) haveGid = true, gid = id;
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
  s.user = userName(s.uid);
  char cwd[4096];
  ssize_t n = readlink((proc + "/cwd").c_str(), cwd, sizeof cwd - 1);
  if (n > 0) s.cwd.assign(cwd, static_cast<std::size_t>(n));
  takeVariables(block, "process " + pid + "'s environment", s);
  takeEnvironment(block, s);
  out = s;
  return true;
}

bool subjectFromLogin(const std::string &user, Subject &out, std::string &error) {
  const struct passwd *pw = getpwnam(user.c_str());
  if (pw == nullptr && !user.empty() && user.find_first_not_of("0123456789") == std::string::npos)
    pw = getpwuid(static_cast<uid_t>(strtoul(user.c_str(), nullptr, 10)));
  if (pw == nullptr) {
    error = "no such user: " + user;
    return false;
  }
  Subject s;
  s.source = "login";
  s.switchUser = true;
  s.user = pw->pw_name;
  s.uid = pw->pw_uid;
  s.gid = pw->pw_gid;
  s.cwd = pw->pw_dir;
  s.groups = groupsOf(pw);

  // A login shell runs the profile, which may print; the marker tells
  // where the environment starts.
  static const char kMarker[] = "ACS-DOCTOR-ENVIRONMENT";
  std::string script = std::string("printf '%s\\0' ") + kMarker + "; exec env -0";
  std::string output;
  int status = -1;
  std::string head = std::string(kMarker) + '\0';
  std::size_t at = std::string::npos;
  if (captureLoginShell(s.user, script, output, status, error)) {
    at = output.find(head);
    if (at == std::string::npos || status != 0)
      error = "su - " + s.user + " -c env ended with status " + std::to_string(status) +
              " (shell " + pw->pw_shell + ")";
  }
  if (at == std::string::npos) {
    // Checked all the same, with neither variable set, and said so.
    s.loginError = error;
    error.clear();
    takeVariables("", s.user + "'s unreadable login environment", s);
  } else {
    takeVariables(output.substr(at + head.size()), s.user + "'s login environment", s);
    takeEnvironment(output.substr(at + head.size()), s);
  }
  out = s;
  return true;
}

}  // namespace doctor
