// The library's fixed paths under /tmp, planted with things other than
// what it expects, driven through the dlopen'ed library with a whole
// db2ACSTerminate call per case: the trace file as a symbolic link, a
// FIFO, a directory, a read-only file and another user's file; the debug
// marker as a directory, a symbolic link, a FIFO and another user's file;
// and a signal arriving while a call holds. No case may crash, write
// where it should not, or hold a call beyond what the marker asks for.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <functional>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_support.h"

using testsupport::kTracePath;
using testsupport::readFile;
using testsupport::traceMessagesOf;
using Lines = std::vector<std::string>;

namespace {

const char kTag[] = "db2ACSTerminate()";
const char kMarker[] = "/tmp/db2ACSTerminateDebug";
const Lines kUnboundLines{"-----------Entered--------",
                          "-----------Will wait if /tmp/db2ACSTerminateDebug exists --------",
                          "db2ACS_handle or function pointer is NULL. Returning error",
                          "-----------Leaving, returning 0--------"};
// Hang guard for calls that must not hold at all, and for the end of a
// hold once released: well below the hold's 10-second poll.
constexpr unsigned kGuardSeconds = 5;

// One db2ACSTerminate call (no back end bound: result 0, record 0).
int terminateOnce(const testsupport::LoadedLibrary &lib) {
  auto terminate = lib.fn<db2ACSTerminate_fn>("db2ACSTerminate");
  db2ACS_ReturnCode rc{-7};
  return terminate(nullptr, &rc) == 0 && rc.returnCode == 0 ? 0 : 1;
}

// A call that must not hold: run in a child under an alarm.
int guardedCall(const testsupport::LoadedLibrary &lib, bool asNobody = false) {
  auto body = [&lib] {
    alarm(kGuardSeconds);
    return terminateOnce(lib);
  };
  return asNobody ? testsupport::runAs(body) : testsupport::runInChild(body);
}

// ---------------------------------------------------------------------------
// A call running in a child process, which acknowledges every SIGUSR1 it
// receives with one byte on a pipe (the handler does nothing else).

int gAckPipe = -1;
void acknowledge(int) {
  char byte = 'u';
  ssize_t n = write(gAckPipe, &byte, 1);
  (void)n;
}

class HeldCall {
 public:
  explicit HeldCall(const testsupport::LoadedLibrary &lib) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      gAckPipe = fds[1];
      struct sigaction action;
      memset(&action, 0, sizeof action);
      action.sa_handler = acknowledge;
      sigemptyset(&action.sa_mask);
      sigaction(SIGUSR1, &action, nullptr);
      _exit(terminateOnce(lib));
    }
    close(fds[1]);
    ack_ = fds[0];
  }
  ~HeldCall() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(ack_);
  }

  // True once the child has traced its hold line and sleeps in the
  // kernel; false if it finished or did anything else for the guard time.
  bool holding() {
    for (int i = 0; i < 100 * static_cast<int>(kGuardSeconds); ++i) {
      if (finished()) return false;
      if (traceMessagesOf(kTag).size() == 2 && sleeping()) return true;
      usleep(10000);
    }
    return false;
  }

  // Sends SIGUSR1 and waits for the handler's acknowledgement.
  bool interrupt() {
    if (kill(pid_, SIGUSR1) != 0) return false;
    char byte;
    return read(ack_, &byte, 1) == 1;
  }

  // The child's exit status, or -1 if it is still running after the guard
  // time (then it is killed).
  int finish() {
    for (int i = 0; i < 100 * static_cast<int>(kGuardSeconds); ++i) {
      if (finished()) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
      usleep(10000);
    }
    return -1;
  }

 private:
  bool finished() {
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }
  // In nanosleep or clock_nanosleep, and not in an open() of the marker.
  bool sleeping() const {
    std::string call = readFile("/proc/" + std::to_string(pid_) + "/syscall");
    return call.rfind("230 ", 0) == 0 || call.rfind("35 ", 0) == 0;
  }

  pid_t pid_ = -1;
  int ack_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

// ---------------------------------------------------------------------------
// The trace file

struct TraceFileCase {
  const char *name;
  std::function<void()> plant;
  bool asNobody;
  // Whatever the planted thing must still be after the call.
  std::function<void()> verify;
  // Why the case needs another real user than the test's, if it does.
  const char *otherUser = nullptr;
};

const char kElsewhere[] = "/tmp/elsewhere.log";

void expectEmptyRegularFile(const char *path) {
  struct stat st;
  ASSERT_EQ(lstat(path, &st), 0) << path;
  EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
  EXPECT_EQ(st.st_size, 0) << path << " received: " << readFile(path);
}

const TraceFileCase kTraceFileCases[] = {
    {"SymbolicLinkToAWritableFile",
     [] {
       testsupport::writeFile(kElsewhere, "", 0666);
       ASSERT_EQ(symlink(kElsewhere, kTracePath), 0);
     },
     false,
     [] {
       expectEmptyRegularFile(kElsewhere);
       struct stat st;
       ASSERT_EQ(lstat(kTracePath, &st), 0);
       EXPECT_TRUE(S_ISLNK(st.st_mode));
     }},
    {"FifoWithoutReader", [] { ASSERT_EQ(mkfifo(kTracePath, 0666), 0); }, false,
     [] {
       struct stat st;
       ASSERT_EQ(lstat(kTracePath, &st), 0);
       EXPECT_TRUE(S_ISFIFO(st.st_mode));
     }},
    {"Directory", [] { ASSERT_EQ(mkdir(kTracePath, 0777), 0); }, false,
     [] {
       struct stat st;
       ASSERT_EQ(lstat(kTracePath, &st), 0);
       EXPECT_TRUE(S_ISDIR(st.st_mode));
       EXPECT_EQ(rmdir(kTracePath), 0) << "the directory is no longer empty";
     }},
    {"ReadOnlyFileForAnUnprivilegedCaller",
     [] { testsupport::writeFile(kTracePath, "", 0444); }, true,
     [] { expectEmptyRegularFile(kTracePath); }, "the call runs as nobody"},
    {"FileOwnedByAnotherUser",
     [] {
       testsupport::writeFile(kTracePath, "", 0666);
       ASSERT_EQ(chown(kTracePath, testsupport::kNobody, testsupport::kNobody), 0);
     },
     false, [] { expectEmptyRegularFile(kTracePath); }, "the file is given to another user"},
};

void PrintTo(const TraceFileCase &c, std::ostream *out) { *out << c.name; }

class HostileTraceFile : public testing::TestWithParam<TraceFileCase> {};

TEST_P(HostileTraceFile, CallCompletesAndNothingIsWritten) {
  const TraceFileCase &c = GetParam();
  if (c.otherUser) ZORVAN_SKIP_UNLESS_OTHER_USERS(c.otherUser);
  testsupport::LoadedLibrary lib;
  c.plant();
  EXPECT_EQ(guardedCall(lib, c.asNobody), 0);
  c.verify();
}

INSTANTIATE_TEST_SUITE_P(Paths, HostileTraceFile, testing::ValuesIn(kTraceFileCases),
                         [](const testing::TestParamInfo<TraceFileCase> &tested) {
                           return std::string(tested.param.name);
                         });

TEST(HostileTraceFileFifo, ReaderOnTheFifoReceivesNothing) {
  testsupport::LoadedLibrary lib;
  ASSERT_EQ(mkfifo(kTracePath, 0666), 0);
  int reader = open(kTracePath, O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(guardedCall(lib), 0);
  char buf[64];
  EXPECT_LE(read(reader, buf, sizeof buf), 0) << "the FIFO received trace data";
  close(reader);
}

// ---------------------------------------------------------------------------
// The debug marker

struct MarkerCase {
  const char *name;
  std::function<void()> plant;
  // Empty for a marker that must not hold; otherwise what ends the hold.
  std::function<void()> release;
  // Why the case needs another real user than the test's, if it does.
  const char *otherUser = nullptr;
};

const char kLinkTarget[] = "/tmp/marker-target";

const MarkerCase kMarkerCases[] = {
    {"DirectoryHoldsUntilRemoved", [] { ASSERT_EQ(mkdir(kMarker, 0755), 0); },
     [] { ASSERT_EQ(rmdir(kMarker), 0); }},
    {"FifoHoldsWithoutBeingOpened", [] { ASSERT_EQ(mkfifo(kMarker, 0644), 0); },
     [] { ASSERT_EQ(unlink(kMarker), 0); }},
    {"SymbolicLinkHoldsWhileItsTargetExists",
     [] {
       testsupport::writeFile(kLinkTarget, "");
       ASSERT_EQ(symlink(kLinkTarget, kMarker), 0);
     },
     [] { ASSERT_EQ(unlink(kLinkTarget), 0); }},
    {"DanglingSymbolicLinkDoesNotHold",
     [] { ASSERT_EQ(symlink("/tmp/no-such-target", kMarker), 0); }, nullptr},
    {"AnotherUsersFileDoesNotHold",
     [] {
       testsupport::writeFile(kMarker, "");
       ASSERT_EQ(chown(kMarker, testsupport::kNobody, testsupport::kNobody), 0);
     },
     nullptr, "the marker is given to another user"},
};

void PrintTo(const MarkerCase &c, std::ostream *out) { *out << c.name; }

class HostileMarker : public testing::TestWithParam<MarkerCase> {};

TEST_P(HostileMarker, HoldsExactlyWhileItShould) {
  const MarkerCase &c = GetParam();
  if (c.otherUser) ZORVAN_SKIP_UNLESS_OTHER_USERS(c.otherUser);
  testsupport::LoadedLibrary lib;
  testsupport::enableTrace();
  c.plant();
  if (!c.release) {
    EXPECT_EQ(guardedCall(lib), 0);
  } else {
    HeldCall call(lib);
    ASSERT_TRUE(call.holding()) << "the call did not hold (or blocked elsewhere)";
    EXPECT_EQ(traceMessagesOf(kTag).size(), 2u);
    c.release();
    ASSERT_TRUE(call.interrupt());
    EXPECT_EQ(call.finish(), 0) << "the call went on holding after the marker stopped counting";
  }
  EXPECT_EQ(traceMessagesOf(kTag), kUnboundLines);
}

INSTANTIATE_TEST_SUITE_P(Paths, HostileMarker, testing::ValuesIn(kMarkerCases),
                         [](const testing::TestParamInfo<MarkerCase> &tested) {
                           return std::string(tested.param.name);
                         });

// ---------------------------------------------------------------------------
// A signal during the hold

TEST(HoldInterrupted, SignalWhileMarkerPresentKeepsHoldingThenReleaseProceeds) {
  testsupport::LoadedLibrary lib;
  testsupport::enableTrace();
  testsupport::writeFile(kMarker, "");

  HeldCall call(lib);
  ASSERT_TRUE(call.holding());
  // The signal cuts the sleep short; the marker is still there, so the
  // call must go back to holding rather than proceed or die.
  ASSERT_TRUE(call.interrupt());
  ASSERT_TRUE(call.holding()) << "an interrupted hold ended while the marker was present";
  EXPECT_EQ(traceMessagesOf(kTag).size(), 2u);

  ASSERT_EQ(unlink(kMarker), 0);
  ASSERT_TRUE(call.interrupt());
  EXPECT_EQ(call.finish(), 0);
  EXPECT_EQ(traceMessagesOf(kTag), kUnboundLines);
}

}  // namespace
