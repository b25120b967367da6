// The check runs in a process that is the subject: the back end's own
// dependencies, relative paths and every probe for causes are those of
// the checked process; a back end that kills that process is a finding;
// fixes name absolute paths and the login file that sets a variable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "doctor_fixture.h"
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::HealthyInstallation;
using doctortest::ProcessAs;
using doctortest::runDoctor;
using doctortest::runDoctorUnprivileged;
using doctortest::TemporaryUser;
using testsupport::kNobody;

using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::kUsage;

TEST(DoctorSubject, LoadFindsDependenciesThroughTheSubjectsLibraryPath) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("starts a process as nobody");
  HealthyInstallation inst(NEEDS_DEP_BACKEND);
  std::string deps = testsupport::makeTempDir("deps");
  testsupport::writeFile(deps + "/libqxdep.so", testsupport::readFile(QXDEP_LIBRARY), 0755);
  ProcessAs agent(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_LIBRARY_PATH=" + deps}, "/");
  DoctorResult r = runDoctor({"--pid", std::to_string(agent.pid()), "--load"});
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  EXPECT_CONTAINS(r.out, "14 of 14 entry points resolve");

  ProcessAs without(kNobody, kNobody, {"QXREG=" + inst.registry()}, "/");
  DoctorResult missing = runDoctor({"--pid", std::to_string(without.pid()), "--load"});
  EXPECT_EQ(missing.status, kDoesNotBind);
  EXPECT_CONTAINS(missing.firstScreen(), "was found but failed to load: libqxdep.so");

  // Found on a file system mounted noexec: there, but not to be run.
  if (std::string(ZORVAN_TEST_EMULATOR) != "")
    GTEST_SKIP() << "the emulator maps the code itself, so noexec stops no load under it";
  ASSERT_EQ(mount("tmpfs", deps.c_str(), "tmpfs", MS_NOEXEC, "mode=0755"), 0);
  testsupport::writeFile(deps + "/libqxdep.so", testsupport::readFile(QXDEP_LIBRARY), 0755);
  DoctorResult noexec = runDoctor({"--pid", std::to_string(agent.pid()), "--load"});
  EXPECT_EQ(noexec.status, kDoesNotBind);
  EXPECT_CONTAINS(noexec.firstScreen(), "The loader could not map " + deps + "/libqxdep.so to run: it lies on a "
                                        "file system mounted noexec at " + deps + ".");
  std::string fix = noexec.firstFix();
  EXPECT_EQ(fix, "As root: mount -o remount,exec " + deps);
  ASSERT_EQ(std::system(fix.substr(9).c_str()), 0);
  EXPECT_EQ(runDoctor({"--pid", std::to_string(agent.pid()), "--load"}).status, kBinds);
}

TEST(DoctorSubject, RelativeRegistryIsProbedInTheSubjectsDirectoryWithAbsoluteFixes) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("starts a process as nobody");
  Installation inst;
  inst.installBackend(GOOD_BACKEND);
  std::string above = testsupport::makeTempDir("agent"), cwd = above + "/cwd";
  std::string props = cwd + "/reg/Zorvan/Instance001/Base/.properties";
  testsupport::makeDirs(cwd + "/reg/Zorvan/Instance001/Base");
  testsupport::writeFile(cwd + "/reg/Zorvan/Instance001/Db2Agent", "");
  testsupport::writeFile(props, "dZORVANHOM " + inst.home() + "\n");
  ProcessAs agent(kNobody, kNobody, {"QXREG=reg"}, cwd);
  std::string pid = std::to_string(agent.pid());
  DoctorResult r = runDoctor({"--pid", pid});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), props + " line 1 reads 'dZORVANHOM " + inst.home() + "'");
  EXPECT_EQ(r.firstFix(), "As root: sed -i '1s|.*|dZORVANHOME " + inst.home() + "|' " + props);
  ASSERT_EQ(std::system(r.firstFix().substr(9).c_str()), 0);
  // It binds, but only until loading the back end moves the process into
  // its base directory, where "reg" is not.
  nlohmann::json bound = nlohmann::json::parse(runDoctor({"--pid", pid, "--json"}).out);
  EXPECT_TRUE(bound.at("binds").get<bool>());
  ASSERT_FALSE(bound.at("problems").empty());
  EXPECT_EQ(bound.at("problems")[0].at("id"), "registry-relative");
  EXPECT_EQ(bound.at("problems")[0].at("severity"), "warning");
  EXPECT_CONTAINS(bound.at("problems")[0].at("fix").get<std::string>(), "QXREG=" + cwd + "/reg");
  // A directory above it closed since the process went in: the process
  // still finds "reg" where it is, and so does the check.
  ASSERT_EQ(chmod(above.c_str(), 0700), 0);
  nlohmann::json closed = nlohmann::json::parse(runDoctor({"--pid", pid, "--json"}).out);
  EXPECT_TRUE(closed.at("binds").get<bool>()) << closed.at("problems");
  EXPECT_EQ(closed.at("identity").at("cwd"), cwd);
  EXPECT_EQ(closed.at("discovery").at("registry").at("path"), cwd + "/reg");
}

// Under --pid the value checked is the process's: a login file that sets
// another one is not where it came from, and editing it changes nothing.
TEST(DoctorSubject, ProcessValueNotFromTheLoginFilesIsNamedSo) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(GOOD_BACKEND);
  TemporaryUser user("export QXREG=" + inst.registry() + "\n");
  ASSERT_TRUE(user.created());
  ProcessAs agent(user.uid(), user.gid(), {"QXREG=" + inst.registry() + "x"}, "/");
  DoctorResult r = runDoctor({"--pid", std::to_string(agent.pid())});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  EXPECT_EQ(r.firstFix(), user.home() + "/.profile line 1 already sets QXREG=" + inst.registry() + ", but the QXREG=" +
                              inst.registry() + "x checked does not come from it: restart the DB2 instance from a "
                              "login shell of " + user.name() + " (su - " + user.name() + ").");
  // A relative QXREG that binds, through a link to the same registry.
  std::string dir = testsupport::makeTempDir("agent-cwd");
  ASSERT_EQ(symlink(inst.registry().c_str(), (dir + "/reg").c_str()), 0);
  ProcessAs relative(user.uid(), user.gid(), {"QXREG=reg"}, dir);
  DoctorResult warned = runDoctor({"--pid", std::to_string(relative.pid())});
  EXPECT_EQ(warned.status, kBinds) << warned.out << warned.err;
  EXPECT_CONTAINS(warned.out, "fix: " + user.home() + "/.profile line 1 already sets QXREG=" + inst.registry() +
                                  ", but the QXREG=reg checked does not come from it");
}

TEST(DoctorSubject, BackEndThatAbortsWhileLoadingIsAFinding) {
  HealthyInstallation inst(ABORTING_BACKEND);
  DoctorResult json = runDoctorUnprivileged({"--load", "--json"});
  EXPECT_EQ(json.status, kDoesNotBind) << json.err;
  nlohmann::json doc = nlohmann::json::parse(json.out);  // one object, nothing else
  EXPECT_FALSE(doc.at("binds").get<bool>());
  EXPECT_EQ(doc.at("load").at("signal"), SIGABRT);
  EXPECT_EQ(doc.at("problems")[0].at("id"), "backend-killed-the-process");
  EXPECT_CONTAINS(doc.at("problems")[0].at("cause").get<std::string>(), "DB2's process would die here");

  DoctorResult text = runDoctorUnprivileged({"--load"});
  EXPECT_EQ(text.status, kDoesNotBind);
  EXPECT_CONTAINS(text.firstScreen(), "DB2's process would die loading the back end (signal " +
                                          std::to_string(SIGABRT));
}

// A back end that never finishes loading would hang DB2's process there;
// the checking process is given --timeout seconds, then killed.
TEST(DoctorSubject, BackEndThatNeverFinishesLoadingIsAFinding) {
  HealthyInstallation inst(HANGING_BACKEND);
  DoctorResult r = runDoctorUnprivileged({"--load", "--timeout", "1", "--json"});
  EXPECT_EQ(r.status, kDoesNotBind) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_TRUE(doc.at("load").at("hung").get<bool>());
  EXPECT_TRUE(doc.at("load").at("signal").is_null());
  EXPECT_EQ(doc.at("problems")[0].at("id"), "backend-hangs-while-loading");
  EXPECT_CONTAINS(doc.at("headline").get<std::string>(),
                  "DB2's process would hang loading the back end (the checking process did not finish within 1 s");
  // Without --load nothing of it runs.
  EXPECT_EQ(runDoctor({"--timeout", "1"}).status, kBinds);
}

// What the subject leaves running holds the pipe the report comes
// through. A job a login profile puts in the background does not lose the
// login environment to the 20 s limit (nor is it killed: su - leaves it
// too); a helper a back end forks while loading does not turn the check
// into a hang, and goes with the checking process.
TEST(DoctorSubject, WhatTheSubjectLeavesRunningNeitherStallsNorOutlivesTheCheck) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(FORKING_BACKEND);
  TemporaryUser user("export QXREG=" + inst.registry() + "\nsleep 60 & echo $! > ~/job.pid\n");
  ASSERT_TRUE(user.created());
  nlohmann::json login = nlohmann::json::parse(runDoctor({"--as-user", user.name(), "--json"}).out);
  pid_t job = static_cast<pid_t>(std::stol("0" + testsupport::readFile(user.home() + "/job.pid")));
  EXPECT_EQ(job > 0 ? kill(job, SIGKILL) : -1, 0) << "the profile's job was killed, or never ran";
  EXPECT_TRUE(login.at("checked_as").at("login_error").is_null()) << login.at("checked_as");
  EXPECT_EQ(login.at("checked_as").at("environment").at("QXREG").at("value"), inst.registry());
  EXPECT_TRUE(login.at("binds").get<bool>()) << login.at("problems");

  // The helper would be reparented here; whether the doctor killed it
  // shows in the signal it died of.
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) GTEST_SKIP() << "no child subreaper here (qemu-user)";
  std::string pidDir = testsupport::makeTempDir("helper"), pidFile = pidDir + "/pid";
  ASSERT_EQ(chmod(pidDir.c_str(), 0777), 0);
  setenv("FAKE_HELPER_PID", pidFile.c_str(), 1);
  DoctorResult r = runDoctorUnprivileged({"--load", "--json"});
  unsetenv("FAKE_HELPER_PID");
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  pid_t helper = static_cast<pid_t>(std::stol("0" + testsupport::readFile(pidFile)));
  ASSERT_GT(helper, 0) << r.out;
  kill(helper, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(helper, &status, 0), helper);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the back end's helper outlived the check";
}

// One GetZorvanBaseDir call, as db2ACSInitialize makes it: the name and
// the scan are traced from inside it, once each.
TEST(DoctorSubject, DiscoveryRunsOnceAsDb2CallsIt) {
  HealthyInstallation inst(GOOD_BACKEND);
  nlohmann::json trace = nlohmann::json::parse(runDoctor({"--json"}).out).at("discovery").at("trace");
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], "GetZorvanBaseDir: -----------Entered--------");
  int named = 0, scans = 0;
  for (const nlohmann::json &line : trace) {
    named += line == "GetZorvanInstanceName: -----------Entered--------" ? 1 : 0;
    scans += line == "get_first_zorvan_instname: -----------Entered--------" ? 1 : 0;
  }
  EXPECT_EQ(named, 1);
  EXPECT_EQ(scans, 1);
}

TEST(DoctorSubject, StageNamesSayWhereDiscoveryStopped) {
  Installation inst;
  inst.addHealthyInstance();
  inst.installBackend(GOOD_BACKEND, 0644);
  auto stage = [](const DoctorResult &r) {
    return nlohmann::json::parse(r.out).at("discovery").at("result").get<std::string>();
  };
  EXPECT_EQ(stage(runDoctor({"--json"})), "backend-not-accessible");
  // Loading works, but DB2 never gets that far: the load section says so.
  DoctorResult loaded = runDoctorUnprivileged({"--load"});
  EXPECT_CONTAINS(loaded.out, "14 of 14 entry points resolve");
  EXPECT_CONTAINS(loaded.out, "but DB2 would never load it: discovery stops first");
  inst.addInstance("Instance001", true, "# no key\n");
  EXPECT_EQ(stage(runDoctor({"--json"})), "no-home-directory");
  ASSERT_EQ(unlink(inst.propertiesPath("Instance001").c_str()), 0);
  EXPECT_EQ(stage(runDoctor({"--json"})), "properties-not-opened");
}

TEST(DoctorSubject, UnregisteredInstanceListsTheRegisteredOnesAndACaseOnlyNearMiss) {
  Installation inst;
  inst.addHealthyInstance();
  inst.addInstance("Payroll", false, "dZORVANHOME /x\n");
  testsupport::setEnv("ZORVAN_INST", "instance001");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "registered under " + inst.registry() + "/Zorvan: Instance001, Payroll.");
  EXPECT_CONTAINS(r.firstScreen(), "'Instance001' differs only in case");
  EXPECT_CONTAINS(r.firstFix(), "ZORVAN_INST=Instance001");
}

TEST(DoctorSubject, VariableSetInALoginFileIsFixedOnItsLine) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(GOOD_BACKEND);
  testsupport::unsetEnv("QXREG");
  // bash reads ~/.bash_profile and leaves ~/.profile unread.
  TemporaryUser user("# mine\nexport QXREG=" + inst.registry() + "x\n", "/bin/bash", ".bash_profile");
  ASSERT_TRUE(user.created());
  testsupport::writeFile(user.home() + "/.profile", "export QXREG=/elsewhere\n");
  DoctorResult r = runDoctor({"--as-user", user.name()});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  std::string fix = r.firstFix();
  EXPECT_EQ(fix, "As " + user.name() + ": sed -i '2s|.*|export QXREG=" + inst.registry() + "|' " +
                     user.home() + "/.bash_profile");
  ASSERT_EQ(std::system(fix.substr(fix.find(": ") + 2).c_str()), 0);
  EXPECT_EQ(runDoctor({"--as-user", user.name()}).status, kBinds);
  // The user's own check starts the same login shell as su - does.
  DoctorResult own = runDoctor({"--as-user", user.name()}, user.uid(), user.gid());
  EXPECT_EQ(own.status, kBinds) << own.out << own.err;

  // A line that sets more than the variable: only its assignment changes,
  // quotes and all.
  std::string profile = user.home() + "/.bash_profile";
  testsupport::writeFile(profile, "export QXREG=\"" + inst.registry() + ".x\" ZORVAN_INST=Instance001\n");
  fix = runDoctor({"--as-user", user.name()}).firstFix();
  EXPECT_EQ(fix, "As " + user.name() + ": sed -i '1s|QXREG=\"" + inst.registry() + "\\.x\"|QXREG=" +
                     inst.registry() + "|' " + profile);
  ASSERT_EQ(std::system(fix.substr(fix.find(": ") + 2).c_str()), 0);
  EXPECT_EQ(testsupport::readFile(profile), "export QXREG=" + inst.registry() + " ZORVAN_INST=Instance001\n");
  EXPECT_EQ(runDoctor({"--as-user", user.name()}).status, kBinds);
}

// DB2's own login files source each other, in one-line forms too, and
// db2profile sources userprofile through INSTHOME; the setting that counts
// is the one the shell runs last, wherever its file is read.
TEST(DoctorSubject, SettingReachedThroughOneLineSourcesIsFixedWhereItRunsLast) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(GOOD_BACKEND);
  TemporaryUser user("export QXREG=" + inst.registry() + "\n[ -f ~/.bashrc ] && . ~/.bashrc\n", "/bin/bash",
                     ".bash_profile");
  ASSERT_TRUE(user.created());
  testsupport::makeDirs(user.home() + "/sqllib");
  testsupport::writeFile(user.home() + "/sqllib/db2profile",
                         "INSTHOME=" + user.home() + "\nif [ -f ${INSTHOME?}/sqllib/userprofile ]; then\n"
                         "    . ${INSTHOME?}/sqllib/userprofile\nfi\n");
  testsupport::writeFile(user.home() + "/sqllib/userprofile", "export ZORVAN_INST=Payroll\n");
  testsupport::writeFile(user.home() + "/.bashrc",
                         "if [ -f \"$HOME/sqllib/db2profile\" ]; then . \"$HOME/sqllib/db2profile\"; fi\n"
                         "export ZORVAN_INST=instance001\n");
  DoctorResult r = runDoctor({"--as-user", user.name()});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  std::string fix = r.firstFix();
  EXPECT_EQ(fix, "As " + user.name() + ": sed -i '2s|.*|export ZORVAN_INST=Instance001|' " + user.home() +
                     "/.bashrc");
  ASSERT_EQ(std::system(fix.substr(fix.find(": ") + 2).c_str()), 0);
  EXPECT_EQ(runDoctor({"--as-user", user.name()}).status, kBinds);
}

// A site sets QXREG for every user in /etc/profile.d, which /etc/profile
// sources in a for loop: the fix edits the file there that sets it last.
// Both are mounted over in this test's own mount namespace only.
TEST(DoctorSubject, SettingInProfileDIsFixedWhereTheLoopSourcesIt) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account and mounts over /etc/profile");
  HealthyInstallation inst(GOOD_BACKEND);
  testsupport::unsetEnv("QXREG");
  std::string etc = testsupport::makeTempDir("etc");
  testsupport::makeDirs(etc + "/profile.d");
  testsupport::writeFile(etc + "/profile", "if [ -d /etc/profile.d ]; then\n  for i in /etc/profile.d/*.sh; do\n"
                                           "    if [ -r $i ]; then\n      . $i\n    fi\n  done\nfi\n");
  testsupport::writeFile(etc + "/profile.d/a.sh", "export QXREG=/nowhere\n");
  testsupport::writeFile(etc + "/profile.d/zorvan.sh", "# site\nexport QXREG=" + inst.registry() + "x\n");
  ASSERT_EQ(mount((etc + "/profile").c_str(), "/etc/profile", nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(mount((etc + "/profile.d").c_str(), "/etc/profile.d", nullptr, MS_BIND, nullptr), 0);
  TemporaryUser user("# nothing of QXREG\n");
  ASSERT_TRUE(user.created());
  DoctorResult r = runDoctor({"--as-user", user.name()});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  std::string fix = r.firstFix();
  EXPECT_EQ(fix, "As root: sed -i '2s|.*|export QXREG=" + inst.registry() + "|' /etc/profile.d/zorvan.sh");
  ASSERT_EQ(std::system(fix.substr(fix.find(": ") + 2).c_str()), 0);
  EXPECT_EQ(runDoctor({"--as-user", user.name()}).status, kBinds);
}

TEST(DoctorSubject, UnsetVariableGoesToTheFileTheShellReadsFirst) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  Installation inst;
  inst.addInstance("Instance001", false, "dZORVANHOME " + inst.home() + "\n");
  TemporaryUser user("export QXREG=" + inst.registry() + "\n", "/bin/bash", ".bash_login");
  ASSERT_TRUE(user.created());
  testsupport::makeDirs(user.home() + "/sqllib");
  testsupport::writeFile(user.home() + "/sqllib/userprofile", "# site settings\n");
  DoctorResult r = runDoctor({"--as-user", user.name()});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  EXPECT_EQ(r.fixes(), (std::vector<std::string>{
                           "As root: touch " + inst.registry() + "/Zorvan/Instance001/Db2Agent",
                           "As " + user.name() + ": printf '%s\\n' 'export ZORVAN_INST=Instance001' >> " + user.home() +
                               "/.bash_login",
                           "Then restart the DB2 instance, so that it starts with the new setting."}));
}

TEST(DoctorSubject, BriefIsOneLineWithTheHostTheVerdictAndTheCause) {
  Installation inst;
  inst.addHealthyInstance();
  inst.installBackend(GOOD_BACKEND, 0644);
  char host[256] = "";
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  DoctorResult bad = runDoctorUnprivileged({"--brief", "--load"});
  EXPECT_EQ(bad.status, kDoesNotBind);
  EXPECT_EQ(bad.out.find('\n'), bad.out.size() - 1) << bad.out;
  EXPECT_EQ(bad.out.rfind(std::string(host) + ": DB2 would NOT bind the back end", 0), 0u) << bad.out;
  EXPECT_CONTAINS(bad.out, inst.backendPath() + " is not executable (mode 0644)");
  ASSERT_EQ(chmod(inst.backendPath().c_str(), 0755), 0);
  DoctorResult good = runDoctorUnprivileged({"--brief", "--load"});
  EXPECT_EQ(good.status, kBinds);
  EXPECT_EQ(good.out, std::string(host) + ": DB2 would bind the back end (checked as " +
                          (testsupport::canActAsOtherUsers() ? "nobody" : testsupport::ownUserName()) + ").\n");
}

// Binding is the load and the fourteen entry points: without --load the
// doctor claims only that DB2 finds the back end.
TEST(DoctorSubject, WithoutLoadTheVerdictClaimsOnlyTheFinding) {
  HealthyInstallation inst(NO_VERIFY_BACKEND);
  DoctorResult found = runDoctor({"--brief"});
  EXPECT_EQ(found.status, kBinds);
  EXPECT_CONTAINS(found.out, ": DB2 would find the back end (checked as " + testsupport::ownUserName() +
                                 "); add --load to check that it binds.\n");
  EXPECT_EQ(found.out.find("would bind"), std::string::npos) << found.out;
  DoctorResult loaded = runDoctorUnprivileged({"--brief", "--load"});
  EXPECT_EQ(loaded.status, kDoesNotBind);
  EXPECT_CONTAINS(loaded.out, "DB2 would NOT bind the back end");
  EXPECT_CONTAINS(loaded.out, "lacks db2ACSVerifypp");
}

TEST(DoctorSubject, OrdinaryUserCannotCheckAnotherUsersProcess) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("drops to nobody");
  DoctorResult r = runDoctor({"--pid", std::to_string(getpid())}, kNobody, kNobody);
  EXPECT_EQ(r.status, kUsage);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "acs-doctor: --pid " + std::to_string(getpid()) + ": needs root, or run it as root\n");
}

}  // namespace

// A C shell reads neither ~/.profile nor "export": the fix edits its
// setenv line, or appends one to its rc file, where DB2's usercshrc is
// the other place.
TEST(DoctorSubject, CShellVariablesAreFixedInItsOwnFilesAndSyntax) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  Installation inst;
  inst.addInstance("Instance001", false, "dZORVANHOME " + inst.home() + "\n");
  inst.installBackend(GOOD_BACKEND);
  TemporaryUser user("setenv QXREG " + inst.registry() + "x\n", "/bin/csh", ".cshrc");
  ASSERT_TRUE(user.created());
  testsupport::makeDirs(user.home() + "/sqllib");
  testsupport::writeFile(user.home() + "/sqllib/usercshrc", "# site settings\n");
  // Checked as the user itself, with the value its shell set.
  testsupport::setEnv("QXREG", inst.registry() + "x");
  DoctorResult r = doctortest::runProgram(ACS_DOCTOR_PATH, {}, user.uid(), user.gid());
  EXPECT_EQ(r.status, kDoesNotBind) << r.out << r.err;
  EXPECT_EQ(r.firstFix(), "As " + user.name() + ": sed -i '1s|.*|setenv QXREG " + inst.registry() + "|' " +
                             user.home() + "/.cshrc");
  testsupport::setEnv("QXREG", inst.registry());
  r = doctortest::runProgram(ACS_DOCTOR_PATH, {}, user.uid(), user.gid());
  EXPECT_CONTAINS(r.out, "printf '%s\\n' 'setenv ZORVAN_INST Instance001' >> " + user.home() + "/.cshrc\n");
}
