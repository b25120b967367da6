// Test main: every test binary runs inside its own mount namespace with a
// fresh tmpfs on /tmp, so the fixed paths the library uses
// (/tmp/db2acstrace.log, the debug markers) are never the host's. Without
// root that takes a user namespace (see private_tmp.h).
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "private_tmp.h"

namespace {

bool listingOnly(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--gtest_list_tests") == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!listingOnly(argc, argv)) {
    std::string why;
    if (!testsupport::isolateTmp(why)) {
      // Refuse rather than run against the host's real /tmp.
      fprintf(stderr,
              "cannot isolate /tmp (%s); the tests need root or unprivileged user namespaces\n",
              why.c_str());
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
