#include "private_tmp.h"

#include "zorvan/discovery.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

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

// The host's default registry, where one is installed, hidden: /etc
// becomes a tmpfs of links to the host's entries but that one, which stay
// reachable below the private /tmp. No case then sees the host's
// installation unless it lays one out itself; nothing of the host's /etc
// is written either.
bool hideDefaultRegistry(bool root, std::string &why) {
  const std::string registry = ZORVAN_DEFAULT_REGISTRY;
  const std::string etc = registry.substr(0, registry.rfind('/')), hidden = registry.substr(registry.rfind('/') + 1);
  const std::string host = "/tmp/.host" + etc;
  struct stat st;
  if (lstat(registry.c_str(), &st) != 0) return true;
  if (mkdir("/tmp/.host", 0755) != 0 || mkdir(host.c_str(), 0755) != 0 ||
      mount(etc.c_str(), host.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      mount("tmpfs", etc.c_str(), "tmpfs", 0, "mode=0755") != 0)
    return fail(why, "hiding " + registry);
  // Files are copied as root (the account tools refuse a link to passwd
  // and replace the file, which a mount point forbids); in a user namespace,
  // where no copy can be given to root, each is mounted over an empty one.
  // The rest is linked.
  DIR *dir = opendir(host.c_str());
  bool done = dir != nullptr;
  while (const struct dirent *e = done ? readdir(dir) : nullptr) {
    std::string name = e->d_name, from = host + "/" + name, to = etc + "/" + name;
    if (name == "." || name == ".." || name == hidden || lstat(from.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      done = symlink(from.c_str(), to.c_str()) == 0;
    } else if (!root) {
      int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      done = fd >= 0 && close(fd) == 0 && mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
    } else {
      std::ifstream in(from, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      done = static_cast<bool>(std::ofstream(to, std::ios::binary).write(bytes.data(), bytes.size())) &&
             chmod(to.c_str(), st.st_mode & 07777) == 0 && lchown(to.c_str(), st.st_uid, st.st_gid) == 0;
    }
    if (!done) why = "copying " + from;
  }
  if (dir != nullptr) closedir(dir);
  return done || fail(why, why);
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
  if (!hideDefaultRegistry(root, why)) return false;
  return root || dropCapabilities(why);
}

}  // namespace testsupport
