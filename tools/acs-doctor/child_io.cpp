#include "subject.h"

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace doctor {

namespace {

// How often a child that keeps quiet is asked whether it has ended.
constexpr int kChildPollMs = 50;

}  // namespace

void writeAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool runChild(const std::function<void(int)> &child, int seconds, ChildRun &run, std::string &error, bool group) {
  int fds[2];
  if (pipe(fds) != 0) {
    error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  // Nothing buffered is written twice, by parent and child.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // Out of the terminal's foreground group, what it writes there must
    // not stop it (stty tostop).
    if (group && (setpgid(0, 0) != 0 || signal(SIGTTOU, SIG_IGN) == SIG_ERR)) _exit(126);
    close(fds[0]);
    child(fds[1]);
    _exit(127);
  }
  close(fds[1]);
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    close(fds[0]);
    return false;
  }
  if (group) setpgid(pid, pid);
  // Read until the child has ended, not to end of file: what it started
  // (a job a profile puts in the background, a helper a back end forks)
  // may hold the pipe open long after. Once it has ended, only what is
  // already in the pipe is taken.
  time_t deadline = time(nullptr) + seconds;
  char buffer[4096];
  for (bool ended = false;;) {
    siginfo_t info = {};
    ended = ended || (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                      info.si_pid == pid);
    // Once it has ended, what it wrote is read even past the limit; a job
    // it left that keeps writing is given a second more.
    if (seconds >= 0 && time(nullptr) >= deadline + (ended ? 1 : 0)) {
      run.timedOut = !ended;
      break;
    }
    struct pollfd p = {fds[0], POLLIN, 0};
    int ready = poll(&p, 1, ended ? 0 : kChildPollMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && !ended) continue;
    ssize_t n = ready > 0 ? read(fds[0], buffer, sizeof buffer) : 0;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  // The child, when the time ran out; with its group, whatever it left
  // running, while the unreaped child keeps the group's id from reuse.
  if (run.timedOut) kill(pid, SIGKILL);
  if (group) kill(-pid, SIGKILL);
  while (waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

std::vector<gid_t> ownGroups() {
  int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  if (count > 0) groups.resize(static_cast<std::size_t>(std::max(0, getgroups(count, groups.data()))));
  return groups;
}

std::vector<std::string> namesIn(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const struct dirent *e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFileBytes(const std::string &path, std::string &error, off_t from) {
  std::ifstream in(path, std::ios::binary);
  if (!in) error = strerror(errno);
  if (from != 0) in.seekg(from);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace doctor
