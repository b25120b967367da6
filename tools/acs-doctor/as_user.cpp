#include "as_user.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "discovery_run.h"

namespace doctor {

namespace {

void writeAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::string readAll(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

[[noreturn]] void childBody(int fd, const Account &account, const db2ACS_CB *cb,
                            const SavedInstanceVariable &saved) {
  if (initgroups(account.name.c_str(), account.gid) != 0 || setgid(account.gid) != 0 ||
      setuid(account.uid) != 0 || getuid() != account.uid) {
    writeAll(fd, std::string("E") + "cannot switch to " + account.name + ": " + strerror(errno));
    _exit(3);
  }
  if (saved.set)
    setenv("ZORVAN_INST", saved.value.c_str(), 1);
  else
    unsetenv("ZORVAN_INST");
  writeAll(fd, "R" + encodeRun(runDiscovery(cb)));
  _exit(0);
}

}  // namespace

bool lookupAccount(const std::string &nameOrUid, Account &out) {
  const struct passwd *pw = getpwnam(nameOrUid.c_str());
  if (pw == nullptr && !nameOrUid.empty() &&
      nameOrUid.find_first_not_of("0123456789") == std::string::npos)
    pw = getpwuid(static_cast<uid_t>(strtoul(nameOrUid.c_str(), nullptr, 10)));
  if (pw == nullptr) return false;
  out.name = pw->pw_name;
  out.uid = pw->pw_uid;
  out.gid = pw->pw_gid;
  return true;
}

bool runDiscoveryAs(const Account &account, const db2ACS_CB *cb,
                    const SavedInstanceVariable &saved, DiscoveryRun &out, std::string &error) {
  int fds[2];
  if (pipe(fds) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    childBody(fds[1], account, cb, saved);
  }
  close(fds[1]);
  std::string bytes = readAll(fds[0]);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!bytes.empty() && bytes[0] == 'E') {
    error = bytes.substr(1);
    return false;
  }
  if (bytes.empty() || bytes[0] != 'R' || !decodeRun(bytes.substr(1), out)) {
    error = "the check as " + account.name + " ended without a result";
    return false;
  }
  return true;
}

}  // namespace doctor
