// Test main: every test binary runs inside its own mount namespace with a
// fresh tmpfs on /tmp, so the fixed paths the library uses
// (/tmp/db2acstrace.log, the debug markers) are never the host's.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <errno.h>

#include <string>

namespace {

bool listingOnly(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--gtest_list_tests") == 0) return true;
  return false;
}

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

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!listingOnly(argc, argv)) {
    std::string why;
    if (!isolateTmp(why)) {
      // Refuse rather than run against the host's real /tmp.
      fprintf(stderr, "cannot isolate /tmp (%s); the tests need root and mount namespaces\n",
              why.c_str());
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
