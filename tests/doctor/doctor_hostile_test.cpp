// Root runs acs-doctor on a host where the instance owner and every other
// local user may be hostile. Each case makes an attack as they would (a
// login profile, a preload, a back end, a properties file, a forged trace
// file, a FIFO) and checks what it must not achieve: a command in root's
// shell, a descriptor of root's, code run as root, a pasted fix that does
// more than it says, a verdict a preload forged, a hang, unbounded memory.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "doctor_fixture.h"
#include "test_support.h"
#include "zorvan/trace_texts.h"

namespace {

using doctortest::DoctorResult;
using doctortest::HealthyInstallation;
using doctortest::kBinds;
using doctortest::kDoesNotBind;
using doctortest::kUsage;
using doctortest::ProcessAs;
using doctortest::runDoctor;
using doctortest::TemporaryUser;
using testsupport::kNobody;
using testsupport::kTracePath;
using Lines = std::vector<std::string>;

Lines linesOf(const std::string &text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The mount namespace a process is in ("" when it cannot be read).
std::string mountNamespace(const std::string &pid) {
  char link[64] = "";
  ssize_t n = readlink(("/proc/" + pid + "/ns/mnt").c_str(), link, sizeof link - 1);
  return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : "";
}

// The processes named spy-helper in a mount namespace, by default this
// case's: each case has one of its own, which everything it starts shares,
// so a helper of a case running beside it is not counted.
std::set<pid_t> spyHelpers(const std::string &ours = mountNamespace("self")) {
  std::set<pid_t> found;
  DIR *proc = opendir("/proc");
  while (const struct dirent *e = proc != nullptr ? readdir(proc) : nullptr) {
    std::string name = e->d_name;
    std::string stat = testsupport::readFile("/proc/" + name + "/stat");
    // A zombie has ended: only its parent has yet to hear of it.
    if (name.find_first_not_of("0123456789") == std::string::npos && stat.find("(spy-helper) ") != std::string::npos &&
        stat.find("(spy-helper) Z") == std::string::npos && mountNamespace(name) == ours)
      found.insert(static_cast<pid_t>(std::stol(name)));
  }
  if (proc != nullptr) closedir(proc);
  return found;
}

// A helper the spy left in the check outlived it: it is still there after
// the check (what lived before, the agent's own, may have gone since).
void expectNoneNew(const std::set<pid_t> &before) {
  for (pid_t helper : spyHelpers())
    EXPECT_TRUE(before.count(helper) != 0) << "a helper of the owner's outlived the check: " << helper;
}

struct TerminalRun {
  int status = -1;
  std::string out;    // what acs-doctor wrote to the terminal
  std::string typed;  // what its shell found typed in after it ended
};

// acs-doctor started from a root shell on a terminal: the shell leads a
// session whose controlling terminal is a fresh pseudo-terminal, holds a
// descriptor (7) on a file only root may read, as a wrapper script may
// leave one, runs acs-doctor in the foreground and, once it has ended,
// reads what waits as typed input, which that shell would run as root.
TerminalRun runDoctorOnTerminal(const std::vector<std::string> &args) {
  testsupport::writeFile("/tmp/root-secret", "root's secret\n", 0600);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  EXPECT_EQ(grantpt(master) | unlockpt(master), 0);
  std::string slave = ptsname(master), typedFile = testsupport::makeTempDir("typed") + "/input";
  std::string doctor = testsupport::reachableCopy(ACS_DOCTOR_PATH);
  pid_t shell = fork();
  if (shell == 0) {
    int tty = setsid() < 0 ? -1 : open(slave.c_str(), O_RDWR);
    int secret = open("/tmp/root-secret", O_RDONLY);
    if (tty < 0 || secret < 0 || dup2(tty, 0) < 0 || dup2(tty, 1) < 0 || dup2(tty, 2) < 0 || dup2(secret, 7) < 0)
      _exit(126);
    pid_t child = fork();
    if (child == 0) {
      std::vector<char *> argv = {&doctor[0]};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      alarm(120);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    fcntl(0, F_SETFL, O_NONBLOCK);
    char input[256];
    ssize_t n = read(0, input, sizeof input);
    testsupport::writeFile(typedFile, n > 0 ? std::string(input, static_cast<std::size_t>(n)) : "");
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
  }
  TerminalRun run;
  char buffer[4096];
  for (int status = 0;;) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) run.out.append(buffer, static_cast<std::size_t>(n));
    }
    if (waitpid(shell, &status, WNOHANG) == shell) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
  }
  close(master);
  run.typed = testsupport::readFile(typedFile);
  return run;
}

// A directory everyone may write, for the spy's report.
std::string spyReport() {
  std::string dir = testsupport::makeTempDir("spy");
  EXPECT_EQ(chmod(dir.c_str(), 0777), 0);
  return dir + "/report";
}

// Every line the spy wrote in acs-doctor's checks (not in the process
// checked, which DB2's own is): it reached no terminal and typed nothing,
// read from /dev/null and held no descriptor of root's, and it never ran
// in the checking process, which decides the verdict.
void expectSpyFoundNothing(const std::string &report, const std::string &agentRole = "") {
  Lines lines = linesOf(testsupport::readFile(report));
  int seen = 0;
  for (const std::string &line : lines) {
    if (!agentRole.empty() && line.rfind("role=" + agentRole + " ", 0) == 0) continue;
    ++seen;
    EXPECT_EQ(line.find("role=--checking-process "), std::string::npos) << line;
    EXPECT_NE(line.find(" tty=0 typed=0 stdin=/dev/null fds="), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 4), "fds=") << line;
  }
  EXPECT_GT(seen, 0) << "the spy never ran in the check";
}

// Attacks 1 and 4: the owner's profile preloads code, the back end runs
// more of it; both try root's terminal and descriptors and leave a helper
// that detaches itself. Through --as-user (the login shell, then the load)
// and through --pid of a process with that preload.
TEST(DoctorHostile, SubjectsCodeNeverReachesRootsTerminalOrDescriptors) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account and checks as it");
  HealthyInstallation inst(SPYING_BACKEND);
  std::string report = spyReport(), spy = testsupport::reachableCopy(SPY_LIBRARY);
  std::string environment = "export QXREG=" + inst.registry() + " LD_PRELOAD=" + spy + " SPY_REPORT=" + report + "\n";
  TemporaryUser user(environment);
  ASSERT_TRUE(user.created());
  std::set<pid_t> before = spyHelpers();
  TerminalRun login = runDoctorOnTerminal({"--as-user", user.name(), "--load"});
  EXPECT_EQ(login.status, kBinds) << login.out;
  EXPECT_EQ(login.typed, "") << "typed into root's shell";
  expectSpyFoundNothing(report);
  expectNoneNew(before);

  ASSERT_EQ(unlink(report.c_str()), 0);
  ProcessAs agent(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_PRELOAD=" + spy, "SPY_REPORT=" + report}, "/");
  // The preload runs in the agent itself, as it would in DB2's engine; its
  // helper is not the check's.
  for (int i = 0; i < 200 && testsupport::readFile(report).find("role=120 ") == std::string::npos; ++i) usleep(10000);
  before = spyHelpers();
  TerminalRun pid = runDoctorOnTerminal({"--pid", std::to_string(agent.pid()), "--load"});
  EXPECT_EQ(pid.status, kBinds) << pid.out;
  EXPECT_EQ(pid.typed, "") << "typed into root's shell";
  expectSpyFoundNothing(report, "120");
  expectNoneNew(before);
  for (pid_t helper : spyHelpers()) kill(helper, SIGKILL);
}

// Attack 2: root's own check with --load would run the back end (its
// constructor) as root; so would --load of a process of root's, and with
// it whatever libraries the back end loads, which others may change.
TEST(DoctorHostile, NoBackEndIsLoadedAsRoot) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("only root's doctor refuses");
  HealthyInstallation inst(SPYING_BACKEND);
  std::string report = spyReport();
  testsupport::setEnv("SPY_REPORT", report);
  DoctorResult r = runDoctor({"--load"});
  EXPECT_EQ(r.status, kUsage) << r.out << r.err;
  EXPECT_CONTAINS(r.err, "acs-doctor --as-user <instance owner> --load");
  ProcessAs rootsOwn(0, 0, {"QXREG=" + inst.registry(), "SPY_REPORT=" + report}, "/");
  nlohmann::json doc = nlohmann::json::parse(runDoctor({"--pid", std::to_string(rootsOwn.pid()), "--load", "--json"}).out);
  EXPECT_EQ(doc.at("exit_code"), kDoesNotBind);
  EXPECT_EQ(doc.at("problems")[0].at("id"), "backend-not-loaded-as-root") << doc.at("problems");
  EXPECT_FALSE(testsupport::exists(report)) << testsupport::readFile(report);
}

// A process in a tree of its own (a mount namespace whose /etc has a
// preload list of its maker's): checking it must not start the check with
// that tree's dynamic loader, preloads or libraries.
TEST(DoctorHostile, ProcessInATreeOfItsOwnDoesNotStartTheCheck) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("makes a mount namespace");
  if (std::string(ZORVAN_TEST_EMULATOR) != "")
    GTEST_SKIP() << "under the emulator its own threads keep the checking process from entering a mount namespace";
  HealthyInstallation inst(GOOD_BACKEND);
  std::string report = spyReport(), etc = testsupport::makeTempDir("their-etc");
  ASSERT_EQ(std::system(("cp -a /etc/. " + etc).c_str()), 0);
  testsupport::writeFile(etc + "/ld.so.preload", testsupport::reachableCopy(SPY_LIBRARY) + "\n");
  pid_t theirs = fork();
  if (theirs == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr) != 0)
      _exit(125);
    std::string qxreg = "QXREG=" + inst.registry(), spy = "SPY_REPORT=" + report;
    char *envp[] = {&qxreg[0], &spy[0], nullptr};
    execle("/bin/sleep", "sleep", "60", static_cast<char *>(nullptr), envp);
    _exit(127);
  }
  for (int i = 0; i < 200 && testsupport::readFile(report).find("role=60 ") == std::string::npos; ++i) usleep(10000);
  const std::string theirNamespace = mountNamespace(std::to_string(theirs));
  DoctorResult r = runDoctor({"--pid", std::to_string(theirs)});
  kill(theirs, SIGKILL);
  waitpid(theirs, nullptr, 0);
  for (pid_t helper : spyHelpers(theirNamespace)) kill(helper, SIGKILL);
  for (pid_t helper : spyHelpers()) kill(helper, SIGKILL);
  EXPECT_EQ(r.status, kBinds) << r.out << r.err;
  EXPECT_EQ(testsupport::readFile(report).find("role=--checking-process"), std::string::npos)
      << testsupport::readFile(report);
}

// Pastes every fix line of out as its reader would: each command after
// "As <who>: " run as this test.
void pasteEveryFix(const DoctorResult &r) {
  for (const std::string &fix : r.fixes()) {
    if (fix.rfind("As ", 0) != 0 || fix.find(": ") == std::string::npos) continue;
    if (std::system(fix.substr(fix.find(": ") + 2).c_str()) != 0) {
    }
  }
}

// Attack 3: shell text in what others can write (a trace file any user may
// create at its fixed path, the owner's properties file) becomes a command
// root runs when it pastes a fix; control bytes hide a payload on the
// terminal.
TEST(DoctorHostile, FixesDoNothingButWhatTheySay) {
  const std::string payload = "/tmp/no-registry;touch /tmp/pasted;#";
  const std::string head = "LIBDB2ACS-4242: 12/09/26 01:02:03 ";
  testsupport::writeFile(
      kTracePath,
      head + "db2ACSInitialize(): " ZORVAN_TEXT_ENTERED "\n" + head + ZORVAN_TAG_FIX_REGISTRY ": QXREG=[" + payload +
          "] ignored in a process with raised privileges: " + payload +
          " is owned by uid 1000, neither root nor the effective user; using /etc/OstravaneRegistry\n" + head +
          "db2ACSInitialize(): " ZORVAN_TEXT_BINDING_FAILED "\n" + head +
          "db2ACSInitialize(): -----------Leaving, returning 11--------\n",
      0666);
  if (testsupport::canActAsOtherUsers()) {
    ASSERT_EQ(chown(kTracePath, kNobody, kNobody), 0);
  }
  DoctorResult traced = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(traced.status, kDoesNotBind) << traced.out << traced.err;
  EXPECT_FALSE(traced.fixes().empty()) << traced.out;
  pasteEveryFix(traced);
  EXPECT_FALSE(testsupport::exists("/tmp/pasted")) << traced.out;

  HealthyInstallation inst(GOOD_BACKEND);
  const std::string props = inst.propertiesPath("Instance001");
  const std::string quoted = "/p';touch${IFS}/tmp/pasted;'";
  inst.addInstance("Instance001", true, "dZORVANHOME=" + quoted + "\n");
  DoctorResult near = runDoctor({});
  EXPECT_EQ(near.status, kDoesNotBind) << near.out;
  pasteEveryFix(near);
  EXPECT_FALSE(testsupport::exists("/tmp/pasted")) << near.out;
  EXPECT_EQ(testsupport::readFile(props), "dZORVANHOME " + quoted + "\n");

  // An escape sequence (here one that sets the terminal's title) reaches
  // the terminal as text, and no command carries it.
  inst.addInstance("Instance001", true, "dZORVANHOM \x1b]0;pwned\x07/opt\n");
  DoctorResult hidden = runDoctor({});
  EXPECT_EQ(hidden.status, kDoesNotBind) << hidden.out;
  EXPECT_EQ(hidden.out.find('\x1b'), std::string::npos) << hidden.out;
  EXPECT_CONTAINS(hidden.out, "\\e]0;pwned\\x07/opt");
  ASSERT_FALSE(hidden.fixes().empty());
  EXPECT_EQ(hidden.fixes()[0].rfind("No command is offered: ", 0), 0u) << hidden.out;
  // In JSON too, nothing but ASCII reaches the terminal.
  std::string json = runDoctor({"--json"}).out;
  EXPECT_EQ(std::count_if(json.begin(), json.end(),
                          [](char c) { return static_cast<unsigned char>(c) >= 0x7f || (c < 0x20 && c != '\n'); }),
            0)
      << json;

  // A home named with an escape, beside one whose shown name is the same
  // text: a command for the one would act on the other.
  HealthyInstallation escaped(GOOD_BACKEND);
  std::string home = escaped.home() + "/a\x1b" "b";
  testsupport::makeDirs(home + "/Base");
  testsupport::writeFile(home + "/Base/libqxacsint.so", testsupport::readFile(GOOD_BACKEND), 0644);
  escaped.addInstance("Instance001", true, "dZORVANHOME " + home + "\n");
  DoctorResult shown = runDoctor({});
  EXPECT_EQ(shown.status, kDoesNotBind) << shown.out;
  ASSERT_FALSE(shown.fixes().empty()) << shown.out;
  EXPECT_EQ(shown.fixes()[0].rfind("No command is offered: ", 0), 0u) << shown.out;
}

// A login file reached by another name than the home's, or a file of the
// owner's outside it: its fix is the owner's to run, not root's, whose
// edit the owner could point at any file. The value written there is
// quoted: the shell runs that line at every login.
TEST(DoctorHostile, LoginFileFixesAreTheOwnersAndQuoteTheirValue) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  doctortest::Installation inst;
  inst.addInstance("x;id", false, "dZORVANHOME " + inst.home() + "\n");
  inst.installBackend(GOOD_BACKEND);
  TemporaryUser user("export QXREG=" + inst.registry() + "\n");
  ASSERT_TRUE(user.created());
  std::string via = "/tmp/./" + user.home().substr(5) + "/d";
  testsupport::makeDirs(user.home() + "/d");
  testsupport::writeFile(user.home() + "/d/env", "export ZORVAN_INST=Wrong\n");
  ASSERT_EQ(std::system(("chown -R " + user.name() + " " + user.home() + "/d").c_str()), 0);
  testsupport::writeFile(user.home() + "/.profile", "export QXREG=" + inst.registry() + "\n. " + via + "/env\n");
  ASSERT_EQ(chown((user.home() + "/.profile").c_str(), user.uid(), user.gid()), 0);
  DoctorResult named = runDoctor({"--as-user", user.name()});
  EXPECT_EQ(named.status, kDoesNotBind) << named.out;
  ASSERT_FALSE(named.fixes().empty()) << named.out;
  EXPECT_EQ(named.firstFix().rfind("As " + user.name() + ": sed -i ", 0), 0u) << named.out;

  testsupport::writeFile(user.home() + "/.profile", "export QXREG=" + inst.registry() + "\n");
  DoctorResult unset = runDoctor({"--as-user", user.name()});
  std::string append;
  for (const std::string &fix : unset.fixes())
    if (fix.find("ZORVAN_INST") != std::string::npos) append = fix;
  ASSERT_EQ(append.rfind("As " + user.name() + ": ", 0), 0u) << unset.out;
  ASSERT_EQ(std::system(append.substr(append.find(": ") + 2).c_str()), 0);
  EXPECT_CONTAINS(testsupport::readFile(user.home() + "/.profile"), "\nexport ZORVAN_INST='x;id'\n");
}

// The owner's properties file as a link to a file of root's: no fix makes
// root act on it, which would act on root's file.
TEST(DoctorHostile, NoRootCommandActsThroughTheOwnersLinks) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives an installation to nobody");
  HealthyInstallation inst(GOOD_BACKEND);
  testsupport::writeFile("/tmp/root-secret", "dZORVANHOM /opt\n", 0600);
  std::string props = inst.propertiesPath("Instance001");
  ASSERT_EQ(unlink(props.c_str()), 0);
  ASSERT_EQ(symlink("/tmp/root-secret", props.c_str()), 0);
  ASSERT_EQ(std::system(("chown -hR nobody " + inst.registry()).c_str()), 0);
  ProcessAs agent(kNobody, kNobody, {"QXREG=" + inst.registry()}, "/");
  DoctorResult r = runDoctor({"--pid", std::to_string(agent.pid())});
  EXPECT_EQ(r.status, kDoesNotBind) << r.out;
  ASSERT_FALSE(r.fixes().empty()) << r.out;
  for (const std::string &fix : r.fixes()) EXPECT_EQ(fix.rfind("As root", 0), std::string::npos) << fix;
}

// Attacks 5 and 6: a preload another user can replace is what DB2 runs
// first; a preload that makes access() succeed would forge the execute
// test of any process that loads it. The checking process judges
// preloads and loads none, so the verdict is the real one.
TEST(DoctorHostile, PreloadsAreJudgedNeverLoaded) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives a library to another user and checks a process of nobody's");
  HealthyInstallation inst(GOOD_BACKEND);
  std::string shared = testsupport::makeTempDir("shared");
  testsupport::writeFile(shared + "/libhook.so", testsupport::readFile(SPY_LIBRARY), 0755);
  testsupport::writeFile(shared + "/libliar.so", testsupport::readFile(LIAR_LIBRARY), 0755);
  ASSERT_EQ(chown((shared + "/libhook.so").c_str(), 4242, 4242), 0);
  ProcessAs hooked(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_PRELOAD=" + shared + "/libhook.so"}, "/");
  nlohmann::json doc = nlohmann::json::parse(runDoctor({"--pid", std::to_string(hooked.pid()), "--json"}).out);
  EXPECT_EQ(doc.at("exit_code"), kDoesNotBind) << doc.dump(1);
  ASSERT_EQ(doc.at("findings").size(), 1u) << doc.dump(1);
  EXPECT_CONTAINS(doc.at("findings")[0].at("cause").get<std::string>(),
                  shared + "/libhook.so (a library LD_PRELOAD names, owner uid 4242");

  inst.installBackend(GOOD_BACKEND, 0644);
  ProcessAs lying(kNobody, kNobody, {"QXREG=" + inst.registry(), "LD_PRELOAD=" + shared + "/libliar.so"}, "/");
  DoctorResult forged = runDoctor({"--pid", std::to_string(lying.pid())});
  EXPECT_EQ(forged.status, kDoesNotBind) << forged.out;
  EXPECT_CONTAINS(forged.firstScreen(), "is not executable (mode 0644)");

  // The system's own preload list, an empty one that another user owns, in
  // a copy of /etc mounted over it in this test's mount namespace only.
  inst.installBackend(GOOD_BACKEND, 0755);
  std::string etc = testsupport::makeTempDir("etc");
  ASSERT_EQ(std::system(("cp -a /etc/. " + etc).c_str()), 0);
  testsupport::writeFile(etc + "/ld.so.preload", "", 0644);
  ASSERT_EQ(chown((etc + "/ld.so.preload").c_str(), 4242, 4242), 0);
  ASSERT_EQ(mount(etc.c_str(), "/etc", nullptr, MS_BIND, nullptr), 0);
  ProcessAs plain(kNobody, kNobody, {"QXREG=" + inst.registry()}, "/");
  doc = nlohmann::json::parse(runDoctor({"--pid", std::to_string(plain.pid()), "--json"}).out);
  EXPECT_EQ(doc.at("exit_code"), kDoesNotBind) << doc.dump(1);
  EXPECT_CONTAINS(doc.at("findings").dump(), "/etc/ld.so.preload (the list of libraries every program preloads");
}

// Attack 7: the trace file's fixed path is anyone's to create. A FIFO
// there, or a link to an endless device, must not hang the doctor or fill
// its memory; a forged trace must not have root's rights list a private
// directory, nor a fix open it to everyone.
TEST(DoctorHostile, TraceIsReadOnlyAsARegularFileAndWithItsOwnersRights) {
  ASSERT_EQ(mkfifo(kTracePath, 0666), 0);
  DoctorResult fifo = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(fifo.status, kUsage) << fifo.out << fifo.err;
  EXPECT_CONTAINS(fifo.err, "not a regular file (a FIFO)");
  ASSERT_EQ(unlink(kTracePath), 0);
  ASSERT_EQ(symlink("/dev/zero", kTracePath), 0);
  DoctorResult zero = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(zero.status, kUsage) << zero.out << zero.err;
  EXPECT_CONTAINS(zero.err, "not a regular file (a device or socket)");
  ASSERT_EQ(unlink(kTracePath), 0);

  ZORVAN_SKIP_UNLESS_OTHER_USERS("keeps a directory private to root and forges the trace as nobody");
  std::string secret = testsupport::makeTempDir("rootonly");
  testsupport::makeDirs(secret + "/registry");
  ASSERT_EQ(chmod(secret.c_str(), 0700), 0);
  const std::string head = "LIBDB2ACS-4242: 12/09/26 01:02:03 ";
  testsupport::writeFile(kTracePath,
                         head + "db2ACSInitialize(): " ZORVAN_TEXT_ENTERED "\n" + head +
                             "db2ACSInitialize(): -----------QXREG= [" + secret + "/registrx]\n" + head +
                             ZORVAN_TAG_BASE_DIR ": " ZORVAN_TEXT_SCAN_FAILED "\n" + head +
                             "db2ACSInitialize(): " ZORVAN_TEXT_BINDING_FAILED "\n" + head +
                             "db2ACSInitialize(): -----------Leaving, returning 11--------\n");
  ASSERT_EQ(chown(kTracePath, kNobody, kNobody), 0);
  DoctorResult forged = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(forged.status, kDoesNotBind) << forged.out;
  EXPECT_EQ(forged.out.find(secret + "/registry "), std::string::npos) << "named what only root may list";
  EXPECT_EQ(forged.out.find("o+x"), std::string::npos) << forged.out;
}

// Attack 9: a profile that writes without end would grow root's doctor
// with it.
TEST(DoctorHostile, LoginOutputIsCutAtItsBound) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("creates a login account");
  HealthyInstallation inst(GOOD_BACKEND);
  TemporaryUser user("head -c 200000000 /dev/zero\nexport QXREG=" + inst.registry() + "\n");
  ASSERT_TRUE(user.created());
  DoctorResult r = runDoctor({"--as-user", user.name(), "--json"});
  nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << r.out << r.err;
  EXPECT_CONTAINS(doc.at("checked_as").at("login_error").get<std::string>(), "more than 1 MiB");
  EXPECT_LT(r.maxResidentKiB, 64 * 1024) << "root's doctor grew with the owner's output";
}

}  // namespace
