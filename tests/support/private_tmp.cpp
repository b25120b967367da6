#include "private_tmp.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool fail(std::string &why, const std::string &what) {
  why = what + ": " + strerror(errno);
  return false;
}

bool writeProcFile(const char *path, const std::string &text, std::string &why) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail(why, std::string("opening ") + path);
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  int error = errno;
  close(fd);
  errno = error;
  return written || fail(why, std::string("writing ") + path);
}

// A user namespace in which our own uid and gid are the only ones mapped,
// each to itself: files we create are ours outside too, and everyone
// else's show as the overflow user.
bool enterUserNamespace(std::string &why) {
  uid_t uid = getuid();
  gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
    return fail(why, "unshare(CLONE_NEWUSER | CLONE_NEWNS)");
  // Writing gid_map unprivileged requires setgroups to be denied first.
  return writeProcFile("/proc/self/setgroups", "deny", why) &&
         writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1",
                       why) &&
         writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1",
                       why);
}

// The namespace grants every capability; an ordinary user's tests must
// meet permission bits as that user does (a mode-000 file stays closed).
bool dropCapabilities(std::string &why) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, none) != 0) return fail(why, "capset");
  return true;
}

}  // namespace

bool isolateTmp(std::string &why) {
  bool root = geteuid() == 0;
  if (root) {
    if (unshare(CLONE_NEWNS) != 0) return fail(why, "unshare(CLONE_NEWNS)");
  } else if (!enterUserNamespace(why)) {
    return false;
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return fail(why, "making / private");
  if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) return fail(why, "tmpfs on /tmp");
  return root || dropCapabilities(why);
}

}  // namespace testsupport
