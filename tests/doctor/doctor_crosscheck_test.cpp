// For each installation, as nobody with one environment and working
// directory: acs-doctor --pid of a process started so, acs-host run so,
// and acs-doctor --trace of acs-host's trace must tell the same story.
// The doctor binds exactly when acs-host's db2ACSInitialize did, and when
// it does not, the live check and the trace name the same cause.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "doctor_fixture.h"
#include "qxacs_example.h"
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::ProcessAs;
using doctortest::runDoctor;
using doctortest::runProgram;
using testsupport::kNobody;
using testsupport::kTracePath;

struct Subject {
  std::vector<std::string> environment;  // beside QXACS_EXAMPLE_DIR
  std::string cwd = "/";
};

struct Scenario {
  const char *name;
  std::function<void(Installation &, Subject &)> arrange;
  const char *cause;  // "" when it binds
  // What a trace can tell, where it cannot see what the process saw (the
  // working directory a relative QXREG was looked up in); else cause.
  const char *traceCause = nullptr;
};

std::string firstErrorId(const nlohmann::json &problems) {
  for (const nlohmann::json &p : problems)
    if (p.at("severity") == "error") return p.value("id", "(no id)");
  return "";
}

TEST(DoctorCrossCheck, LiveCheckTraceAndHostAgree) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("runs acs-host and the checked process as nobody");
  auto healthy = [](Installation &inst, Subject &s) {
    inst.addHealthyInstance();
    inst.installBackend(GOOD_BACKEND);
    s.environment.push_back("QXREG=" + inst.registry());
  };
  auto withDependency = [](bool found) {
    return [found](Installation &inst, Subject &s) {
      inst.addHealthyInstance();
      inst.installBackend(NEEDS_DEP_BACKEND);
      std::string deps = testsupport::makeTempDir("deps");
      testsupport::writeFile(deps + "/libqxdep.so", testsupport::readFile(QXDEP_LIBRARY), 0755);
      s.environment = {"QXREG=" + inst.registry()};
      if (found) s.environment.push_back("LD_LIBRARY_PATH=" + deps);
    };
  };
  const Scenario scenarios[] = {
      {"healthy", healthy, ""},
      {"relative registry, key near miss",
       [](Installation &inst, Subject &s) {
         inst.installBackend(GOOD_BACKEND);
         s.cwd = testsupport::makeTempDir("agent-cwd");
         testsupport::makeDirs(s.cwd + "/reg/Zorvan/Instance001/Base");
         testsupport::writeFile(s.cwd + "/reg/Zorvan/Instance001/Db2Agent", "");
         testsupport::writeFile(s.cwd + "/reg/Zorvan/Instance001/Base/.properties",
                                "dZORVANHOM " + inst.home() + "\n");
         s.environment = {"QXREG=reg"};
       },
       "key-near-miss", "registry-relative"},
      {"unregistered ZORVAN_INST",
       [&](Installation &inst, Subject &s) {
         healthy(inst, s);
         s.environment.push_back("ZORVAN_INST=Ghost");
       },
       "instance-not-registered"},
      {"back end not executable",
       [&](Installation &inst, Subject &s) {
         healthy(inst, s);
         ASSERT_EQ(chmod(inst.backendPath().c_str(), 0644), 0);
       },
       "backend-not-executable"},
      {"back end on a file system mounted noexec",
       [&](Installation &inst, Subject &s) {
         healthy(inst, s);
         ASSERT_EQ(mount("tmpfs", (inst.home() + "/Base").c_str(), "tmpfs", MS_NOEXEC, nullptr), 0);
         inst.installBackend(GOOD_BACKEND);
       },
       "backend-on-noexec-mount"},
      {"home not searchable",
       [&](Installation &inst, Subject &s) {
         healthy(inst, s);
         ASSERT_EQ(chmod(inst.home().c_str(), 0700), 0);
       },
       "directory-not-searchable"},
      {"entry point missing",
       [&](Installation &inst, Subject &s) {
         healthy(inst, s);
         inst.installBackend(NO_VERIFY_BACKEND);
       },
       "backend-lacks-entry-points"},
      {"dependency on the subject's LD_LIBRARY_PATH", withDependency(true), ""},
      {"dependency not on any path", withDependency(false), "backend-load-failed"},
  };
  for (const Scenario &c : scenarios) {
    SCOPED_TRACE(c.name);
    unlink(kTracePath);
    Installation inst;
    Subject subject;
    c.arrange(inst, subject);
    std::string catalogue = testsupport::makeTempDir("catalogue");
    ASSERT_EQ(chown(catalogue.c_str(), kNobody, kNobody), 0);
    subject.environment.push_back(std::string(QXACS_EXAMPLE_DIR_ENV) + "=" + catalogue);

    ProcessAs agent(kNobody, kNobody, subject.environment, subject.cwd);
    DoctorResult live = runDoctor({"--pid", std::to_string(agent.pid()), "--load", "--json"});
    ASSERT_NE(live.status, doctortest::kUsage) << live.err;
    nlohmann::json report = nlohmann::json::parse(live.out);

    // acs-host with the same identity, environment and directory, traced.
    testsupport::enableTrace();
    ASSERT_EQ(chown(kTracePath, kNobody, kNobody), 0);
    testsupport::unsetEnv("QXREG");
    testsupport::unsetEnv("ZORVAN_INST");
    for (const std::string &e : subject.environment)
      testsupport::setEnv(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1));
    runProgram(ACS_HOST_PATH, {"--lib", testsupport::reachableCopy(ZORVAN_LIBRARY_PATH), "--sequence", "backup"},
               kNobody, kNobody, subject.cwd);
    testsupport::unsetEnv("LD_LIBRARY_PATH");
    nlohmann::json traced = nlohmann::json::parse(runDoctor({"--trace", kTracePath, "--json"}).out);
    ASSERT_EQ(traced.at("processes").size(), 1u);
    const nlohmann::json &process = traced.at("processes")[0];
    bool hostBound = false;
    for (const nlohmann::json &call : process.at("calls"))
      if (call.at("function") == "db2ACSInitialize") hostBound = call.at("rc") != 11;

    EXPECT_EQ(report.at("binds").get<bool>(), hostBound) << live.out;
    EXPECT_EQ(firstErrorId(report.at("problems")), c.cause) << live.out;
    if (!hostBound) {
      EXPECT_EQ(firstErrorId(process.at("problems")), c.traceCause != nullptr ? c.traceCause : c.cause)
          << process.dump(2);
    }
  }
}

}  // namespace
