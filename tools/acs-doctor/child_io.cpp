#include "child_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace doctor {

void writeAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

namespace {

constexpr int kLoginShellSeconds = 20;

// Reads to end of file; false when that did not come within the time
// (seconds < 0: no limit).
bool readUntil(int fd, std::string &bytes, int seconds) {
  time_t deadline = time(nullptr) + seconds;
  char buffer[4096];
  for (;;) {
    long left = static_cast<long>(deadline - time(nullptr));
    if (seconds >= 0 && left <= 0) return false;
    struct pollfd p = {fd, POLLIN, 0};
    int ready = poll(&p, 1, seconds < 0 ? -1 : static_cast<int>(left * 1000));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string readAll(int fd) {
  std::string bytes;
  readUntil(fd, bytes, -1);
  return bytes;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::vector<gid_t> ownGroups() {
  int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  if (count > 0) groups.resize(static_cast<std::size_t>(std::max(0, getgroups(count, groups.data()))));
  return groups;
}

std::string readFileBytes(const std::string &path, std::string &error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = strerror(errno);
    return "";
  }
  std::string bytes = readAll(fd);
  close(fd);
  return bytes;
}

bool forkWithPipe(int fds[2], pid_t &pid, std::string &error) {
  if (pipe(fds) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  // Nothing buffered is written twice, by parent and child.
  fflush(nullptr);
  pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0)
    close(fds[0]);
  else
    close(fds[1]);
  return true;
}

bool captureLoginShell(const std::string &user, const std::string &script, std::string &output,
                       int &status, std::string &error) {
  int fds[2];
  pid_t pid = 0;
  if (!forkWithPipe(fds, pid, error)) return false;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    dup2(fds[1], 1);
    close(fds[1]);
    // One's own login needs no switch: a login shell with a clean
    // environment, as su - starts it.
    const struct passwd *pw = getpwnam(user.c_str());
    if (pw != nullptr && getuid() != 0 && pw->pw_uid == getuid()) {
      std::string home = std::string("HOME=") + pw->pw_dir, shell = std::string("SHELL=") + pw->pw_shell;
      std::string name = "USER=" + user, logname = "LOGNAME=" + user;
      char *envp[] = {&home[0], &shell[0], &name[0], &logname[0], const_cast<char *>("PATH=/usr/bin:/bin"), nullptr};
      if (chdir(pw->pw_dir) != 0) {
      }
      execle(pw->pw_shell, "-sh", "-c", script.c_str(), static_cast<char *>(nullptr), envp);
      _exit(127);
    }
    // runuser is su for root without authentication; older systems lack it.
    const char *const runusers[] = {"/usr/sbin/runuser", "/sbin/runuser"};
    for (const char *runuser : runusers)
      execl(runuser, "runuser", "-l", user.c_str(), "-c", script.c_str(), static_cast<char *>(nullptr));
    const char *const sus[] = {"/bin/su", "/usr/bin/su"};
    for (const char *su : sus)
      execl(su, "su", "-", user.c_str(), "-c", script.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  // A profile that waits for input or hangs must not hang the doctor.
  bool timedOut = !readUntil(fds[0], output, kLoginShellSeconds);
  close(fds[0]);
  if (timedOut) kill(pid, SIGKILL);
  int raw = waitFor(pid);
  if (timedOut) {
    error = "the login shell did not finish within " + std::to_string(kLoginShellSeconds) + " s";
    return false;
  }
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (status == 127) {
    error = "neither runuser nor su could be started";
    return false;
  }
  return true;
}

}  // namespace doctor
