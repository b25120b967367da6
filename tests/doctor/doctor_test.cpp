// acs-doctor against broken installations: each names its cause and fix
// on the first screen and exits 1; a healthy one exits 0. The doctor runs
// as a child process, as an operator would run it.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "doctor_fixture.h"
#include <nlohmann/json.hpp>
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::Healthy;
using doctortest::HealthyInstallation;
using doctortest::runDoctor;
using doctortest::runDoctorUnprivileged;
using testsupport::kNobody;

using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::kUsage;

// Installation with Instance001 registered and the example back end.
TEST(DoctorHealthy, BindsAndResolvesAllEntryPoints) {
  Healthy inst;
  DoctorResult r = runDoctorUnprivileged({"--load"});
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  EXPECT_CONTAINS(r.out, "would bind");
  EXPECT_CONTAINS(r.out, "14 of 14 entry points resolve");
  EXPECT_CONTAINS(r.out, inst.home() + "/Base");
  EXPECT_CONTAINS(r.out, "first-instance scan");
}

TEST(DoctorHealthy, JsonHoldsTheVerdictAndTheDiscovery) {
  Healthy inst;
  DoctorResult good = runDoctorUnprivileged({"--json", "--load"});
  ASSERT_EQ(good.status, kBinds) << good.out;
  nlohmann::json doc = nlohmann::json::parse(good.out);
  EXPECT_TRUE(doc.at("binds").get<bool>());
  EXPECT_EQ(doc.at("exit_code").get<int>(), 0);
  EXPECT_EQ(doc.at("discovery").at("base_dir").get<std::string>(), inst.home() + "/Base");
  EXPECT_EQ(doc.at("discovery").at("registry").at("origin").get<std::string>(), "QXREG");
  EXPECT_EQ(doc.at("load").at("entry_points").size(), 14u);

  // A CR in the value travels through JSON escaped, and the verdict flips.
  inst.addInstance("Instance001", true, "dZORVANHOME " + inst.home() + "\r\n");
  DoctorResult bad = runDoctor({"--json"});
  EXPECT_EQ(bad.status, kDoesNotBind);
  nlohmann::json badDoc = nlohmann::json::parse(bad.out);
  EXPECT_FALSE(badDoc.at("binds").get<bool>());
  EXPECT_EQ(badDoc.at("exit_code").get<int>(), 1);
  EXPECT_EQ(badDoc.at("discovery").at("home").get<std::string>(), inst.home() + "\r");
  ASSERT_FALSE(badDoc.at("problems").empty());
  EXPECT_EQ(badDoc.at("problems")[0].at("severity").get<std::string>(), "error");
  EXPECT_EQ(badDoc.at("problems")[0].at("id").get<std::string>(), "crlf-line-ends");
}

TEST(DoctorBroken, MissingRegistryNamesQxreg) {
  Installation inst;
  testsupport::setEnv("QXREG", inst.registry() + "/nowhere");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "registry directory " + inst.registry() + "/nowhere (QXREG from this shell's environment) does not exist");
  // Root's own login files are no fix for DB2; a user's own are.
  EXPECT_CONTAINS(r.firstScreen(), geteuid() == 0 ? "fix: Set QXREG=<registry directory> in the environment"
                                                  : "QXREG=<registry directory>' >> ");
}

TEST(DoctorBroken, NoInstanceWithTheAgentListsWhatWasPassedOver) {
  Installation inst;
  inst.addInstance("Instance001", false, "dZORVANHOME " + inst.home() + "\n");
  inst.addInstance("Prod", false, "dZORVANHOME " + inst.home() + "\n");
  testsupport::writeFile(inst.registry() + "/Zorvan/notes.txt", "");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  std::string screen = r.firstScreen();
  EXPECT_CONTAINS(screen, "No registered instance has the DB2 agent installed");
  EXPECT_CONTAINS(screen, "fix: As root: touch " + inst.registry() + "/Zorvan/");
  EXPECT_CONTAINS(r.out, "notes.txt");
  EXPECT_CONTAINS(r.out, "passed over: not a directory");
  EXPECT_CONTAINS(r.out, "passed over: no Db2Agent file in it");
}

TEST(DoctorBroken, PropertiesWithoutAUsableKeyLine) {
  Healthy inst;
  struct Case {
    std::string content, cause, fix;
  } cases[] = {
      {"HOME /opt\n", "has no line starting with dZORVANHOME",
       "fix: As root, with <home directory> filled in: printf '%s\\n' 'dZORVANHOME <home directory>' >> " +
           inst.propertiesPath("Instance001")},
      {"dZORVANHOME\ndZORVANHOME " + inst.home() + "\n", "(line 1) has no value",
       "fix: As root, with <home directory> filled in: sed -i '1s|.*|dZORVANHOME <home directory>|' "},
  };
  for (const Case &c : cases) {
    inst.addInstance("Instance001", true, c.content);
    DoctorResult r = runDoctor({});
    EXPECT_EQ(r.status, kDoesNotBind) << c.content;
    EXPECT_CONTAINS(r.firstScreen(), c.cause);
    EXPECT_CONTAINS(r.firstScreen(), c.fix);
  }
}

TEST(DoctorBroken, CrLfPropertiesAreNamed) {
  Healthy inst;
  inst.addInstance("Instance001", true, "# x\r\ndZORVANHOME " + inst.home() + "\r\n");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "(CR LF) line endings");
  EXPECT_CONTAINS(r.firstScreen(), "fix: As root: sed -i 's/\\r$//' " + inst.propertiesPath("Instance001"));
}

TEST(DoctorBroken, NonExecutableBackEnd) {
  Installation inst;
  inst.addHealthyInstance();
  inst.installBackend(GOOD_BACKEND, 0644);
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "is not executable (mode 0644)");
  EXPECT_CONTAINS(r.firstScreen(), "fix: As root: chmod 755 " + inst.backendPath());
}

// A mode that lets the user execute the back end, and an execute test
// that fails all the same: chmod 755 would change nothing.
TEST(DoctorBroken, ExecuteTestRefusedWhateverTheMode) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("mounts a file system and drops to nobody");
  Healthy inst;
  // A home on a file system mounted noexec: every execute test fails, root's too.
  ASSERT_EQ(mount("tmpfs", (inst.home() + "/Base").c_str(), "tmpfs", MS_NOEXEC, nullptr), 0) << strerror(errno);
  inst.installBackend(GOOD_BACKEND);
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "The back end " + inst.backendPath() + " is on a file system mounted noexec");
  EXPECT_EQ(r.firstFix(), "As root: mount -o remount,exec " + inst.home() + "/Base");
  ASSERT_EQ(std::system(r.firstFix().substr(9).c_str()), 0);
  EXPECT_EQ(runDoctor({}).status, kBinds);

  // An access control list that gives nobody read but not execute.
  const unsigned char acl[] = {2, 0, 0, 0,                      // version
                               0x01, 0, 7, 0, 0xff, 0xff, 0xff, 0xff,  // owner rwx
                               0x02, 0, 4, 0, 0xfe, 0xff, 0, 0,        // user nobody (65534) r
                               0x04, 0, 5, 0, 0xff, 0xff, 0xff, 0xff,  // group r-x
                               0x10, 0, 5, 0, 0xff, 0xff, 0xff, 0xff,  // mask r-x
                               0x20, 0, 5, 0, 0xff, 0xff, 0xff, 0xff}; // other r-x
  int set = setxattr(inst.backendPath().c_str(), "system.posix_acl_access", acl, sizeof acl, 0);
  if (set != 0 && errno == EOPNOTSUPP) GTEST_SKIP() << "/tmp takes no access control list here";
  ASSERT_EQ(set, 0) << strerror(errno);
  nlohmann::json denied = nlohmann::json::parse(runDoctor({"--json"}, kNobody, kNobody).out);
  EXPECT_EQ(denied.at("problems")[0].at("id"), "backend-execute-denied") << denied.at("problems");
  EXPECT_CONTAINS(denied.at("problems")[0].at("cause").get<std::string>(),
                  "has mode 0755 (owner root), which lets nobody execute it");
  EXPECT_CONTAINS(denied.at("problems")[0].at("fix").get<std::string>(), "setfacl -b " + inst.backendPath());
}

// Without root, a check as someone else cannot be made: one line, exit 2,
// never a result for the caller.
TEST(DoctorBroken, AsUserWithoutRootIsRefused) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("drops to nobody");
  Installation inst;
  inst.addHealthyInstance();
  inst.installBackend(GOOD_BACKEND, 0755);
  DoctorResult unprivileged = runDoctor({"--as-user", "root"}, kNobody, kNobody);
  EXPECT_EQ(unprivileged.status, kUsage);
  EXPECT_EQ(unprivileged.out, "");
  EXPECT_EQ(unprivileged.err, "acs-doctor: --as-user root: needs root, or run it as root\n");
  // As oneself, no root is needed (nobody has no login shell: QXREG unset).
  DoctorResult self = runDoctor({"--as-user", "nobody"}, kNobody, kNobody);
  EXPECT_EQ(self.status, kDoesNotBind) << self.err;
  EXPECT_CONTAINS(self.firstScreen(), "Checked as nobody (uid 65534");
}

TEST(DoctorBroken, BackEndMissingAnEntryPointFailsOnlyWithLoad) {
  HealthyInstallation inst(NO_VERIFY_BACKEND);
  EXPECT_EQ(runDoctor({}).status, kBinds);

  DoctorResult r = runDoctorUnprivileged({"--load"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "lacks db2ACSVerifypp: db2ACSInitialize would return 11");
  EXPECT_CONTAINS(r.firstScreen(), "fix: Install a back end that exports all fourteen");
  EXPECT_CONTAINS(r.out, "13 of 14 entry points resolve");
}

TEST(DoctorBroken, BackEndThatIsFoundButDoesNotLoad) {
  Installation inst;
  inst.addHealthyInstance();
  testsupport::writeFile(inst.backendPath(), "not a shared object\n", 0755);
  DoctorResult r = runDoctorUnprivileged({"--load"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "was found but failed to load: ");
  EXPECT_CONTAINS(r.firstScreen(), "fix: Install the back end's missing libraries");
}

TEST(DoctorBroken, HoldingMarkerMeansTheOperationHangs) {
  Healthy inst;
  testsupport::writeFile("/tmp/db2ACSVerifyDebug", "");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "every db2ACSVerify call of " + testsupport::ownUserName() +
                                       " waits until it is removed");
  // In the sticky /tmp only the marker's owner, or root, may remove it.
  EXPECT_CONTAINS(r.firstScreen(), (geteuid() == 0 ? std::string("fix: As root: ")
                                                   : "fix: As " + testsupport::ownUserName() +
                                                         " (or root): ") +
                                       "rm /tmp/db2ACSVerifyDebug");
}

TEST(DoctorBroken, MarkerOfAnotherUserHoldsOnlyThatUser) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives the marker away");
  Healthy inst;
  testsupport::writeFile("/tmp/db2ACSInitializeDebug", "");
  ASSERT_EQ(chown("/tmp/db2ACSInitializeDebug", kNobody, kNobody), 0);
  DoctorResult asRoot = runDoctor({});
  EXPECT_EQ(asRoot.status, kBinds);
  EXPECT_CONTAINS(asRoot.out, "belongs to nobody, so it does not hold root's calls");

  DoctorResult asNobody = runDoctor({"--as-user", "nobody"});
  EXPECT_EQ(asNobody.status, kDoesNotBind);
  EXPECT_CONTAINS(asNobody.firstScreen(), "every db2ACSInitialize call of nobody waits");
}

TEST(DoctorInstance, VendorOptionsNameTheInstance) {
  Healthy inst;
  std::string other = testsupport::makeTempDir("other");
  testsupport::makeDirs(other + "/Base");
  testsupport::writeFile(other + "/Base/libqxacsint.so", testsupport::readFile(GOOD_BACKEND), 0755);
  inst.addInstance("Payroll", false, "dZORVANHOME " + other + "\n");
  DoctorResult r = runDoctor({"--vm-name", "Payroll"});
  EXPECT_EQ(r.status, kBinds) << r.out;
  EXPECT_CONTAINS(r.out, "Payroll  (from vendor options, simulated vmName 'Payroll')");
  EXPECT_CONTAINS(r.out, other + "/Base");

  DoctorResult unknown = runDoctor({"--vm-name", "Ledger"});
  EXPECT_EQ(unknown.status, kDoesNotBind);
  EXPECT_CONTAINS(unknown.firstScreen(), "Instance 'Ledger' (from vendor options) is not registered");
  EXPECT_CONTAINS(unknown.firstScreen(), "fix: Correct the vmName");
}

TEST(DoctorInstance, ZorvanInstOverridesTheScanEvenWhenEmpty) {
  Healthy inst;
  testsupport::setEnv("ZORVAN_INST", "Missing");
  DoctorResult wrong = runDoctor({});
  EXPECT_EQ(wrong.status, kDoesNotBind);
  EXPECT_CONTAINS(wrong.firstScreen(), "Instance 'Missing' (from ZORVAN_INST) is not registered");
  // The registered instance is named, and the fix sets it.
  EXPECT_CONTAINS(wrong.firstScreen(), "registered under " + inst.registry() + "/Zorvan: Instance001.");
  EXPECT_CONTAINS(wrong.firstScreen(), "ZORVAN_INST=Instance001");

  testsupport::setEnv("ZORVAN_INST", "");
  DoctorResult empty = runDoctor({});
  EXPECT_EQ(empty.status, kDoesNotBind);
  EXPECT_CONTAINS(empty.firstScreen(), "ZORVAN_INST is set but empty");
  EXPECT_CONTAINS(empty.firstScreen(), "fix: Unset ZORVAN_INST");
}

// The doctor reports on the trace file and markers but never creates,
// writes or removes anything in /tmp.
TEST(DoctorLeavesTmpAlone, ReportsTracingWithoutWritingTheTraceFile) {
  Healthy inst;
  testsupport::writeFile(testsupport::kTracePath, "", 0600);
  DoctorResult on = runDoctor({});
  EXPECT_EQ(on.status, kBinds);
  EXPECT_CONTAINS(on.out, "Tracing is on");
  EXPECT_EQ(testsupport::readFile(testsupport::kTracePath), "");
  for (const char *marker : {"/tmp/db2ACSInitializeDebug", "/tmp/db2ACSQueryApiVersion1",
                             "/tmp/db2ACSSnapshotDebug"})
    EXPECT_FALSE(testsupport::exists(marker)) << marker;

  ASSERT_EQ(unlink(testsupport::kTracePath), 0);
  ASSERT_EQ(symlink("/tmp/elsewhere", testsupport::kTracePath), 0);
  DoctorResult link = runDoctor({});
  EXPECT_EQ(link.status, kBinds);
  EXPECT_CONTAINS(link.firstScreen(), "exists but tracing is silently off: it is a symbolic link");
  EXPECT_FALSE(testsupport::exists("/tmp/elsewhere"));

  ASSERT_EQ(unlink(testsupport::kTracePath), 0);
  ASSERT_EQ(mkfifo(testsupport::kTracePath, 0666), 0);
  DoctorResult fifo = runDoctor({});
  EXPECT_EQ(fifo.status, kBinds);
  EXPECT_CONTAINS(fifo.firstScreen(), "it is a FIFO");
}

TEST(DoctorUsage, RejectsBadArgumentsWithStatusTwo) {
  EXPECT_EQ(runDoctor({"--frobnicate"}).status, kUsage);
  EXPECT_EQ(runDoctor({"--vm-name", std::string(18, 'x')}).status, kUsage);
  EXPECT_EQ(runDoctor({"--as-user", "no-such-user-here"}).status, kUsage);
  DoctorResult help = runDoctor({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_CONTAINS(help.out, "--as-user USER");
}

}  // namespace
