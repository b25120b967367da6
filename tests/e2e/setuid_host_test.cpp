// A set-user-ID (and a set-group-ID) copy of acs-host, owned by an
// instance owner and run by another user: the library must not let that
// user's environment choose the back end that runs with the owner's
// privileges, must still bind through a registry nobody else can change,
// and a plain process with the same environment must behave as before.
// The kernel decides AT_SECURE at exec, so these are real programs.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <signal.h>

#ifdef ACS_DOCTOR_PATH
#include <nlohmann/json.hpp>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "qxacs_example.h"
#include "installation.h"
#include "test_support.h"
#include "zorvan/discovery.h"

using testsupport::kNobody;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

constexpr uid_t kInstanceOwner = 4242;
const char kRaised[] = "in a process with raised privileges";

struct Environment {
  std::string qxreg;
  std::string instance;  // ZORVAN_INST, unset when empty
};

struct HostRun {
  int status = -1;
  std::string output;
  Lines trace;          // the library's messages, "tag: text"
  std::string journal;  // what the back end recorded
  uid_t journalOwner = 0;
};

// The suite's installation around the example back end, everything in it
// given to owner; its root.
std::string install(uid_t owner) {
  testsupport::HealthyInstallation in(BACKEND_EXAMPLE);
  const std::string &root = in.root();
  for (const std::string &path :
       {root, in.registry(), in.registry() + "/Zorvan", in.instanceDir("Instance001"),
        in.instanceDir("Instance001") + "/Base", in.instanceDir("Instance001") + "/Db2Agent",
        in.propertiesPath(), in.home(), in.base(), in.backendPath()})
    EXPECT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  return root;
}

std::string loadedLine(const std::string &root) {
  return "initializeFptrs(): Library to be loaded: \"" + root + "/home/Base/libqxacsint.so\".";
}

bool holds(const Lines &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

Lines mentioning(const Lines &lines, const std::string &text) {
  Lines out;
  for (const std::string &line : lines)
    if (line.find(text) != std::string::npos) out.push_back(line);
  return out;
}

// Addresses differ from run to run; everything else must not.
std::string withoutAddresses(std::string line) {
  for (size_t at = line.find("0x"); at != std::string::npos; at = line.find("0x", at + 2)) {
    size_t end = at + 2;
    while (end < line.size() && isxdigit(static_cast<unsigned char>(line[end]))) ++end;
    line.replace(at + 2, end - at - 2, "...");
  }
  return line;
}

// The one trace line a refused QXREG writes.
std::string refusal(const std::string &qxreg, const std::string &reason) {
  return "fixRegistryDir: QXREG=[" + qxreg + "] ignored " + kRaised + ": " + reason + "; using " +
         ZORVAN_DEFAULT_REGISTRY;
}

class SetUidHost : public testing::Test {
 protected:
  void SetUp() override {
    ZORVAN_SKIP_UNLESS_OTHER_USERS("programs are given to an instance owner and run by nobody");
    if (std::string(ZORVAN_TEST_EMULATOR) != "") {
      GTEST_SKIP() << "a set-user-ID program gets no privileges under the emulator";
    }
    if (std::string(ZORVAN_SANITIZE) != "") {
      GTEST_SKIP() << "sanitizer build: LeakSanitizer stops a process with raised privileges at exit";
    }
    // The private /tmp must honour set-user-ID bits; a fresh tmpfs does.
    struct statvfs fs;
    ASSERT_EQ(statvfs("/tmp", &fs), 0);
    if ((fs.f_flag & ST_NOSUID) != 0) {
      ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", 0, "mode=0755"), 0);
    }
    // Closed to others, so that a registry below it can be one nobody
    // else can change; the test's own /tmp, restored afterwards.
    ASSERT_EQ(chmod("/tmp", 0755), 0);

    site_ = install(0);
    caller_ = install(kNobody);

    plainHost_ = testsupport::reachableCopy(ACS_HOST_PATH);
    library_ = testsupport::reachableCopy(ZORVAN_LIBRARY_PATH);
    setUidHost_ = privilegedCopy("acs-host-setuid", kInstanceOwner, 0, 04755);
    makeDirs("/tmp/out");
    ASSERT_EQ(chmod("/tmp/out", 0777), 0);
  }
  void TearDown() override { chmod("/tmp", 01777); }

  std::string privilegedCopy(const std::string &name, uid_t owner, gid_t group, mode_t mode,
                             const char *program = ACS_HOST_PATH) {
    std::string copy = "/tmp/programs/" + name;
    writeFile(copy, readFile(program), 0755);
    EXPECT_EQ(chown(copy.c_str(), owner, group), 0);
    EXPECT_EQ(chmod(copy.c_str(), mode), 0);  // after chown, which clears the bits
    return copy;
  }

  // A root-owned copy of program that its caller starts with a capability
  // (CAP_NET_BIND_SERVICE, permitted and effective) and every id its own;
  // "" when this file system or kernel keeps no file capabilities.
  std::string capableCopy(const std::string &name, const char *program) {
    std::string copy = privilegedCopy(name, 0, 0, 0755, program);
    struct vfs_cap_data cap = {};
    cap.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    cap.data[0].permitted = 1u << CAP_NET_BIND_SERVICE;
    return setxattr(copy.c_str(), "security.capability", &cap, sizeof cap, 0) == 0 ? copy : "";
  }

  // Runs a backup with host as nobody in env; the trace starts empty.
  // vmName: the vendor options' vmName, none when empty.
  HostRun backup(const std::string &host, const Environment &env, const std::string &vmName = "") {
    static int runs = 0;
    std::string stem = "/tmp/out/run" + std::to_string(++runs);
    std::string catalogue = stem + ".catalogue";
    testsupport::enableTrace();
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open((stem + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
      if (!testsupport::becomeUser(kNobody, kNobody, false)) _exit(125);
      // acs-host backs up its working directory; the build tree may be
      // closed to nobody.
      if (chdir("/tmp") != 0) _exit(124);
      setenv("QXREG", env.qxreg.c_str(), 1);
      if (env.instance.empty())
        unsetenv("ZORVAN_INST");
      else
        setenv("ZORVAN_INST", env.instance.c_str(), 1);
      setenv(QXACS_EXAMPLE_DIR_ENV, catalogue.c_str(), 1);
      if (vmName.empty())
        execl(host.c_str(), host.c_str(), "--lib", library_.c_str(), "--sequence", "backup",
              static_cast<char *>(nullptr));
      else
        execl(host.c_str(), host.c_str(), "--lib", library_.c_str(), "--sequence", "backup", "--vm-name",
              vmName.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    HostRun run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      run.status = WEXITSTATUS(status);
    run.output = readFile(stem + ".out");
    run.trace = testsupport::traceMessages();
    std::string journal = catalogue + "/" QXACS_JOURNAL_FILE;
    run.journal = readFile(journal);
    struct stat st;
    if (stat(journal.c_str(), &st) == 0) run.journalOwner = st.st_uid;
    return run;
  }

#ifdef ACS_DOCTOR_PATH
  // acs-doctor's --json report with args, and its wait status.
  static std::string doctorJson(const std::vector<std::string> &args, int &status) {
    pid_t doctor = fork();
    if (doctor == 0) {
      int fd = open("/tmp/out/doctor.json", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
      std::vector<char *> argv = {const_cast<char *>("acs-doctor")};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(const_cast<char *>("--json"));
      argv.push_back(nullptr);
      execv(ACS_DOCTOR_PATH, argv.data());
      _exit(127);
    }
    status = -1;
    if (doctor < 0 || waitpid(doctor, &status, 0) != doctor) status = -1;
    return readFile("/tmp/out/doctor.json");
  }
#endif

  std::string site_, caller_;
  std::string plainHost_, library_, setUidHost_;
};

// Hole one: the caller names a registry of their own.
TEST_F(SetUidHost, CallersOwnRegistryIsIgnored) {
  const Environment env{caller_ + "/registry", ""};

  HostRun run = backup(setUidHost_, env);
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_EQ(mentioning(run.trace, kRaised),
            Lines{refusal(env.qxreg,
                          caller_ + " is owned by uid 65534, neither root nor the effective user")});
  EXPECT_TRUE(
      holds(run.trace, "db2ACSInitialize(): -----------QXREG= [" ZORVAN_DEFAULT_REGISTRY "]"));
  EXPECT_FALSE(holds(run.trace, loadedLine(caller_)));
  EXPECT_EQ(run.journal, "");

  // Without raised privileges the caller's registry is the caller's
  // business, exactly as before.
  HostRun plain = backup(plainHost_, env);
  EXPECT_EQ(plain.status, 0) << plain.output;
  EXPECT_EQ(mentioning(plain.trace, kRaised), Lines{});
  EXPECT_TRUE(holds(plain.trace, "db2ACSInitialize(): -----------QXREG= [" + env.qxreg + "]"));
  EXPECT_TRUE(holds(plain.trace, loadedLine(caller_)));
  EXPECT_NE(plain.journal.find("db2ACSSnapshotpp"), std::string::npos);
}

// Hole two: a root-owned registry, and an instance name that climbs out of
// it into the caller's installation, from the environment or from the
// vendor options the caller builds (whose vmName holds 17 characters: the
// climb ends in a link the caller made).
TEST_F(SetUidHost, InstanceNameWithSlashIsNotFollowed) {
  ASSERT_EQ(symlink((caller_ + "/registry/Zorvan/Instance001").c_str(), "/tmp/c"), 0);
  const std::string climb = "../../../" + caller_.substr(5) + "/registry/Zorvan/Instance001";
  const struct {
    std::string instance, vmName, refused;
  } cases[] = {
      {climb, "", "ZORVAN_INST=[" + climb + "]"},
      {"", "../../../c", "vmName=[../../../c]"},
  };
  for (const auto &c : cases) {
    const Environment env{site_ + "/registry", c.instance};
    HostRun run = backup(setUidHost_, env, c.vmName);
    EXPECT_EQ(mentioning(run.trace, kRaised),
              Lines{"GetZorvanInstanceName: " + c.refused + " ignored " + kRaised +
                    ": an instance name must be a plain directory name (not empty, no '/', not "
                    "\".\" or \"..\"); looking for the first instance"});
    EXPECT_FALSE(holds(run.trace, loadedLine(caller_))) << c.refused;
    // The site's first instance binds instead, and its back end does the work.
    EXPECT_TRUE(holds(run.trace, loadedLine(site_))) << c.refused;
    EXPECT_EQ(run.status, 0) << run.output;

    HostRun plain = backup(plainHost_, env, c.vmName);
    EXPECT_EQ(plain.status, 0) << plain.output;
    EXPECT_EQ(mentioning(plain.trace, kRaised), Lines{});
    EXPECT_TRUE(holds(plain.trace, loadedLine(caller_))) << c.refused;
  }
}

// What must keep working: a registry only root can change, named by QXREG.
TEST_F(SetUidHost, RootOwnedRegistryStillBindsAndTracesAsAPlainProcess) {
  const Environment env{site_ + "/registry", "Instance001"};

  HostRun run = backup(setUidHost_, env);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(holds(run.trace, loadedLine(site_)));
  EXPECT_NE(run.journal.find("db2ACSSnapshotpp"), std::string::npos) << run.journal;
  // The back end ran as the instance owner: the program really was raised.
  EXPECT_EQ(run.journalOwner, kInstanceOwner);

  HostRun plain = backup(plainHost_, env);
  EXPECT_EQ(plain.status, 0) << plain.output;
  EXPECT_EQ(plain.journalOwner, kNobody);
  ASSERT_FALSE(plain.trace.empty());
  std::transform(run.trace.begin(), run.trace.end(), run.trace.begin(), withoutAddresses);
  std::transform(plain.trace.begin(), plain.trace.end(), plain.trace.begin(), withoutAddresses);
  EXPECT_EQ(run.trace, plain.trace);
}

// Raised to a group only, the effective user is the caller: a registry of
// the caller's own is refused as such.
TEST_F(SetUidHost, SetGroupIdHostRefusesTheCallersRegistry) {
  std::string setGidHost = privilegedCopy("acs-host-setgid", 0, kInstanceOwner, 02755);
  const Environment env{caller_ + "/registry", ""};

  HostRun run = backup(setGidHost, env);
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_EQ(mentioning(run.trace, kRaised),
            Lines{refusal(env.qxreg, caller_ + " is owned by uid 65534, the user who started the process")});
  EXPECT_FALSE(holds(run.trace, loadedLine(caller_)));
}

// A process raised by a file capability alone keeps every id of its
// caller, yet the kernel starts it with AT_SECURE: the library refuses the
// caller's registry there too, and the doctor, which can take on ids but
// not capabilities, refuses to check as it rather than answer for a plain
// process.
TEST_F(SetUidHost, ProcessRaisedByACapabilityAloneIsRaised) {
  std::string host = capableCopy("acs-host-cap", ACS_HOST_PATH), sleep = capableCopy("sleep-cap", "/bin/sleep");
  if (host.empty() || sleep.empty()) GTEST_SKIP() << "this file system keeps no file capabilities";
  pid_t sleeper = fork();
  if (sleeper == 0) {
    if (!testsupport::becomeUser(kNobody, kNobody, false)) _exit(125);
    execl(sleep.c_str(), "sleep", "60", static_cast<char *>(nullptr));
    _exit(127);
  }
  testsupport::waitForExec(sleeper, sleep);
  std::string status = readFile("/proc/" + std::to_string(sleeper) + "/status");
#ifdef ACS_DOCTOR_PATH
  int doctorStatus = -1;
  std::string err = "/tmp/out/doctor.err";
  pid_t doctor = fork();
  if (doctor == 0) {
    int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0) _exit(126);
    execl(ACS_DOCTOR_PATH, "acs-doctor", "--pid", std::to_string(sleeper).c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  if (waitpid(doctor, &doctorStatus, 0) != doctor || !WIFEXITED(doctorStatus)) doctorStatus = -1;
#endif
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  // CAP_NET_BIND_SERVICE is bit 10.
  if (status.find("CapPrm:\t0000000000000400") == std::string::npos)
    GTEST_SKIP() << "file capabilities are not granted here (no_new_privs?): " << status;

  HostRun run = backup(host, {caller_ + "/registry", ""});
  EXPECT_TRUE(holds(run.trace, refusal(caller_ + "/registry",
                                       caller_ + " is owned by uid 65534, the user who started the process")))
      << testing::PrintToString(run.trace);
  EXPECT_FALSE(holds(run.trace, loadedLine(caller_))) << testing::PrintToString(run.trace);
#ifdef ACS_DOCTOR_PATH
  EXPECT_EQ(WEXITSTATUS(doctorStatus), 2) << readFile(err);
  EXPECT_NE(readFile(err).find("was given capabilities when it started, which this check cannot take on"),
            std::string::npos)
      << readFile(err);
#endif
}

#ifdef ACS_DOCTOR_PATH
// acs-doctor --pid of a process with raised privileges checks with them,
// and says what the library in that process does: what a set-user-ID or
// set-group-ID acs-host run the same way gets.
TEST_F(SetUidHost, DoctorChecksWithTheProcesssRaisedPrivileges) {
  // Each raised as the host that is run the same way for comparison.
  std::string setGidHost = privilegedCopy("acs-host-setgid", 0, kInstanceOwner, 02755);
  std::string setUidSleeper = privilegedCopy("sleep-setuid", kInstanceOwner, 0, 04755, "/bin/sleep");
  struct Case {
    std::string sleeper, host, qxreg, reason;  // reason: why QXREG is ignored, "" when it is not
    std::string instance = "";                 // ZORVAN_INST, unset when empty
  } cases[] = {
      {setUidSleeper, setUidHost_, caller_ + "/registry",
       caller_ + " is owned by uid 65534, neither root nor the effective user"},
      {privilegedCopy("sleep-setgid", 0, kInstanceOwner, 02755, "/bin/sleep"), setGidHost,
       caller_ + "/registry", caller_ + " is owned by uid 65534, the user who started the process"},
      {setUidSleeper, setUidHost_, site_ + "/registry", ""},
      {setUidSleeper, setUidHost_, site_ + "/registry", "", "../Zorvan/Instance001"},
      // In /tmp, open to all as it is elsewhere: no fix takes it from them.
      {setUidSleeper, setUidHost_, "/tmp/x", "/tmp is writable by others"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sleeper + " " + c.qxreg);
    ASSERT_EQ(chmod("/tmp", c.qxreg == "/tmp/x" ? 01777 : 0755), 0);
    pid_t sleeper = fork();
    if (sleeper == 0) {
      if (!testsupport::becomeUser(kNobody, kNobody, false) || chdir("/tmp") != 0) _exit(125);
      std::string qxreg = "QXREG=" + c.qxreg, instance = "ZORVAN_INST=" + c.instance;
      char *envp[] = {&qxreg[0], c.instance.empty() ? nullptr : &instance[0], nullptr};
      execle(c.sleeper.c_str(), "sleep", "60", static_cast<char *>(nullptr), envp);
      _exit(127);
    }
    // The doctor reads /proc/<pid>: wait until the program runs.
    testsupport::waitForExec(sleeper, c.sleeper);
    int status = 0;
    std::string report = doctorJson({"--pid", std::to_string(sleeper)}, status);
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    nlohmann::json doc = nlohmann::json::parse(report, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << report;
    EXPECT_TRUE(doc["identity"]["raised"].get<bool>()) << report;
    EXPECT_EQ(doc["identity"]["uid"], kNobody);

    HostRun host = backup(c.host, {c.qxreg, c.instance});
    EXPECT_EQ(doc["binds"].get<bool>(), host.status == 0) << report << host.output;
    EXPECT_EQ(WEXITSTATUS(status), host.status == 0 ? 0 : 1) << report;
    // The trace of that run tells the same story.
    std::string traceReport = doctorJson({"--trace", testsupport::kTracePath}, status);
    nlohmann::json traced = nlohmann::json::parse(traceReport, nullptr, false);
    ASSERT_FALSE(traced.is_discarded()) << traceReport;
    const nlohmann::json &process = traced["processes"][0];
    EXPECT_EQ(process["first_failure"].is_null(), host.status == 0) << traceReport;
    if (!c.reason.empty()) {
      ASSERT_FALSE(process["problems"].empty()) << traceReport;
      EXPECT_EQ(process["problems"][0]["id"], "qxreg-ignored") << traceReport;
    }
    if (c.reason.empty() && c.instance.empty()) continue;
    ASSERT_FALSE(doc["problems"].empty()) << report;
    if (!c.instance.empty()) {
      // Bound all the same, through the first instance: a warning whose
      // fix names that instance.
      EXPECT_EQ(doc["problems"][0]["id"], "instance-variable-ignored") << report;
      EXPECT_EQ(doc["problems"][0]["severity"], "warning") << report;
      EXPECT_NE(doc["problems"][0]["fix"].get<std::string>().find("ZORVAN_INST=Instance001"), std::string::npos);
    }
    if (c.reason.empty()) continue;
    EXPECT_EQ(doc["problems"][0]["id"], "qxreg-ignored") << report;
    std::string cause = doc["problems"][0]["cause"];
    EXPECT_EQ(doc["problems"][0]["fixes"],
              c.qxreg == "/tmp/x"
                  ? nlohmann::json({"Move the registry out of /tmp, which others share, into a directory only root "
                                    "can change, and name that in QXREG."})
                  : nlohmann::json({"As root: chown root " + caller_, "As root: chmod go-w " + caller_}));
    EXPECT_NE(cause.find(c.reason), std::string::npos) << cause;
  }
}
#endif

}  // namespace
