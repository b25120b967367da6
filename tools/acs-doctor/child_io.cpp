#include "subject.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
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
}  // namespace doctor
