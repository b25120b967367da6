// acs-doctor's trust check: an installation that someone besides root and
// the instance owner can change is an error with a fix that pastes, even
// when DB2 would bind it. The doctor runs as nobody, the instance owner
// here, checking itself; giving files away needs root.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "doctor_fixture.h"
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::HealthyInstallation;
using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::runDoctor;
using doctortest::runDoctorUnprivileged;
using doctortest::TemporaryUser;
using testsupport::kNobody;

struct OwnedInstallation : doctortest::Healthy {
  void giveTo(uid_t uid, gid_t gid) const {
    std::string command = "chown -R " + std::to_string(uid) + ":" + std::to_string(gid) + " '" +
                          registry() + "' '" + home() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
};

// Runs a finding's fix, which changes owners and modes as root: 0 when it
// says so and the command worked.
int pasteAsRoot(const nlohmann::json &finding) {
  std::string fix = finding.value("fix", "");
  EXPECT_EQ(fix.rfind("As root: ", 0), 0u) << fix;
  return fix.rfind("As root: ", 0) == 0 ? std::system(fix.substr(9).c_str()) : -1;
}

// A report whose one finding is a path (with its role) that everyone can
// write, whatever its owner; pastes the finding's fix.
void fixTheOneWorldWritablePath(const nlohmann::json &doc, const std::string &pathAndRole) {
  EXPECT_EQ(doc.value("exit_code", -1), kDoesNotBind) << doc.dump(1);
  ASSERT_EQ(doc.at("findings").size(), 1u) << doc.dump(1);
  std::string cause = doc.at("findings")[0].value("cause", "");
  EXPECT_CONTAINS(cause, pathAndRole + ", owner ");
  EXPECT_CONTAINS(cause, ", mode 0777) can be changed by everyone");
  EXPECT_EQ(pasteAsRoot(doc.at("findings")[0]), 0);
}

nlohmann::json checkAsNobody(const std::vector<std::string> &args = {"--json"}) {
  DoctorResult r = runDoctor(args, kNobody, kNobody);
  nlohmann::json doc = r.report();
  EXPECT_EQ(doc.value("exit_code", -1), r.status);
  return doc;
}

TEST(DoctorTrust, RootOwnedAndInstanceOwnerOwnedInstallationsAreTrusted) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("to give files away and to drop to nobody");
  OwnedInstallation inst;
  nlohmann::json rootOwned = checkAsNobody();
  EXPECT_EQ(rootOwned.value("exit_code", -1), kBinds) << rootOwned.dump(1);
  EXPECT_TRUE(rootOwned.at("findings").empty());
  // The chain reaches from / to the back end, every path once.
  bool sawBackend = false, sawRoot = false;
  for (const auto &e : rootOwned.at("trust").at("chain")) {
    sawBackend |= e.at("path") == inst.backendPath();
    sawRoot |= e.at("path") == "/";
  }
  EXPECT_TRUE(sawBackend && sawRoot) << rootOwned.at("trust").dump(1);

  inst.giveTo(kNobody, kNobody);
  nlohmann::json ownerOwned = checkAsNobody();
  EXPECT_EQ(ownerOwned.value("exit_code", -1), kBinds) << ownerOwned.dump(1);
  EXPECT_TRUE(ownerOwned.at("findings").empty());
}

// Each way someone else can change what DB2 runs; the fix, pasted into a
// shell, makes the installation trusted again.
TEST(DoctorTrust, EveryKindOfWriterIsAnErrorWhoseFixPastes) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("to give files away and to drop to nobody");
  TemporaryUser other("");
  ASSERT_TRUE(other.created());
  struct Case {
    const char *what;
    std::function<std::string(OwnedInstallation &)> spoil;  // returns the spoilt path
    std::string who;
  } cases[] = {
      {"world-writable .properties",
       [](OwnedInstallation &i) {
         chmod(i.propertiesPath("Instance001").c_str(), 0666);
         return i.propertiesPath("Instance001");
       },
       "everyone"},
      // nogroup is the other user's primary group: a member besides nobody.
      {"Base writable by a group with other members",
       [](OwnedInstallation &i) {
         std::string base = i.home() + "/Base";
         EXPECT_EQ(chown(base.c_str(), 0, kNobody), 0);
         chmod(base.c_str(), 0775);
         return base;
       },
       other.name()},
      {"back end owned by an unrelated user",
       [&other](OwnedInstallation &i) {
         EXPECT_EQ(chown(i.backendPath().c_str(), other.uid(), other.gid()), 0);
         return i.backendPath();
       },
       other.name()},
      {"world-writable directory above the registry",
       [](OwnedInstallation &i) {
         std::string open = testsupport::makeTempDir("open");
         chmod(open.c_str(), 0777);
         std::string moved = open + "/registry";
         EXPECT_EQ(rename(i.registry().c_str(), moved.c_str()), 0);
         testsupport::setEnv("QXREG", moved);
         return open;
       },
       "everyone"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    OwnedInstallation inst;
    std::string spoilt = c.spoil(inst);
    nlohmann::json doc = checkAsNobody();
    EXPECT_EQ(doc.value("exit_code", -1), kDoesNotBind);
    EXPECT_TRUE(doc.at("discovery").at("found").get<bool>()) << "the binding itself is fine";
    std::string headline = doc.value("headline", "");
    EXPECT_CONTAINS(headline, "DB2 would find the back end, but ");
    EXPECT_CONTAINS(headline, "can change what it runs");
    EXPECT_CONTAINS(doc.at("trust").value("who", ""), c.who);
    ASSERT_FALSE(doc.at("findings").empty()) << doc.dump(1);
    const nlohmann::json &finding = doc.at("findings")[0];
    EXPECT_EQ(finding.value("severity", ""), "error");
    EXPECT_CONTAINS(finding.value("cause", ""), spoilt);
    EXPECT_CONTAINS(finding.value("cause", ""), c.who);

    DoctorResult brief = runDoctor({"--brief"}, kNobody, kNobody);
    EXPECT_EQ(brief.status, kDoesNotBind);
    EXPECT_CONTAINS(brief.out, "can change what it runs");
    EXPECT_EQ(brief.out.find('\n'), brief.out.size() - 1) << brief.out;

    for (const auto &f : doc.at("findings"))
      EXPECT_EQ(pasteAsRoot(f), 0) << f.dump();
    nlohmann::json fixed = checkAsNobody();
    EXPECT_EQ(fixed.value("exit_code", -1), kBinds) << fixed.dump(1);
  }
}

// The dynamic loader searches LD_LIBRARY_PATH for every library the back
// end needs, and what the back end brings along runs in DB2's process too.
TEST(DoctorTrust, LibrarySearchPathAndTheBackEndsOwnLibrariesCount) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("starts a process as nobody");
  HealthyInstallation inst(NEEDS_DEP_BACKEND);
  std::string open = testsupport::makeTempDir("open"), deps = testsupport::makeTempDir("deps");
  ASSERT_EQ(chmod(open.c_str(), 0777), 0);
  testsupport::writeFile(deps + "/libqxdep.so", testsupport::readFile(QXDEP_LIBRARY), 0777);
  doctortest::ProcessAs agent(kNobody, kNobody,
                              {"QXREG=" + inst.registry(), "LD_LIBRARY_PATH=" + open + ":" + deps}, "/");
  auto check = [&] { return runDoctor({"--pid", std::to_string(agent.pid()), "--load", "--json"}).report(); };
  nlohmann::json doc = check();
  EXPECT_EQ(doc.value("exit_code", -1), kDoesNotBind) << doc.dump(1);
  EXPECT_EQ(doc.at("load").at("libraries"), nlohmann::json::array({deps + "/libqxdep.so"}));
  std::string causes;
  for (const auto &f : doc.at("findings")) causes += f.value("cause", "") + "\n";
  EXPECT_CONTAINS(causes, open + " (a directory in LD_LIBRARY_PATH, owner root:root, mode 0777)");
  EXPECT_CONTAINS(causes, deps + "/libqxdep.so (a library the back end loads, owner root:root, mode 0777)");
  for (const auto &f : doc.at("findings"))
    EXPECT_EQ(pasteAsRoot(f), 0) << f.dump();
  EXPECT_EQ(check().value("exit_code", -1), kBinds);

  // In a sticky directory anyone may still add a library: /tmp stays as
  // it is and leaves the search instead.
  doctortest::ProcessAs shared(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_LIBRARY_PATH=/tmp:" + deps}, "/");
  DoctorResult r = runDoctor({"--pid", std::to_string(shared.pid()), "--json"});
  nlohmann::json sticky = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(sticky.is_discarded()) << r.out << r.err;
  ASSERT_EQ(sticky.at("findings").size(), 1u) << sticky.dump(1);
  EXPECT_CONTAINS(sticky.at("findings")[0].value("cause", ""), "/tmp (a directory in LD_LIBRARY_PATH");
  // nobody has no home directory, so no login file to name.
  // A way out of the search, not root's command.
  EXPECT_EQ(sticky.at("findings")[0].value("fix", "").rfind("Set LD_LIBRARY_PATH=" + deps +
                                                           " in the environment the DB2 instance starts with", 0), 0u)
      << sticky.at("findings")[0];
}

// The loader searches the directories the back end's run path names for
// its libraries: one open to others counts even while it holds none, as a
// library added there is found before the one in the next.
TEST(DoctorTrust, DirectoriesOfTheBackEndsRunPathCount) {
  HealthyInstallation inst(RUN_PATH_BACKEND);
  std::string open = inst.home() + "/Base/open", deps = inst.home() + "/Base/deps";
  testsupport::makeDirs(open);
  testsupport::makeDirs(deps);
  testsupport::writeFile(deps + "/libqxdep.so", testsupport::readFile(QXDEP_LIBRARY), 0755);
  auto check = [&](mode_t mode) {
    EXPECT_EQ(chmod(open.c_str(), mode), 0);
    return runDoctorUnprivileged({"--load", "--json"}).report();
  };
  nlohmann::json doc = check(0777);
  EXPECT_EQ(doc.at("load").at("run_path"), nlohmann::json::array({open, deps})) << doc.dump(1);
  fixTheOneWorldWritablePath(doc, open + " (a directory in the back end's run path");
  EXPECT_EQ(check(0755).value("exit_code", -1), kBinds);
  // Sticky, it stays as it is: only the back end's vendor can take it out.
  nlohmann::json sticky = check(01777);
  ASSERT_EQ(sticky.at("findings").size(), 1u) << sticky.dump(1);
  EXPECT_EQ(sticky.at("findings")[0].value("fix", "").rfind("Ask the back end's vendor for a build without " + open, 0),
            0u) << sticky.at("findings")[0];
}

// Installed, acs-doctor sits in <prefix>/bin beside <prefix>/lib, the
// library DB2 is given to load: that library counts while no process
// shows which one DB2 has loaded.
TEST(DoctorTrust, LibraryInstalledBesideTheDoctorCounts) {
  HealthyInstallation inst(GOOD_BACKEND);
  std::string prefix = testsupport::makeTempDir("prefix");
  testsupport::makeDirs(prefix + "/bin");
  testsupport::makeDirs(prefix + "/lib");
  testsupport::writeFile(prefix + "/bin/acs-doctor", testsupport::readFile(ACS_DOCTOR_PATH), 0755);
  testsupport::writeFile(prefix + "/lib/libzorvan_db2acs.so", testsupport::readFile(ZORVAN_LIBRARY_PATH), 0755);
  ASSERT_EQ(chmod((prefix + "/lib").c_str(), 0777), 0);
  auto check = [&] { return doctortest::runProgram((prefix + "/bin/acs-doctor").c_str(), {"--json"}).report(); };
  nlohmann::json open = check();
  fixTheOneWorldWritablePath(open, prefix + "/lib (on the path to the library installed for DB2");
  nlohmann::json closed = check();
  EXPECT_EQ(closed.value("exit_code", -1), kBinds) << closed.dump(1);
  EXPECT_EQ(closed.at("paths").value("installed_library", ""), prefix + "/lib/libzorvan_db2acs.so");
}

TEST(DoctorTrust, VerboseShowsTheWholeChain) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("to give files away and to drop to nobody");
  OwnedInstallation inst;
  DoctorResult r = runDoctor({"--verbose"}, kNobody, kNobody);
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  EXPECT_CONTAINS(r.out, "can change what DB2 runs, path by path:");
  EXPECT_CONTAINS(r.out, "  " + inst.backendPath() + " (the back end): ok\n");
  EXPECT_CONTAINS(r.out, "  " + inst.propertiesPath("Instance001") + " (the instance's .properties): ok\n");
}

}  // namespace
