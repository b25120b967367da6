// Test main: every test case runs in a process of its own, inside its own
// mount namespace with a fresh tmpfs on /tmp and the host's default
// registry hidden, so the fixed paths the library uses (/tmp/db2acstrace.log,
// the debug markers, /etc/OstravaneRegistry) are never the host's and no
// case sees what another left. Without root that takes a user namespace
// (see private_tmp.h). The library's state lasts for its process, so a
// binary run whole starts one process per case itself, as CTest does.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "private_tmp.h"

namespace {

const char kOneCase[] = "ZORVAN_TEST_ONE_CASE";

bool listingOnly(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--gtest_list_tests") == 0) return true;
  return false;
}

// Whether name matches one of the ':'-separated patterns.
bool matches(const std::string &patterns, const std::string &name) {
  for (std::size_t at = 0, end = 0; at <= patterns.size(); at = end + 1) {
    end = std::min(patterns.find(':', at), patterns.size());
    if (fnmatch(patterns.substr(at, end - at).c_str(), name.c_str(), 0) == 0) return true;
  }
  return false;
}

// The full names of the cases this run would run, as gtest's filter
// ("positive[-negative]") picks them; disabled ones left out.
std::vector<std::string> selectedCases() {
  std::string filter = testing::GTEST_FLAG(filter);  // the spelling every gtest since 1.10 knows
  std::size_t minus = filter.find('-');
  std::string positive = minus == std::string::npos ? filter : filter.substr(0, minus);
  std::string negative = minus == std::string::npos ? "" : filter.substr(minus + 1);
  if (positive.empty()) positive = "*";
  std::vector<std::string> names;
  const testing::UnitTest &unit = *testing::UnitTest::GetInstance();
  for (int i = 0; i < unit.total_test_suite_count(); ++i)
    for (int j = 0; j < unit.GetTestSuite(i)->total_test_count(); ++j) {
      const testing::TestInfo &test = *unit.GetTestSuite(i)->GetTestInfo(j);
      std::string name = std::string(test.test_suite_name()) + "." + test.name();
      if (name.find("DISABLED_") == std::string::npos && matches(positive, name) &&
          (negative.empty() || !matches(negative, name)))
        names.push_back(name);
    }
  return names;
}

// A case run apart that skipped says so with this status to its parent.
constexpr int kSkippedStatus = 77;

// Runs each case in a child of its own; the exit status is 1 when one failed.
int runEachApart(const char *self, const std::vector<std::string> &cases) {
  int failed = 0, skipped = 0;
  for (const std::string &name : cases) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      setenv(kOneCase, "1", 1);
      std::string filter = "--gtest_filter=" + name;
      execl(self, self, filter.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    int status = 0;
    bool ended = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    bool skip = ended && WEXITSTATUS(status) == kSkippedStatus;
    bool passed = ended && (WEXITSTATUS(status) == 0 || skip);
    skipped += skip ? 1 : 0;
    failed += passed ? 0 : 1;
    if (!passed) fprintf(stderr, "[  FAILED  ] %s, in a process of its own\n", name.c_str());
  }
  printf("%zu cases, each in a process of its own: %zu passed, %d failed, %d skipped\n", cases.size(),
         cases.size() - failed - skipped, failed, skipped);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  bool listing = listingOnly(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  if (listing) return RUN_ALL_TESTS();
  std::vector<std::string> cases = selectedCases();
  if (getenv(kOneCase) == nullptr && cases.size() > 1) return runEachApart(argv[0], cases);
  std::string why;
  if (!testsupport::isolateTmp(why)) {
    // Refuse rather than run against the host's real /tmp.
    fprintf(stderr, "cannot isolate /tmp (%s); the tests need root or unprivileged user namespaces\n", why.c_str());
    return 1;
  }
  int result = RUN_ALL_TESTS();
  bool skippedApart = getenv(kOneCase) != nullptr && testing::UnitTest::GetInstance()->skipped_test_count() > 0;
  return result == 0 && skippedApart ? kSkippedStatus : result;
}
