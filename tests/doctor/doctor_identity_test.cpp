// acs-doctor checks with the identity and environment DB2 has: a running
// process's (--pid) or a user's login environment (--as-user); and names
// the causes that only such a check can see, with fixes that work when
// pasted. Each broken case exits 1 with its cause and fix on the first
// screen; the healthy installation checked the same way exits 0.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "doctor_fixture.h"
#include "test_support.h"

namespace {

using doctortest::asOwner;
using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::Healthy;
using doctortest::ProcessAs;
using doctortest::runDoctor;
using doctortest::TemporaryUser;
using testsupport::kNobody;

using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::kUsage;

// Pastes a fix the way its reader would: "As root: cmd" or "As someone
// (or root): cmd" is run as this test, which is that someone or root.
int paste(const std::string &fix) {
  std::string command = fix;
  if (fix.compare(0, 3, "As ") == 0 && fix.find(": ") != std::string::npos)
    command = fix.substr(fix.find(": ") + 2);
  return std::system(command.c_str());
}

TEST(DoctorIdentity, AsUserTakesQxregFromTheUsersLoginProfile) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  Healthy inst;
  testsupport::unsetEnv("QXREG");  // only the profile knows the registry
  TemporaryUser user("QXREG=" + inst.registry() + "\nexport QXREG\n");
  ASSERT_TRUE(user.created());

  DoctorResult r = runDoctor({"--as-user", user.name(), "--load"});
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  std::string screen = r.firstScreen();
  EXPECT_CONTAINS(screen, "Checked as " + user.name());
  EXPECT_CONTAINS(screen, "QXREG=" + inst.registry() + ", from " + user.name() +
                              "'s login environment");
  EXPECT_CONTAINS(r.out, "14 of 14 entry points resolve");

  // Root's own environment lacks QXREG: the plain check fails and says why.
  DoctorResult asRoot = runDoctor({});
  EXPECT_EQ(asRoot.status, kDoesNotBind);
  EXPECT_CONTAINS(asRoot.firstScreen(), "with this process's own identity and environment");
  EXPECT_CONTAINS(asRoot.firstScreen(), "No DB2 engine process (db2sysc) is running here");
  EXPECT_FALSE(asRoot.fixes().empty()) << asRoot.out;
  for (const std::string &fix : asRoot.fixes())
    EXPECT_EQ(fix.find("/root/"), std::string::npos) << "root's own files are no fix for DB2: " << fix;
}

// A login that fails leaves the check with an empty environment, which
// DB2's is not: even the one --brief line says what was checked.
TEST(DoctorIdentity, UnreadableLoginEnvironmentIsInTheVerdict) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  Healthy inst;
  TemporaryUser user("exit 3\n");
  ASSERT_TRUE(user.created());
  std::string as = "(checked as " + user.name() + ", with an empty environment: " + user.name() +
                   "'s could not be read)";
  DoctorResult brief = runDoctor({"--as-user", user.name(), "--brief"});
  EXPECT_CONTAINS(brief.out, as);
  EXPECT_EQ(brief.out.find('\n'), brief.out.size() - 1) << brief.out;
  DoctorResult full = runDoctor({"--as-user", user.name()});
  EXPECT_CONTAINS(full.firstScreen(), "ended with status 3");
  EXPECT_CONTAINS(full.firstScreen(), as);

  // A home directory the user cannot enter: su - starts the login shell
  // in /, and the check resolves relative paths there, not in the doctor's.
  ASSERT_EQ(chmod(user.home().c_str(), 0), 0);
  nlohmann::json closed = nlohmann::json::parse(runDoctor({"--as-user", user.name(), "--json"}).out);
  EXPECT_EQ(closed.at("identity").at("cwd"), "/");
  EXPECT_CONTAINS(closed.at("problems").dump(), "; relative paths were resolved from /, where a login shell starts");
}

TEST(DoctorIdentity, PidChecksAsTheRunningProcessWithItsEnvironment) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("starts a process as nobody");
  Healthy inst;
  testsupport::unsetEnv("QXREG");
  ProcessAs agent(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_LIBRARY_PATH=/opt/agent-libs"},
                  "/");
  std::string pid = std::to_string(agent.pid());

  DoctorResult good = runDoctor({"--pid", pid, "--load"});
  EXPECT_CONTAINS(good.firstScreen(), "LD_LIBRARY_PATH=/opt/agent-libs, with the rest of that environment");
  EXPECT_EQ(good.status, kBinds) << good.out << good.err;
  EXPECT_CONTAINS(good.firstScreen(), "Checked as nobody (uid 65534");
  EXPECT_CONTAINS(good.firstScreen(), "as process " + pid + " runs");
  EXPECT_CONTAINS(good.firstScreen(), "QXREG=" + inst.registry() + ", from process " + pid +
                                          "'s environment");

  // Only root may execute the back end: discovery and --load agree, both as nobody.
  ASSERT_EQ(chmod(inst.backendPath().c_str(), 0700), 0);
  DoctorResult bad = runDoctor({"--pid", pid, "--load"});
  EXPECT_EQ(bad.status, kDoesNotBind);
  EXPECT_CONTAINS(bad.firstScreen(), "The back end " + inst.backendPath() +
                                         " fails the execute test for nobody (mode 0700");
  EXPECT_EQ(bad.firstFix(), "As root: chmod 755 " + inst.backendPath());
  EXPECT_EQ(bad.out.find("14 of 14 entry points resolve"), std::string::npos) << bad.out;
  EXPECT_EQ(paste(bad.firstFix()), 0);
  EXPECT_EQ(runDoctor({"--pid", pid, "--load"}).status, kBinds);
}

TEST(DoctorIdentity, UnreadableProcessIsRefusedInOneLine) {
  DoctorResult r = runDoctor({"--pid", "999999999"});
  EXPECT_EQ(r.status, kUsage);
  EXPECT_CONTAINS(r.err, "cannot read process 999999999");
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  DoctorResult typo = runDoctor({"--pid", "12x"});
  EXPECT_EQ(typo.status, kUsage);
  EXPECT_EQ(typo.err, "acs-doctor: --pid 12x: not a process id\n");
  EXPECT_EQ(runDoctor({"--pid", "1", "--as-user", "root"}).status, kUsage);
}

TEST(DoctorCauses, DirectoryTheUserCannotSearchIsNamedAndFixed) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("starts a process as nobody");
  Installation inst;
  std::string opt = testsupport::makeTempDir("opt");
  std::string registry = opt + "/product/registry";
  testsupport::makeDirs(registry + "/Zorvan/Instance001/Base");
  testsupport::writeFile(registry + "/Zorvan/Instance001/Db2Agent", "");
  testsupport::writeFile(registry + "/Zorvan/Instance001/Base/.properties",
                         "dZORVANHOME " + inst.home() + "\n");
  inst.installBackend(GOOD_BACKEND);
  ASSERT_EQ(chmod(opt.c_str(), 0700), 0);
  ProcessAs agent(kNobody, kNobody, {"QXREG=" + registry}, "/");
  std::string pid = std::to_string(agent.pid());

  DoctorResult r = runDoctor({"--pid", pid});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "the directory " + opt + " (owner root, mode 0700) is not "
                                   "searchable for nobody");
  // Access for nobody alone: opt stays closed to everyone else. QXREG, the
  // way there, is nobody's to set: the fix says so first.
  ASSERT_EQ(r.fixes().size(), 2u) << r.out;
  EXPECT_EQ(r.fixes()[0].rfind("QXREG, which nobody may set, leads through " + opt, 0), 0u) << r.out;
  EXPECT_EQ(r.fixes()[1], "As root: setfacl -m u:nobody:x " + opt);
  ASSERT_EQ(paste(r.fixes()[1]), 0);
  EXPECT_EQ(runDoctor({"--pid", pid}).status, kBinds);
  struct stat st;
  ASSERT_EQ(stat(opt.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IXOTH, 0u);

  // The same on the way to the back end: the home's parent.
  std::string homeParent = inst.home().substr(0, inst.home().rfind('/'));
  ASSERT_EQ(chmod(inst.home().c_str(), 0700), 0);
  DoctorResult lib = runDoctor({"--pid", pid});
  EXPECT_EQ(lib.status, kDoesNotBind);
  EXPECT_CONTAINS(lib.firstScreen(), "cannot reach " + inst.backendPath() + ": the directory " +
                                         inst.home() + " (owner root, mode 0700)");
}

TEST(DoctorCauses, NearMissKeyLineIsPointedAtAndItsFixWorks) {
  Healthy inst;
  const std::string props = inst.propertiesPath("Instance001");
  struct Case {
    std::string line, why;
  } cases[] = {
      {"dZORVANHOM " + inst.home(), "the key is misspelt"},
      {"dZorvanHome " + inst.home(), "the key's case differs"},
      {"dZORVANHOME=" + inst.home(), "the key is joined to its value with '='"},
  };
  for (const Case &c : cases) {
    inst.addInstance("Instance001", true, "# product home\n" + c.line + "\n");
    DoctorResult r = runDoctor({});
    EXPECT_EQ(r.status, kDoesNotBind) << c.line;
    EXPECT_CONTAINS(r.firstScreen(), props + " line 2 reads '" + c.line + "': " + c.why);
    EXPECT_EQ(r.firstFix(), asOwner() + ": sed -i '2s|.*|dZORVANHOME " + inst.home() + "|' " + props);
    EXPECT_EQ(paste(r.firstFix()), 0);
    EXPECT_EQ(runDoctor({}).status, kBinds) << testsupport::readFile(props);
  }
}

TEST(DoctorCauses, MistypedQxregPointsAtTheSimilarRegistry) {
  Healthy inst;
  testsupport::setEnv("QXREG", inst.registry() + "x");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "QXREG names " + inst.registry() + "x, which does not exist");
  EXPECT_CONTAINS(r.firstScreen(), inst.registry() + " does, with a similar name");
  // Set in the environment (as root), or in the user's own login file.
  EXPECT_CONTAINS(r.firstFix(), "QXREG=" + inst.registry() + (geteuid() == 0 ? " " : "' >> "));
}

TEST(DoctorCauses, MarkerLeftBehindBindsButHoldsItsCall) {
  Healthy inst;
  testsupport::writeFile("/tmp/db2ACSDeleteDebug", "");
  DoctorResult r = runDoctor({});
  EXPECT_EQ(r.status, kDoesNotBind);
  EXPECT_CONTAINS(r.firstScreen(), "DB2 would find the back end, but db2ACSDelete would wait while "
                                   "/tmp/db2ACSDeleteDebug exists");
  EXPECT_EQ(r.firstScreen().find("would NOT bind"), std::string::npos);
  // Root's marker in sticky /tmp: only root may remove it, and the fix says so.
  std::string fix = r.firstFix();
  if (geteuid() == 0) {
    EXPECT_EQ(fix, "As root: rm /tmp/db2ACSDeleteDebug");
  }
  EXPECT_EQ(paste(fix), 0);
  EXPECT_EQ(runDoctor({}).status, kBinds);
}

}  // namespace

// A plain chroot has no /proc: the checking process is started from the
// file the kernel ran, and the doctor does not say that no DB2 engine runs
// when it cannot see any process. From outside, a process in the chroot
// is checked in the tree it sees.
TEST(DoctorChroot, ChecksInAPlainChrootWithoutProc) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("chroot");
  if (std::string(ZORVAN_TEST_EMULATOR) != "") GTEST_SKIP() << "the chroot would need the emulator";
  if (std::string(ZORVAN_SANITIZE) != "")
    GTEST_SKIP() << "sanitizer build: the sanitizer runtimes need /proc, which the chroot lacks";
  std::string root = testsupport::makeTempDir("chroot");
  // The doctor and sleep, and what the dynamic loader needs for them,
  // where ldd finds it.
  for (const char *program : {ACS_DOCTOR_PATH, "/bin/sleep"}) {
    std::vector<std::string> files = {program};
    if (FILE *ldd = popen(("ldd " + std::string(program)).c_str(), "r")) {
      char word[4096];
      while (fscanf(ldd, "%4095s", word) == 1)
        if (word[0] == '/') files.push_back(word);
      pclose(ldd);
    }
    for (const std::string &file : files) {
      std::string to = root + (file == program ? "/usr/bin" + file.substr(file.rfind('/')) : file);
      testsupport::makeDirs(to.substr(0, to.rfind('/')));
      testsupport::writeFile(to, testsupport::readFile(file), 0755);
    }
  }
  for (const char *file : {"/etc/passwd", "/etc/group"}) {
    testsupport::makeDirs(root + "/etc");
    testsupport::writeFile(root + file, testsupport::readFile(file));
  }
  testsupport::makeDirs(root + "/reg/Zorvan/Instance001/Base");
  testsupport::makeDirs(root + "/home/Base");
  testsupport::writeFile(root + "/reg/Zorvan/Instance001/Base/.properties", "dZORVANHOME /home\n");
  testsupport::writeFile(root + "/reg/Zorvan/Instance001/Db2Agent", "");
  testsupport::writeFile(root + "/home/Base/libqxacsint.so", "", 0755);
  testsupport::makeDirs(root + "/usr/lib");
  testsupport::writeFile(root + "/usr/lib/libzorvan_db2acs.so", testsupport::readFile(ZORVAN_LIBRARY_PATH), 0755);

  for (uid_t uid : {kNobody, uid_t(0)}) {
    SCOPED_TRACE("uid " + std::to_string(uid));
    std::string out = root + "/report";
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0 || chroot(root.c_str()) != 0 || chdir("/") != 0) _exit(125);
      if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(uid) != 0)) _exit(125);
      char program[] = "/usr/bin/acs-doctor", json[] = "--json", qxreg[] = "QXREG=/reg";
      char *argv[] = {program, json, nullptr}, *envp[] = {qxreg, nullptr};
      execve(program, argv, envp);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::string report = testsupport::readFile(out);
    ASSERT_TRUE(WIFEXITED(status)) << report;
    EXPECT_EQ(WEXITSTATUS(status), kBinds) << report;
    nlohmann::json doc = nlohmann::json::parse(report, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << report;
    EXPECT_EQ(doc["identity"]["uid"], uid);
    EXPECT_EQ(doc["discovery"]["backend"]["path"], "/home/Base/libqxacsint.so");
    // Found beside the program the kernel ran, with no /proc/self/exe.
    EXPECT_EQ(doc["paths"]["installed_library"], "/usr/lib/libzorvan_db2acs.so");
    if (uid == 0) {
      EXPECT_CONTAINS(report, "DB2's engine processes (db2sysc) cannot be seen (/proc cannot be read");
      EXPECT_EQ(report.find("No DB2 engine process"), std::string::npos) << report;
    }
  }

  // From outside, --pid of a process in the chroot checks in its tree,
  // the library it has mapped included, named as that process names it.
  pid_t sleeper = fork();
  if (sleeper == 0) {
    if (chroot(root.c_str()) != 0 || chdir("/home") != 0 || setgroups(0, nullptr) != 0 ||
        setgid(kNobody) != 0 || setuid(kNobody) != 0)
      _exit(125);
    char program[] = "/usr/bin/sleep", seconds[] = "60", qxreg[] = "QXREG=/reg",
         preload[] = "LD_PRELOAD=/usr/lib/libzorvan_db2acs.so";
    char *argv[] = {program, seconds, nullptr}, *envp[] = {qxreg, preload, nullptr};
    execve(program, argv, envp);
    _exit(127);
  }
  testsupport::waitForExec(sleeper, root + "/usr/bin/sleep");
  DoctorResult outside = runDoctor({"--pid", std::to_string(sleeper), "--json"});
  // Its own user cannot enter the chroot: refused, not answered for the wrong tree.
  DoctorResult own = runDoctor({"--pid", std::to_string(sleeper)}, kNobody, kNobody);
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(outside.status, kBinds) << outside.out << outside.err;
  nlohmann::json doc = nlohmann::json::parse(outside.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << outside.out << outside.err;
  EXPECT_EQ(doc["identity"]["cwd"], "/home");
  EXPECT_EQ(doc["discovery"]["backend"]["path"], "/home/Base/libqxacsint.so");
  EXPECT_EQ(doc["paths"]["acs_library"], "/usr/lib/libzorvan_db2acs.so");
  EXPECT_EQ(doc["trust"]["chain"][0]["path"], "/") << doc["trust"];
  EXPECT_CONTAINS(doc["trust"].dump(), "\"/usr/lib/libzorvan_db2acs.so\"");
  EXPECT_EQ(own.status, kUsage) << own.out << own.err;
  EXPECT_CONTAINS(own.err, "which only root can enter to check");
}
