// The debug hold: an entry point waits while its marker file exists and
// belongs to root or to the caller's real user. The held call runs in a
// child; the parent watches its trace and its process state, and cuts
// each 10-second sleep short with SIGUSR1 rather than waiting it out.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_support.h"

using testsupport::LoadedLibrary;
using testsupport::traceMessagesOf;

namespace {

constexpr const char *kMarker = "/tmp/db2ACSTerminateDebug";
constexpr const char *kTag = "db2ACSTerminate()";
constexpr uid_t kStranger = 12345;
constexpr int kPollLimit = 20000;  // 1 ms polls: a safety net, not a measurement

const std::string kHoldLine = "-----------Will wait if /tmp/db2ACSTerminateDebug exists --------";
const std::string kLeavingLine = "-----------Leaving, returning 0--------";

bool traced(const std::string &text) {
  std::vector<std::string> lines = traceMessagesOf(kTag);
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void ignoreSignal(int) {}

// Forks a child that calls db2ACSTerminate as uid (as its real user only,
// with effectiveRoot), with a do-nothing SIGUSR1 handler so that the
// signal only interrupts its sleep.
pid_t startCall(db2ACSTerminate_fn terminate, uid_t uid, bool effectiveRoot) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (uid != 0 && !testsupport::becomeUser(uid, uid, effectiveRoot)) _exit(125);
  struct sigaction sa = {};
  sa.sa_handler = ignoreSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, nullptr);
  alarm(60);
  db2ACS_ReturnCode rc;
  _exit(terminate(nullptr, &rc) == 0 ? 0 : 1);
}

// The process state letter from /proc/<pid>/stat; '\0' when unreadable.
char stateOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '\0';
}

bool waitForTrace(const std::string &text) {
  for (int i = 0; i < kPollLimit; ++i) {
    if (traced(text)) return true;
    usleep(1000);
  }
  return false;
}

// Once the hold line is out, the child either blocks in its sleep ('S')
// or, when it does not hold, runs to its end ('Z', not yet reaped).
char waitAsleepOrGone(pid_t pid) {
  for (int i = 0; i < kPollLimit; ++i) {
    char s = stateOf(pid);
    if (s == 'S' || s == 'Z' || s == '\0') return s;
    usleep(1000);
  }
  return '?';
}

// Signals the child until it ends; its exit status, or -1.
int finishCall(pid_t pid) {
  for (int i = 0; i < kPollLimit; ++i) {
    kill(pid, SIGUSR1);
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// The whole held sequence: the call waits, survives an interrupted sleep
// while the marker is there, and finishes once it is gone.
void expectHeldUntilRemoved(uid_t caller, void (*release)(), bool effectiveRoot) {
  LoadedLibrary lib;
  pid_t pid = startCall(lib.fn<db2ACSTerminate_fn>("db2ACSTerminate"), caller, effectiveRoot);
  ASSERT_GT(pid, 0);

  ASSERT_TRUE(waitForTrace(kHoldLine));
  EXPECT_EQ(waitAsleepOrGone(pid), 'S');
  EXPECT_FALSE(traced(kLeavingLine));

  // An interrupted sleep only brings the next test forward.
  kill(pid, SIGUSR1);
  EXPECT_EQ(waitAsleepOrGone(pid), 'S');
  EXPECT_FALSE(traced(kLeavingLine));

  release();
  EXPECT_EQ(finishCall(pid), 0);
  EXPECT_EQ(traceMessagesOf(kTag),
            (std::vector<std::string>{"-----------Entered--------", kHoldLine,
                                      "db2ACS_handle or function pointer is NULL. Returning error",
                                      kLeavingLine}));
}

// A call that must not hold: it completes in a child whose alarm would
// end a hold.
void expectNoHold() {
  LoadedLibrary lib;
  auto terminate = lib.fn<db2ACSTerminate_fn>("db2ACSTerminate");
  EXPECT_EQ(testsupport::runInChild([terminate] {
              alarm(5);
              db2ACS_ReturnCode rc;
              return terminate(nullptr, &rc) == 0 ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(traced(kLeavingLine));
}

// One marker as planted, and what ends the hold it causes (none for a
// marker that must not hold). The call runs as caller: its real user, with
// root as its effective user too when effectiveRoot.
struct MarkerCase {
  const char *name;
  void (*plant)();
  void (*release)();
  uid_t caller;
  bool effectiveRoot;
  // Why the case needs another real user than the test's, if it does.
  const char *otherUser;
};

void removeMarker() { unlink(kMarker); }
// An unprivileged caller wherever the test runs: nobody when the test may
// switch users, else the test's own user.
constexpr uid_t kUnprivileged = static_cast<uid_t>(-2);
uid_t unprivileged() { return testsupport::canActAsOtherUsers() ? testsupport::kNobody : 0; }
void giveMarkerTo(uid_t uid) { ASSERT_EQ(lchown(kMarker, uid, uid), 0); }

const MarkerCase kMarkerCases[] = {
    {"RegularFileHoldsUntilRemoved", [] { testsupport::writeFile(kMarker, ""); }, removeMarker, 0,
     false, nullptr},
    {"DirectoryHolds", [] { ASSERT_EQ(mkdir(kMarker, 0755), 0); }, [] { rmdir(kMarker); }, 0, false,
     nullptr},
    {"FifoHoldsWithoutBeingOpened", [] { ASSERT_EQ(mkfifo(kMarker, 0644), 0); }, removeMarker, 0,
     false, nullptr},
    {"MarkerOfTheRealUserHoldsAnUnprivilegedCaller",
     [] {
       testsupport::writeFile(kMarker, "");
       giveMarkerTo(testsupport::kNobody);
     },
     removeMarker, testsupport::kNobody, false, "the call runs as nobody"},
    // The hold tests existence, not permission: a marker its owner cannot
    // read still holds that owner's calls.
    {"UnreadableMarkerOfTheCallerHolds",
     [] {
       testsupport::writeFile(kMarker, "", 0);
       if (unprivileged() != 0) giveMarkerTo(unprivileged());
     },
     removeMarker, kUnprivileged, false, nullptr},
    {"SetUidCallerIsHeldByItsRealUsersMarker",
     [] {
       testsupport::writeFile(kMarker, "");
       giveMarkerTo(testsupport::kNobody);
     },
     removeMarker, testsupport::kNobody, true, "the real user is nobody, the effective root"},
    {"LinkOwnedByRootHoldsWhateverItPointsAt",
     [] {
       testsupport::writeFile("/tmp/strangers", "", 0666);
       ASSERT_EQ(chown("/tmp/strangers", kStranger, kStranger), 0);
       ASSERT_EQ(symlink("/tmp/strangers", kMarker), 0);
     },
     removeMarker, 0, false, "the link's target belongs to another user"},
    {"LinkHoldsWhileItsTargetExists",
     [] {
       testsupport::writeFile("/tmp/marker-target", "");
       ASSERT_EQ(symlink("/tmp/marker-target", kMarker), 0);
     },
     [] { unlink("/tmp/marker-target"); }, 0, false, nullptr},
    {"DanglingLinkDoesNotHold", [] { ASSERT_EQ(symlink("/tmp/no-such-target", kMarker), 0); },
     nullptr, 0, false, nullptr},
    {"MarkerOfAnotherUserDoesNotHold",
     [] {
       testsupport::writeFile(kMarker, "", 0666);
       giveMarkerTo(kStranger);
     },
     nullptr, 0, false, "the marker is given to another user"},
    {"LinkOfAnotherUserDoesNotHoldEvenToRootsFile",
     [] {
       testsupport::writeFile("/tmp/roots", "");
       ASSERT_EQ(symlink("/tmp/roots", kMarker), 0);
       giveMarkerTo(kStranger);
     },
     nullptr, 0, false, "the link is given to another user"},
};

void PrintTo(const MarkerCase &c, std::ostream *out) { *out << c.name; }

class DebugHold : public testing::TestWithParam<MarkerCase> {};

TEST_P(DebugHold, HoldsExactlyWhileItShould) {
  const MarkerCase &c = GetParam();
  if (c.otherUser) ZORVAN_SKIP_UNLESS_OTHER_USERS(c.otherUser);
  testsupport::enableTrace();  // 0666: an unprivileged caller can trace
  c.plant();
  if (c.release) {
    expectHeldUntilRemoved(c.caller == kUnprivileged ? unprivileged() : c.caller, c.release,
                           c.effectiveRoot);
  } else {
    expectNoHold();
  }
}

INSTANTIATE_TEST_SUITE_P(Markers, DebugHold, testing::ValuesIn(kMarkerCases),
                         [](const testing::TestParamInfo<MarkerCase> &tested) {
                           return std::string(tested.param.name);
                         });

TEST(DebugHoldLine, NoMarkerNoHoldButTheHoldLineIsWritten) {
  testsupport::enableTrace();
  expectNoHold();
  EXPECT_TRUE(traced(kHoldLine));
}

}  // namespace
