// What a new user on a stock Debian root found the doctor answering
// wrongly: an all-clear for a login whose interactive form DB2 gets too,
// follow-on findings that contradict the first, a fix for root that takes
// the owner's tracing away, and examples and help that do not hold.
// Answers are read by their ids and subjects, fixes by what they do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "doctor_fixture.h"
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::HealthyInstallation;
using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::problemIds;
using doctortest::runDoctor;
using doctortest::runDoctorUnprivileged;
using doctortest::TemporaryUser;
using testsupport::kNobody;
using Ids = std::vector<std::string>;

// Debian's stock ~/.bashrc returns at once for a shell that is not
// interactive, and its ~/.profile sources it: a QXREG after that return
// reaches only a DB2 started from an interactive login (ssh, then
// db2start), which the check must see and fail.
TEST(DoctorAnswers, QxregOnlyAnInteractiveLoginSetsIsCheckedToo) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(GOOD_BACKEND);
  testsupport::unsetEnv("QXREG");
  TemporaryUser user("export QXREG=" + inst.registry() + "\n. \"$HOME/.bashrc\"\n", "/bin/bash");
  ASSERT_TRUE(user.created());
  testsupport::writeFile(user.home() + "/.bashrc",
                         "case $- in\n    *i*) ;;\n      *) return;;\nesac\nexport QXREG=" + inst.registry() + "x\n");
  DoctorResult r = runDoctor({"--as-user", user.name(), "--load", "--json"});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  nlohmann::json doc = r.report();
  ASSERT_TRUE(doc.at("interactive").is_object()) << doc.dump(1);
  EXPECT_EQ(problemIds(doc), Ids{}) << "su - gives the good registry";
  EXPECT_EQ(problemIds(doc.at("interactive")), Ids{"registry-mistyped"}) << doc.at("interactive").dump(1);
  EXPECT_EQ(doc.at("interactive").at("checked_as").at("environment").at("QXREG").at("origin"),
            "from " + user.name() + "'s interactive login environment, set in " + user.home() + "/.bashrc line 5")
      << "where the interactive login set it";
}

// A cause that follows from the one named first is said to follow from
// it, and fixed only there: not a missing back end when a directory above
// it is closed, not missing libraries when its mode keeps the user out,
// not a reinstall at a path with a carriage return in it.
TEST(DoctorAnswers, LoadAfterAFailedDiscoveryFollowsFromItsCause) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("checks as nobody");
  struct Case {
    const char *name;
    std::function<void(HealthyInstallation &)> breakIt;
    Ids ids;
  } cases[] = {
      {"closed directory above the home",
       [](HealthyInstallation &inst) { ASSERT_EQ(chmod(inst.home().c_str(), 0700), 0); },
       {"directory-not-searchable", "load-follows"}},
      {"back end 0750 root:root",
       [](HealthyInstallation &inst) { ASSERT_EQ(chmod(inst.backendPath().c_str(), 0750), 0); },
       {"backend-not-executable-for-user", "load-follows"}},
      {"CR LF properties",
       [](HealthyInstallation &inst) {
         inst.addInstance("Instance001", true, "dZORVANHOME " + inst.home() + "\r\n");
       },
       {"crlf-line-ends", "load-follows"}},
  };
  for (Case &c : cases) {
    HealthyInstallation inst(GOOD_BACKEND);
    c.breakIt(inst);
    DoctorResult r = runDoctorUnprivileged({"--load", "--json"});
    const nlohmann::json doc = r.report();
    EXPECT_EQ(problemIds(doc), c.ids) << c.name << r.out;
    for (const nlohmann::json &p : doc.at("problems"))
      for (const nlohmann::json &f : p.at("fixes"))
        EXPECT_EQ(f.get<std::string>().find('\r'), std::string::npos) << c.name << ": a carriage return pasted";
  }
}

// The owner's trace file: root's own check (root is not DB2) notes whose
// it is and asks nothing; another user is told how both can trace, and
// the fix, pasted, lets both trace, taking it from no one.
TEST(DoctorAnswers, TraceFileOfTheOwnerStaysTheOwners) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives the trace file to nobody");
  HealthyInstallation inst(GOOD_BACKEND);
  testsupport::writeFile(testsupport::kTracePath, "", 0600);
  ASSERT_EQ(chown(testsupport::kTracePath, kNobody, kNobody), 0);
  nlohmann::json asRoot = runDoctor({"--json"}).report();
  ASSERT_EQ(problemIds(asRoot), (Ids{"tracing-is-another-users", "checked-as-root"}));
  EXPECT_EQ(asRoot.at("problems")[0].at("severity"), "note");
  EXPECT_TRUE(asRoot.at("problems")[0].at("fixes").empty());

  doctortest::ProcessAs other(4242, 4242, {"QXREG=" + inst.registry()}, "/");
  DoctorResult r = runDoctor({"--pid", std::to_string(other.pid())});
  ASSERT_EQ(r.fixes().size(), 2u) << r.out;
  for (const std::string &fix : r.fixes())
    if (std::system(fix.substr(fix.find(": ") + 2).c_str()) != 0) GTEST_SKIP() << "this /tmp keeps no access lists";
  EXPECT_EQ(runDoctor({"--pid", std::to_string(other.pid()), "--json"}).report().at("trace_file").at("state"), "on");
  doctortest::ProcessAs owner(kNobody, kNobody, {"QXREG=" + inst.registry()}, "/");
  EXPECT_EQ(runDoctor({"--pid", std::to_string(owner.pid()), "--json"}).report().at("trace_file").at("state"), "on");
}

// The --pid line of the README and the manual page, with db2inst1 as
// nobody, on a host where two engine processes run; and --help's reasons
// for exit status 1, the manual page's.
TEST(DoctorAnswers, DocumentedCommandsHold) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("runs engine processes as nobody");
  HealthyInstallation inst(GOOD_BACKEND);
  std::string engine = testsupport::makeTempDir("engine") + "/db2sysc";
  testsupport::writeFile(engine, testsupport::readFile("/bin/sleep"), 0755);
  std::vector<pid_t> engines;
  for (int i = 0; i < 2; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      std::string qxreg = "QXREG=" + inst.registry();
      char *envp[] = {&qxreg[0], nullptr};
      if (testsupport::becomeUser(kNobody, kNobody, false))
        execle(engine.c_str(), "db2sysc", "60", static_cast<char *>(nullptr), envp);
      _exit(127);
    }
    testsupport::waitForExec(pid, engine);
    engines.push_back(pid);
  }
  for (const char *doc : {"/README.md", "/docs/man/acs-doctor.1"}) {
    std::smatch found;
    std::string text = testsupport::readFile(std::string(ZORVAN_SOURCE_DIR) + doc);
    text = std::regex_replace(text, std::regex(R"re(\\-)re"), "-");
    ASSERT_TRUE(std::regex_search(text, found, std::regex(R"re(acs-doctor --pid "\$\([^)]*\)")re"))) << doc;
    std::string command = std::regex_replace(found.str(), std::regex("db2inst1"), "nobody");
    command.replace(0, std::string("acs-doctor").size(), testsupport::reachableCopy(ACS_DOCTOR_PATH));
    int status = std::system((command + " --brief >/dev/null 2>&1").c_str());
    EXPECT_EQ(WEXITSTATUS(status), kBinds) << doc << ": " << command;
  }
  for (pid_t pid : engines) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  std::string help = runDoctor({"--help"}).out;
  for (const char *reason : {"kills or hangs the process loading it", "someone besides root and the instance owner"})
    EXPECT_NE(help.find(reason), std::string::npos) << reason;
}

}  // namespace
