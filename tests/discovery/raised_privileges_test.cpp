// What a process with raised privileges accepts from its environment: a
// registry path only along directories nobody else can change, an
// instance name only when it stays in the instances directory. The kernel's
// AT_SECURE verdict itself is exercised by tests/e2e/setuid_host_test.cpp,
// with a real set-user-ID program; here the checks are called directly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "raised_privileges.h"
#include "test_support.h"

namespace {

using testsupport::makeDirs;

constexpr uid_t kPrivilegedUser = 4242;

// The verdict and reason for path, as the calling process sees it.
std::string verdict(const std::string &path) {
  char reason[zorvan::kReasonMax] = "";
  return zorvan::trustedDirectoryChain(path.c_str(), reason) ? "trusted" : reason;
}

// The verdict in a child whose real and effective users are given: the
// owner rule depends on both.
std::string verdictAs(const std::string &path, uid_t real, uid_t effective) {
  std::string resultFile = "/tmp/verdict";
  int status = testsupport::runInChild([&] {
    if (setresuid(real, effective, 0) != 0) return 125;
    std::string text = verdict(path);
    if (setresuid(0, 0, 0) != 0) return 125;
    testsupport::writeFile(resultFile, text);
    return 0;
  });
  return status == 0 ? testsupport::readFile(resultFile) : "child failed";
}

// The chain lies below /tmp, the test's private tmpfs: closed to others
// for the test, so that what is judged is the directories made here.
class TrustedChain : public testing::Test {
 protected:
  void SetUp() override {
    ZORVAN_SKIP_UNLESS_OTHER_USERS("directories are given to other users");
    ASSERT_EQ(chmod("/tmp", 0755), 0);
    site_ = testsupport::makeTempDir("site");
    registry_ = site_ + "/registry";
    makeDirs(registry_);
  }
  void TearDown() override { chmod("/tmp", 01777); }

  std::string site_, registry_;
};

TEST_F(TrustedChain, RootOwnedChainClosedToOthersIsTrusted) {
  EXPECT_EQ(verdict(registry_), "trusted");
  EXPECT_EQ(verdict("/tmp//" + site_.substr(5) + "//registry/"), "trusted");
  EXPECT_EQ(verdict("/"), "trusted");
}

TEST_F(TrustedChain, NamesTheFirstDirectoryOthersCouldChange) {
  ASSERT_EQ(chmod(site_.c_str(), 0775), 0);
  ASSERT_EQ(chown(site_.c_str(), 0, 4343), 0);
  EXPECT_EQ(verdict(registry_), site_ + " is writable by its group (gid 4343)");
  ASSERT_EQ(chmod(site_.c_str(), 01757), 0);  // sticky does not make it safe here
  EXPECT_EQ(verdict(registry_), site_ + " is writable by others");
  ASSERT_EQ(chmod(site_.c_str(), 0755), 0);
  ASSERT_EQ(chown(registry_.c_str(), kPrivilegedUser, 0), 0);
  EXPECT_EQ(verdict(registry_),
            registry_ + " is owned by uid 4242, neither root nor the effective user");
  ASSERT_EQ(chmod("/tmp", 01777), 0);
  EXPECT_EQ(verdict(registry_), "/tmp is writable by others");
}

TEST_F(TrustedChain, RefusesWhatIsNotAPlainDirectoryChain) {
  EXPECT_EQ(verdict("tmp/site/registry"), "it is not an absolute path");
  EXPECT_EQ(verdict(""), "it is not an absolute path");
  EXPECT_EQ(verdict(site_ + "/missing/registry"),
            site_ + "/missing cannot be examined (errno 2)");
  testsupport::writeFile(site_ + "/file", "");
  EXPECT_EQ(verdict(site_ + "/file"), site_ + "/file is not a directory");
  // A root-owned link to a trusted directory is still refused: the text
  // is judged as written, never resolved.
  const std::string link = site_ + "-link";
  ASSERT_EQ(symlink(site_.c_str(), link.c_str()), 0);
  EXPECT_EQ(verdict(link + "/registry"), link + " is a symbolic link");
  EXPECT_EQ(verdict(std::string(1024, '/')), "it is longer than 1023 characters");
}

// ".." is judged where the kernel goes: the directory it reaches.
TEST_F(TrustedChain, DotDotIsJudgedAsTheDirectoryItReaches) {
  makeDirs(site_ + "/open");
  ASSERT_EQ(chmod((site_ + "/open").c_str(), 0777), 0);
  EXPECT_EQ(verdict(registry_ + "/../open"), registry_ + "/../open is writable by others");
  EXPECT_EQ(verdict(registry_ + "/../registry"), "trusted");
}

// The effective user counts only when the process was raised to it.
TEST_F(TrustedChain, EffectiveUserOwnsOnlyWhenRaisedToIt) {
  ASSERT_EQ(chown(registry_.c_str(), kPrivilegedUser, kPrivilegedUser), 0);
  EXPECT_EQ(verdictAs(registry_, testsupport::kNobody, kPrivilegedUser), "trusted");
  EXPECT_EQ(verdictAs(registry_, kPrivilegedUser, kPrivilegedUser),
            registry_ + " is owned by uid 4242, the user who started the process");
  EXPECT_EQ(verdictAs(registry_, kPrivilegedUser, testsupport::kNobody),
            registry_ + " is owned by uid 4242, neither root nor the effective user");
}

TEST(PlainInstanceName, OnlyANameThatStaysInTheInstancesDirectory) {
  for (const char *name : {"Instance001", ".hidden", "a..b", "...", "Inst 1"})
    EXPECT_TRUE(zorvan::plainInstanceName(name)) << name;
  for (const char *name : {"", ".", "..", "../x", "a/b", "/abs", "Instance001/"})
    EXPECT_FALSE(zorvan::plainInstanceName(name)) << name;
}

}  // namespace
