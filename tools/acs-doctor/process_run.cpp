// Running code that another user may have written: a login profile, the
// checking process as that user, a back end under --load. The doctor's
// terminal, descriptors and privileges never reach it: it starts in a
// session of its own with no controlling terminal, stdin from /dev/null,
// stdout and stderr into one pipe read here (bounded), every other
// descriptor closed; and when it ends, everything it started ends with it.
#include "process_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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

// Every descriptor from 3 up closed but those kept, which are close-on-exec.
void closeDescriptors(std::initializer_list<int> keep) {
  std::vector<int> open;
  if (DIR *fds = opendir("/proc/self/fd")) {
    while (const struct dirent *e = readdir(fds))
      if (e->d_name[0] >= '0' && e->d_name[0] <= '9') open.push_back(atoi(e->d_name));
    closedir(fds);
  } else {
    // Without /proc (a plain chroot): every number the limit allows.
    struct rlimit limit = {1024, 1024};
    getrlimit(RLIMIT_NOFILE, &limit);
    for (rlim_t fd = 3; fd < std::min<rlim_t>(limit.rlim_cur, 1 << 16); ++fd) open.push_back(static_cast<int>(fd));
  }
  for (int fd : open)
    if (fd > 2 && std::find(keep.begin(), keep.end(), fd) == keep.end()) close(fd);
  for (int fd : keep)
    if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// The child's side: its own session, the three standard descriptors and
// nothing else of the doctor's but keep and status, its own.
void isolate(int out, int err, int keep, int status) {
  setsid();
  // Without /dev (a plain chroot), a pipe nobody writes reads as empty too.
  int in = open("/dev/null", O_RDONLY), empty[2];
  if (in < 0 && pipe(empty) == 0 && close(empty[1]) == 0) in = empty[0];
  if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
  closeDescriptors({keep, status});
  // Signals the doctor ignores stay ignored across exec otherwise.
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGTTOU}) signal(sig, SIG_DFL);
}

// As the first process of a PID namespace of its own: runs child as its
// only child and, once that has ended, puts its wait status into status
// and ends, and with it, by the kernel's rule, every process left in the
// namespace however it detached itself. A process group is not enough: a
// child can leave it, and its session, with setsid().
[[noreturn]] void reap(const std::function<void()> &child, int status) {
  pid_t pid = fork();
  if (pid == 0) {
    close(status);
    child();
    _exit(127);
  }
  int wstatus = 0x7f00;  // as if it had exited with 127, when it could not start
  while (pid > 0 && waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (write(status, &wstatus, sizeof wstatus) != sizeof wstatus) _exit(126);
  _exit(0);
}

// Forks a child that runs first in a new PID namespace, where this
// process may make one (root, or in a user namespace of its own); -1 with
// errno set when it could not fork; namespaced false where no namespace
// could be made (the child is then the process itself).
pid_t forkIsolated(bool &namespaced) {
  int self = open("/proc/self/ns/pid", O_RDONLY | O_CLOEXEC);
  namespaced = self >= 0 && unshare(CLONE_NEWPID) == 0;
  pid_t pid = fork();
  int forkError = errno;
  // Back into its own namespace, for the children that come later.
  if (namespaced && pid != 0 && setns(self, CLONE_NEWPID) != 0) {
    std::fprintf(stderr, "acs-doctor: cannot return to its own PID namespace: %s\n", strerror(errno));
    std::exit(2);
  }
  if (self >= 0 && pid != 0) close(self);
  errno = forkError;
  return pid;
}

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

bool runChild(const std::function<void()> &child, int seconds, ChildRun &run, std::string &error, int keep,
              std::size_t limit, bool apart) {
  int fds[2], status[2], errs[2] = {-1, -1};
  if (pipe2(fds, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0 || (apart && pipe2(errs, O_CLOEXEC) != 0)) {
    error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  // Nothing buffered is written twice, by parent and child.
  fflush(nullptr);
  bool namespaced = false;
  pid_t pid = forkIsolated(namespaced);
  if (pid == 0) {
    close(fds[0]);
    close(status[0]);
    if (apart) close(errs[0]);
    isolate(fds[1], apart ? errs[1] : fds[1], keep, status[1]);
    if (namespaced) reap(child, status[1]);
    close(status[1]);
    child();
    _exit(127);
  }
  close(fds[1]);
  close(status[1]);
  if (apart) close(errs[1]);
  if (pid < 0) {
    error = std::string("fork: ") + strerror(errno);
    for (int fd : {fds[0], status[0], errs[0]})
      if (fd >= 0) close(fd);
    return false;
  }
  // Read until the child has ended, not to end of file: what it started
  // (a job a profile puts in the background, a helper a back end forks)
  // may hold the pipe open long after. Once it has ended, only what is
  // already in the pipe is taken. Past limit the rest is read and
  // dropped, so that a child that keeps writing neither stalls nor fills
  // the doctor's memory.
  time_t deadline = time(nullptr) + seconds;
  char buffer[4096];
  struct pollfd p[2] = {{fds[0], POLLIN, 0}, {errs[0], POLLIN, 0}};
  std::string *into[2] = {&run.output, &run.errors};
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
    int ready = poll(p, 2, ended ? 0 : kChildPollMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && !ended) continue;
    bool open = false;
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0) continue;
      ssize_t n = (p[i].revents & (POLLIN | POLLHUP)) != 0 ? read(p[i].fd, buffer, sizeof buffer) : -1;
      if (n == 0 || (n < 0 && errno != EINTR && (p[i].revents & (POLLIN | POLLHUP)) != 0)) {
        p[i].fd = -1;
        continue;
      }
      open = true;
      if (n <= 0) continue;
      std::size_t room = limit - std::min(limit, into[i]->size());
      into[i]->append(buffer, std::min(room, static_cast<std::size_t>(n)));
      run.cut = run.cut || static_cast<std::size_t>(n) > room;
    }
    if (!open || (ended && ready == 0)) break;
  }
  close(fds[0]);
  if (apart) close(errs[0]);
  // The child, when the time ran out, and with it its namespace; outside
  // one, whatever it left running in its session's process group, while
  // the unreaped child keeps the group's id from reuse.
  if (!namespaced) kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  run.status = wstatus;
  if (namespaced && !run.timedOut && read(status[0], &wstatus, sizeof wstatus) == sizeof wstatus)
    run.status = wstatus;
  close(status[0]);
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
