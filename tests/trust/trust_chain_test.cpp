// Who besides root and the instance owner can change what DB2 runs: one
// installation per test below the private /tmp, given away and opened up
// one way at a time. The users and groups come from passwd- and
// group-format files the test writes, so group membership is known
// without touching the system's own databases; the owners are numeric ids
// that need no account on the host.
#include "trust_chain.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

using testsupport::makeDirs;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

constexpr uid_t kDb2Inst = 5001, kAlice = 5002, kBob = 5003, kCarol = 5004;
constexpr gid_t kStaff = 50, kUsers = 100, kDb2Group = 5100;

const char kPasswd[] =
    "root:x:0:0:root:/root:/bin/sh\n"
    "db2inst1:x:5001:5001::/home/db2inst1:/bin/sh\n"
    "alice:x:5002:5002::/home/alice:/bin/sh\n"
    "bob:x:5003:100::/home/bob:/bin/sh\n"
    "carol:x:5004:5004::/home/carol:/bin/sh\n";
// staff lists other users; users has bob as a primary member only;
// db2grp has none but root and the instance owner.
const char kGroup[] =
    "root:x:0:\n"
    "staff:x:50:alice,bob,db2inst1\n"
    "users:x:100:\n"
    "db2inst1:x:5001:\n"
    "db2grp:x:5100:db2inst1,root\n";

void chownOrFail(const std::string &path, uid_t uid, gid_t gid) {
  ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path;
}

void chmodOrFail(const std::string &path, mode_t mode) {
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

class TrustChainTest : public testing::Test {
 protected:
  void SetUp() override {
    ZORVAN_SKIP_UNLESS_OTHER_USERS("files are given to other users");
    std::string accounts = testsupport::makeTempDir("accounts");
    writeFile(accounts + "/passwd", kPasswd);
    writeFile(accounts + "/group", kGroup);
    accounts_ = trust::Accounts::fromFiles(accounts + "/passwd", accounts + "/group");

    root_ = testsupport::makeTempDir("inst");
    library_ = root_ + "/lib/libzorvan_db2acs.so";
    registry_ = root_ + "/registry";
    home_ = root_ + "/home";
    layOut(registry_, home_);
  }

  // A registry with Instance001 naming home, and home's back end.
  void layOut(const std::string &registry, const std::string &home) {
    makeDirs(root_ + "/lib");
    writeFile(library_, "library", 0755);
    makeDirs(registry + "/Zorvan/Instance001/Base");
    writeFile(properties(registry), "dZORVANHOME " + home + "\n");
    makeDirs(home + "/Base");
    writeFile(home + "/Base/libqxacsint.so", "back end", 0755);
  }

  static std::string properties(const std::string &registry) {
    return registry + "/Zorvan/Instance001/Base/.properties";
  }

  trust::TrustChain check(const std::string &registry) const {
    return trust::checkTrustChain(
        {kDb2Inst, "db2inst1"},
        trust::installationPaths(library_, registry, "Instance001", home_), accounts_);
  }
  trust::TrustChain check() const { return check(registry_); }

  // "path: who" for each finding.
  static Lines summary(const trust::TrustChain &chain) {
    Lines lines;
    for (const trust::Entry &entry : chain.findings())
      lines.push_back(entry.path + ": " + entry.who);
    return lines;
  }

  // A finding's fixes as printed, one line each.
  static std::string fixesOf(const trust::Entry &entry) {
    std::string lines;
    for (const fix::Fix &f : entry.fixes) lines += (lines.empty() ? "" : "\n") + fix::render(f);
    return lines;
  }

  // Pastes every fix into a shell, as root would.
  static void applyFixes(const trust::TrustChain &chain) {
    for (const trust::Entry &entry : chain.findings())
      for (const fix::Fix &f : entry.fixes) {
        std::string line = fix::render(f);
        ASSERT_EQ(line.compare(0, 9, "As root: "), 0) << line;
        ASSERT_EQ(system(line.substr(9).c_str()), 0) << line;
      }
  }

  static const trust::Entry *entryOf(const trust::TrustChain &chain, const std::string &path) {
    for (const trust::Entry &entry : chain.chain)
      if (entry.path == path) return &entry;
    return nullptr;
  }

  trust::Accounts accounts_;
  std::string root_, library_, registry_, home_;
};

TEST_F(TrustChainTest, RootOwnedInstallationIsHealthyAndEveryPathIsInTheChain) {
  trust::TrustChain chain = check();
  EXPECT_EQ(summary(chain), Lines{});
  EXPECT_EQ(trust::headline(chain.findings()), "");

  Lines roles;
  for (const trust::Entry &entry : chain.chain) roles.push_back(entry.path + " " + entry.role);
  EXPECT_EQ(
      roles,
      (Lines{
          "/ on the path to the library DB2 loads", "/tmp on the path to the library DB2 loads",
          root_ + " on the path to the library DB2 loads",
          root_ + "/lib on the path to the library DB2 loads", library_ + " the library DB2 loads",
          registry_ + " the registry directory", registry_ + "/Zorvan the instances directory",
          registry_ + "/Zorvan/Instance001 the instance directory",
          registry_ + "/Zorvan/Instance001/Base the instance's Base directory",
          properties(registry_) + " the instance's .properties", home_ + " the home directory",
          home_ + "/Base the home's Base directory", home_ + "/Base/libqxacsint.so the back end"}));
  // The world-writable /tmp is sticky and what lies in it is root's.
  const trust::Entry *tmp = entryOf(chain, "/tmp");
  ASSERT_NE(tmp, nullptr);
  EXPECT_EQ(tmp->mode, "1777");
  EXPECT_EQ(tmp->verdict, "ok: others may add entries, but replace only their own");
}

TEST_F(TrustChainTest, InstanceOwnerOwningTheInstallationIsFine) {
  ASSERT_EQ(system(("chown -R 5001:5001 '" + root_ + "'").c_str()), 0);
  EXPECT_EQ(summary(check()), Lines{});
}

TEST_F(TrustChainTest, EachWriterIsNamedWithAFixThatPastes) {
  const std::string props = properties(registry_);
  chmodOrFail(props, 0666);
  chownOrFail(home_ + "/Base", 0, kStaff);
  chmodOrFail(home_ + "/Base", 0775);
  // Writable by a group with no one else in it: fine.
  chownOrFail(registry_ + "/Zorvan/Instance001/Base", 0, kDb2Group);
  chmodOrFail(registry_ + "/Zorvan/Instance001/Base", 0775);
  chownOrFail(home_ + "/Base/libqxacsint.so", kAlice, kAlice);

  trust::TrustChain chain = check();
  EXPECT_EQ(summary(chain), (Lines{props + ": everyone", home_ + "/Base: group staff (alice, bob)",
                                   home_ + "/Base/libqxacsint.so: its owner alice"}));
  std::vector<trust::Entry> findings = chain.findings();
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_EQ(findings[0].role, "the instance's .properties");
  EXPECT_EQ(findings[0].ownerName, "root");
  EXPECT_EQ(findings[0].mode, "0666");
  EXPECT_EQ(fixesOf(findings[0]), "As root: chmod go-w " + props);
  EXPECT_EQ(findings[0].verdict, "everyone can change it");
  EXPECT_EQ(findings[1].groupName, "staff");
  EXPECT_EQ(findings[2].ownerName, "alice");
  EXPECT_EQ(fixesOf(findings[2]), "As root: chown root:root " + home_ + "/Base/libqxacsint.so");
  EXPECT_EQ(trust::headline(findings),
            "group staff (alice, bob), alice and everyone can change what DB2 runs");

  applyFixes(chain);
  EXPECT_EQ(summary(check()), Lines{});
}

// In a user namespace an owner outside it shows as the overflow id: that
// id stands for no one, so it is no writer, and the entry says it was not
// judged. An owner inside it is judged as ever.
TEST_F(TrustChainTest, OwnerOutsideTheUserNamespaceIsNotJudged) {
  chownOrFail(home_, kAlice, 0);
  chownOrFail(home_ + "/Base/libqxacsint.so", kBob, 0);
  // Every id is inside but alice's.
  accounts_.uidRanges = {{0, kAlice}, {kAlice + 1, 100000}};
  trust::TrustChain chain = check();
  EXPECT_EQ(summary(chain), Lines{home_ + "/Base/libqxacsint.so: its owner bob"});
  bool seen = false;
  for (const trust::Entry &entry : chain.chain)
    if (entry.path == home_) {
      seen = true;
      EXPECT_TRUE(entry.outside);
      EXPECT_EQ(entry.verdict, "not judged: its owner or group is outside this user namespace");
    }
  EXPECT_TRUE(seen);
}

TEST_F(TrustChainTest, DirectoriesAboveTheRegistryCount) {
  const std::string opt = root_ + "/opt", registry = opt + "/site/registry";
  layOut(registry, home_);
  chmodOrFail(opt, 0777);
  // Group-writable, and bob's primary group: bob can change it.
  chownOrFail(opt + "/site", 0, kUsers);
  chmodOrFail(opt + "/site", 0770);

  trust::TrustChain chain = check(registry);
  EXPECT_EQ(summary(chain), (Lines{opt + ": everyone", opt + "/site: group users (bob)"}));
  EXPECT_EQ(chain.findings()[0].role, "on the path to the registry directory");
  applyFixes(chain);
  EXPECT_EQ(summary(check(registry)), Lines{});
}

// A sticky world-writable directory above: what others could replace is
// what they own, links included; what is missing they could create.
TEST_F(TrustChainTest, StickyDirectoryCountsOnlyForEntriesOthersCouldReplace) {
  const std::string shared = root_ + "/shared", registry = shared + "/registry";
  makeDirs(shared);
  chmodOrFail(shared, 01777);
  layOut(registry, home_);
  EXPECT_EQ(summary(check(registry)), Lines{});

  chownOrFail(registry, kBob, kBob);
  const std::string link = shared + "/reglink";
  ASSERT_EQ(symlink(registry_.c_str(), link.c_str()), 0);
  chownOrFail(link, kAlice, kAlice);
  EXPECT_EQ(summary(check(registry)), Lines{registry + ": its owner bob"});
  trust::TrustChain viaLink = check(link);
  EXPECT_EQ(summary(viaLink), Lines{link + ": its owner alice"});
  EXPECT_EQ(fixesOf(viaLink.findings()[0]), "As root: chown -h root:root " + link);

  const std::string missing = shared + "/not-yet";
  trust::TrustChain unclaimed = check(missing);
  EXPECT_EQ(summary(unclaimed), Lines{missing + ": everyone can create it"});
  EXPECT_EQ(fixesOf(unclaimed.findings()[0]), "As root: install -d -o root -g root -m 0755 " + missing);
  applyFixes(unclaimed);
  applyFixes(viaLink);
  EXPECT_EQ(summary(check(link)), Lines{});
}

// A link is judged in its directory, and its target's whole way counts.
TEST_F(TrustChainTest, LinkLeadsTheCheckThroughItsTarget) {
  const std::string open = root_ + "/open", link = root_ + "/reglink";
  layOut(open + "/registry", home_);
  chmodOrFail(open, 0777);
  ASSERT_EQ(symlink("open/registry", link.c_str()), 0);
  // Nobody can change a link in place: its owner counts only in a sticky
  // directory, and root_ is not one.
  chownOrFail(link, kAlice, kAlice);

  trust::TrustChain chain = check(link);
  EXPECT_EQ(summary(chain), Lines{open + ": everyone"});
  const trust::Entry *asWritten = entryOf(chain, link);
  const trust::Entry *target = entryOf(chain, open + "/registry");
  ASSERT_NE(asWritten, nullptr);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(asWritten->kind, "symbolic link");
  EXPECT_EQ(asWritten->role, "the registry directory");
  EXPECT_EQ(target->role, "the registry directory");
}

// Sets an access list in the kernel's form (entries of tag, permissions,
// id); 0 or the error number.
int setAccessList(const std::string &path, const std::vector<std::vector<uint32_t>> &entries) {
  std::string blob;
  auto put = [&blob](uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) blob += static_cast<char>((value >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const std::vector<uint32_t> &e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  return setxattr(path.c_str(), "system.posix_acl_access", blob.data(), blob.size(), 0) == 0
             ? 0
             : errno;
}

// The group bits of a path with an access list are its mask: carol,
// named in the list, can write although the owning group has no one else.
TEST_F(TrustChainTest, AccessListNamesWhoItLetsWrite) {
  const std::string base = home_ + "/Base";
  chownOrFail(base, 0, kDb2Group);
  constexpr uint32_t kAny = 0xffffffff;
  int error = setAccessList(base, {{0x01, 7, kAny},
                                   {0x02, 7, kCarol},
                                   {0x02, 7, kDb2Inst},
                                   {0x04, 7, kAny},
                                   {0x10, 7, kAny},
                                   {0x20, 5, kAny}});
  if (error == EOPNOTSUPP) GTEST_SKIP() << "this tmpfs keeps no access lists";
  ASSERT_EQ(error, 0) << strerror(error);
  trust::TrustChain chain = check();
  EXPECT_EQ(summary(chain), Lines{base + ": user carol"});
  EXPECT_EQ(chain.findings()[0].mode, "0775");
  applyFixes(chain);  // chmod go-w: the mask no longer lets carol write
  EXPECT_EQ(summary(check()), Lines{});
}

TEST_F(TrustChainTest, FixQuotesAPathWithAQuote) {
  home_ = root_ + "/it's home";
  layOut(registry_, home_);
  chmodOrFail(home_, 0757);
  trust::TrustChain chain = check();
  ASSERT_EQ(summary(chain), Lines{home_ + ": everyone"});
  EXPECT_EQ(fixesOf(chain.findings()[0]), "As root: chmod go-w '" + root_ + "/it'\\''s home'");
  applyFixes(chain);
  EXPECT_EQ(summary(check()), Lines{});
}

}  // namespace
