#include "checked_run.h"

#include <errno.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backend_load.h"
#include "child_io.h"
#include "discovery_run.h"
#include "interpret.h"
#include "wire.h"

namespace doctor {

namespace {

bool becomeSubject(const Subject &s, std::string &error) {
  if (s.wholeEnvironment) {
    clearenv();
    for (const std::string &entry : s.environment) {
      std::size_t equals = entry.find('=');
      setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
  }
  for (const SteeringVariable &v : s.variables) {
    if (v.set)
      setenv(v.name.c_str(), v.value.c_str(), 1);
    else
      unsetenv(v.name.c_str());
  }
  if (!s.switchUser) return true;
  if (setgroups(s.groups.size(), s.groups.empty() ? nullptr : s.groups.data()) != 0 ||
      setgid(s.gid) != 0 || setuid(s.uid) != 0 || getuid() != s.uid) {
    error = "cannot switch to " + s.user + ": " + strerror(errno);
    return false;
  }
  return true;
}

// The first directory above path that the current user may not search.
void findBlockedDir(const std::string &path, DiscoveryRun &run) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (access(dir.c_str(), X_OK) == 0 || errno != EACCES) continue;
    struct stat st;
    run.blockedDir = dir;
    if (stat(dir.c_str(), &st) == 0) {
      run.blockedOwner = st.st_uid;
      run.blockedMode = st.st_mode & 07777;
    }
    return;
  }
}

void probeBlocked(const Facts &f, DiscoveryRun &run) {
  if (f.scanRan && !f.scanOpened && f.scanOpenErrno == EACCES)
    findBlockedDir(f.instancesDir + "/", run);
  else if (run.propertiesErrno == EACCES)
    findBlockedDir(f.propertiesPath, run);
  else if (run.libraryErrno == EACCES)
    findBlockedDir(f.libraryPath, run);
}

[[noreturn]] void childBody(int fd, const Subject &s, const db2ACS_CB *cb, bool load) {
  std::string error;
  if (!becomeSubject(s, error)) {
    writeAll(fd, "E" + error);
    _exit(3);
  }
  CheckResult result;
  if (!s.cwd.empty() && chdir(s.cwd.c_str()) != 0)
    result.cwdError = s.cwd + ": " + strerror(errno);
  result.run = runDiscovery(cb);
  Facts facts = interpret(result.run);
  probeBlocked(facts, result.run);
  if (load && !facts.libraryPath.empty()) result.load = loadBackend(facts.libraryPath);
  Wire out;
  out.put(encodeRun(result.run));
  encodeLoad(out, result.load);
  out.put(result.cwdError);
  writeAll(fd, "R" + out.bytes());
  _exit(0);
}

}  // namespace

bool runCheckAs(const Subject &subject, const db2ACS_CB *cb, bool load, CheckResult &out,
                std::string &error) {
  int fds[2];
  pid_t pid = 0;
  if (!forkWithPipe(fds, pid, error)) return false;
  if (pid == 0) childBody(fds[1], subject, cb, load);
  std::string bytes = readAll(fds[0]);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!bytes.empty() && bytes[0] == 'E') {
    error = bytes.substr(1);
    return false;
  }
  WireReader in(bytes.empty() ? bytes : bytes.substr(1));
  std::string run;
  bool ok = !bytes.empty() && bytes[0] == 'R' && in.get(run) && decodeRun(run, out.run) &&
            decodeLoad(in, out.load) && in.get(out.cwdError) && in.done();
  if (!ok) {
    error = "the check as " + subject.user + " ended without a result" +
            (WIFSIGNALED(status) ? " (killed by signal " + std::to_string(WTERMSIG(status)) +
                                       ", perhaps in the back end's constructors)"
                                 : "");
    return false;
  }
  return true;
}

}  // namespace doctor
