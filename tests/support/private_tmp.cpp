#include "private_tmp.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>

namespace testsupport {

bool isolateTmp(std::string &why) {
  if (unshare(CLONE_NEWNS) != 0) {
    why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
    return false;
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    why = std::string("making / private: ") + strerror(errno);
    return false;
  }
  if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
    why = std::string("tmpfs on /tmp: ") + strerror(errno);
    return false;
  }
  return true;
}

}  // namespace testsupport
