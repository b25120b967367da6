// acs-doctor against broken installations: each names its cause and fix
// on the first screen and exits 1; a healthy one exits 0. The doctor runs
// as a child process, as an operator would run it.
#include <gtest/gtest.h>

#include <algorithm>
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

using doctortest::asOwner;
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
  DoctorResult r = runDoctor({"--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  ASSERT_FALSE(r.ids().empty());
  EXPECT_EQ(r.ids()[0], "registry-missing");
  EXPECT_CONTAINS(r.report().at("problems")[0].at("cause").get<std::string>(),
                  inst.registry() + "/nowhere (QXREG from this shell's environment)");
  // Root's own login files are no fix for DB2; a user's own are.
  EXPECT_CONTAINS(r.firstFix(), geteuid() == 0 ? "Set QXREG=<registry directory> in the environment"
                                               : "QXREG=<registry directory>' >> ");
}

TEST(DoctorBroken, NoInstanceWithTheAgentListsWhatWasPassedOver) {
  Installation inst;
  inst.addInstance("Instance001", false, "dZORVANHOME " + inst.home() + "\n");
  inst.addInstance("Prod", false, "dZORVANHOME " + inst.home() + "\n");
  testsupport::writeFile(inst.registry() + "/Zorvan/notes.txt", "");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(runDoctor({"--json"}).ids()[0], "no-instance-with-agent");
  EXPECT_CONTAINS(r.firstFix(), asOwner() + ": touch " + inst.registry() + "/Zorvan/");
  EXPECT_CONTAINS(r.out, "notes.txt");
  EXPECT_CONTAINS(r.out, "passed over: not a directory");
  EXPECT_CONTAINS(r.out, "passed over: no Db2Agent file in it");
}

TEST(DoctorBroken, PropertiesWithoutAUsableKeyLine) {
  Healthy inst;
  struct Case {
    std::string content, id, fix;
  } cases[] = {
      {"HOME /opt\n", "key-missing",
       asOwner() + ", with <home directory> filled in: printf '%s\\n' 'dZORVANHOME <home directory>' >> " +
           inst.propertiesPath("Instance001")},
      {"dZORVANHOME\ndZORVANHOME " + inst.home() + "\n", "key-without-value",
       asOwner() + ", with <home directory> filled in: sed -i '1s|.*|dZORVANHOME <home directory>|' "},
      {"# x\r\ndZORVANHOME " + inst.home() + "\r\n", "crlf-line-ends",
       asOwner() + ": sed -i 's/\\r$//' " + inst.propertiesPath("Instance001")},
  };
  for (const Case &c : cases) {
    inst.addInstance("Instance001", true, c.content);
    DoctorResult r = runDoctor({"--json"});
    EXPECT_EQ(r.status, kDoesNotBind) << c.content;
    ASSERT_FALSE(r.ids().empty()) << c.content;
    EXPECT_EQ(r.ids()[0], c.id);
    EXPECT_CONTAINS(r.firstFix(), c.fix);
  }
}

TEST(DoctorBroken, NonExecutableBackEnd) {
  Installation inst;
  inst.addHealthyInstance();
  inst.installBackend(GOOD_BACKEND, 0644);
  DoctorResult r = runDoctor({"--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(r.ids()[0], "backend-not-executable");
  EXPECT_EQ(r.firstFix(), asOwner() + ": chmod 755 " + inst.backendPath());
}

// A mode that lets the user execute the back end, and an execute test
// that fails all the same: chmod 755 would change nothing.
TEST(DoctorBroken, ExecuteTestRefusedWhateverTheMode) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("mounts a file system and drops to nobody");
  Healthy inst;
  // A home on a file system mounted noexec: every execute test fails, root's too.
  ASSERT_EQ(mount("tmpfs", (inst.home() + "/Base").c_str(), "tmpfs", MS_NOEXEC, nullptr), 0) << strerror(errno);
  inst.installBackend(GOOD_BACKEND);
  DoctorResult r = runDoctor({"--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(r.ids()[0], "backend-on-noexec-mount");
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

  DoctorResult r = runDoctorUnprivileged({"--load", "--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(r.ids()[0], "backend-lacks-entry-points");
  const nlohmann::json load = r.report().at("load");
  nlohmann::json missing = nlohmann::json::array();
  for (const nlohmann::json &e : load.at("entry_points"))
    if (!e.at("resolved").get<bool>()) missing.push_back(e.at("symbol"));
  EXPECT_EQ(missing, nlohmann::json::array({"db2ACSVerifypp"})) << load;
}

TEST(DoctorBroken, BackEndThatIsFoundButDoesNotLoad) {
  Installation inst;
  inst.addHealthyInstance();
  testsupport::writeFile(inst.backendPath(), "not a shared object\n", 0755);
  DoctorResult r = runDoctorUnprivileged({"--load", "--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(r.ids()[0], "backend-load-failed");
}

TEST(DoctorBroken, HoldingMarkerMeansTheOperationHangs) {
  Healthy inst;
  testsupport::writeFile("/tmp/db2ACSVerifyDebug", "");
  DoctorResult r = runDoctor({"--json"});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_EQ(r.ids()[0], "marker-holds");
  // In the sticky /tmp only the marker's owner, or root, may remove it.
  EXPECT_EQ(r.firstFix(), asOwner() + ": rm /tmp/db2ACSVerifyDebug");
}

TEST(DoctorBroken, MarkerOfAnotherUserHoldsOnlyThatUser) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives the marker away");
  Healthy inst;
  testsupport::writeFile("/tmp/db2ACSInitializeDebug", "");
  ASSERT_EQ(chown("/tmp/db2ACSInitializeDebug", kNobody, kNobody), 0);
  DoctorResult asRoot = runDoctor({"--json"});
  EXPECT_EQ(asRoot.status, kBinds);
  EXPECT_EQ(asRoot.ids()[0], "marker-of-another-user");

  DoctorResult asNobody = runDoctor({"--as-user", "nobody", "--json"});
  EXPECT_EQ(asNobody.status, kDoesNotBind);
  const std::vector<std::string> ids = asNobody.ids();
  EXPECT_NE(std::find(ids.begin(), ids.end(), "marker-holds"), ids.end());
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

  DoctorResult unknown = runDoctor({"--vm-name", "Ledger", "--json"});
  EXPECT_EQ(unknown.status, kDoesNotBind);
  EXPECT_EQ(unknown.ids()[0], "instance-not-registered");
  EXPECT_CONTAINS(unknown.firstFix(), "Correct the vmName");
}

TEST(DoctorInstance, ZorvanInstOverridesTheScanEvenWhenEmpty) {
  Healthy inst;
  testsupport::setEnv("ZORVAN_INST", "Missing");
  DoctorResult wrong = runDoctor({"--json"});
  EXPECT_EQ(wrong.status, kDoesNotBind);
  EXPECT_EQ(wrong.ids()[0], "instance-not-registered");
  // The registered instance is named, and the fix sets it.
  EXPECT_CONTAINS(wrong.report().at("problems")[0].at("cause").get<std::string>(),
                  "registered under " + inst.registry() + "/Zorvan: Instance001.");
  EXPECT_CONTAINS(wrong.firstFix(), "ZORVAN_INST=Instance001");

  testsupport::setEnv("ZORVAN_INST", "");
  DoctorResult empty = runDoctor({"--json"});
  EXPECT_EQ(empty.status, kDoesNotBind);
  EXPECT_EQ(empty.ids()[0], "instance-variable-empty");
  EXPECT_CONTAINS(empty.firstFix(), "Unset ZORVAN_INST");
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
  DoctorResult link = runDoctor({"--json"});
  EXPECT_EQ(link.status, kBinds);
  EXPECT_EQ(link.ids()[0], "tracing-silently-off");
  EXPECT_FALSE(testsupport::exists("/tmp/elsewhere"));

  ASSERT_EQ(unlink(testsupport::kTracePath), 0);
  ASSERT_EQ(mkfifo(testsupport::kTracePath, 0666), 0);
  DoctorResult fifo = runDoctor({"--json"});
  EXPECT_EQ(fifo.status, kBinds);
  EXPECT_EQ(fifo.ids()[0], "tracing-silently-off");
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
