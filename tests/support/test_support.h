// Shared helpers for the tests: trace-log reading, file-system fixtures,
// running code as an unprivileged user, and loading the shared object.
#ifndef ZORVAN_TEST_SUPPORT_H
#define ZORVAN_TEST_SUPPORT_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

constexpr const char *kTracePath = "/tmp/db2acstrace.log";
constexpr uid_t kNobody = 65534;

// Switches tracing on: creates an empty trace file writable by everyone.
void enableTrace();
// Whole lines of the trace file, newline removed.
std::vector<std::string> traceLines();
// The message part of each line: what follows "LIBDB2ACS-<pid>: mm/dd/yy
// hh:mm:ss ", so "tag: text". A line that does not have the prefix is
// returned whole, prefixed with "MALFORMED: ".
std::vector<std::string> traceMessages();
// Splits one line at its prefix "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss ": the
// pid (no leading zero) and the message after it. False when the line
// lacks the prefix.
bool splitTraceLine(const std::string &line, long &pid, std::string &message);
// Only the messages of one tag, with "tag: " removed.
std::vector<std::string> traceMessagesOf(const std::string &tag);

// A fresh directory under /tmp (the test's private tmpfs).
std::string makeTempDir(const std::string &stem = "t");
void makeDirs(const std::string &path);
void writeFile(const std::string &path, const std::string &content, mode_t mode = 0644);
std::string readFile(const std::string &path);
bool exists(const std::string &path);

// Whether the test may act as users other than its own: switch to nobody,
// give files away, or pass permission bits as root does. Only root may;
// an ordinary user's run, in a user namespace of its own, may not.
bool canActAsOtherUsers();

// Runs body in a forked child that has dropped to uid/gid (default
// nobody); returns the child's exit status (body's result), or -1 when the
// child died abnormally.
int runAs(const std::function<int()> &body, uid_t uid = kNobody, gid_t gid = kNobody);
// Runs body in a forked child whose real user and group are uid and gid
// while the effective ones stay root, as in a set-user-ID root program.
// Needs root; exit status as above.
int runSetUidRoot(const std::function<int()> &body, uid_t uid = kNobody, gid_t gid = kNobody);
// What the child does first in runAs (effectiveRoot false) and in
// runSetUidRoot (true); false when the switch failed.
bool becomeUser(uid_t uid, gid_t gid, bool effectiveRoot);

// Runs body as an unprivileged user, exit status as above: as root in a
// child dropped to nobody, otherwise in a child as ourselves, who are one.
int runUnprivileged(const std::function<int()> &body);
// Runs body in a forked child as the same user; exit status as above.
int runInChild(const std::function<int()> &body);

// Waits (up to two seconds) until process pid runs program, as
// /proc/<pid>/exe names it: a check that reads /proc/<pid> of a freshly
// forked child must not see the parent's image. True when it does.
bool waitForExec(pid_t pid, const std::string &program);

// The command line for running one of the build's own programs: argv as it
// is in a native build; in a cross build, behind the emulator the build runs
// its tests under (the host cannot exec the target's binaries). Run the
// result with execvp: the emulator is found on PATH.
std::vector<std::string> builtProgram(std::vector<std::string> argv);

// A copy of one of the build's programs in the private /tmp, for running
// it as another user: the build tree may lie below a directory only its
// owner can enter (a checkout in root's home). Copied once per process,
// mode 0755; the program must need nothing else from the build tree.
std::string reachableCopy(const std::string &program);

// The name of the real user, or "uid <n>" when it has none.
std::string ownUserName();

// Environment helpers that restore nothing: each test is its own process.
void setEnv(const char *name, const std::string &value);
void unsetEnv(const char *name);

}  // namespace testsupport

// Skips the running test, saying why, where it would need another real
// user (see canActAsOtherUsers). For test bodies and fixtures' SetUp.
#define ZORVAN_SKIP_UNLESS_OTHER_USERS(why)                    \
  do {                                                          \
    if (!::testsupport::canActAsOtherUsers())                   \
      GTEST_SKIP() << "needs root: " << why;                    \
  } while (0)

#endif
