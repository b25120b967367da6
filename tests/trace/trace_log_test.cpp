// The trace log: line layout, the two bounded formatting stages, and the
// conditions under which /tmp/db2acstrace.log receives nothing at all.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "zorvan/trace.h"

using testsupport::kTracePath;
using testsupport::readFile;
using testsupport::traceLines;
using testsupport::traceMessages;

namespace {

constexpr uid_t kStranger = 12345;
constexpr size_t kStageMax = 2046;

// Everything a line holds in front of the message, as it must read for
// the process at time t.
std::string prefixAt(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  char buf[64];
  snprintf(buf, sizeof buf, "LIBDB2ACS-%d: %02d/%02d/%02d %02d:%02d:%02d ", static_cast<int>(getpid()),
           tm.tm_mon + 1, tm.tm_mday, tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// Logs through a format that is not a literal (built at run time).
void logWithBuiltFormat(const char *tag, const std::string &format, const char *value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  SqluvErrorLog(tag, format.c_str(), value);
#pragma GCC diagnostic pop
}

// ---------------------------------------------------------------------------
// Line layout

TEST(TraceLine, CarriesPidAndLocalTimeMonthDayYearThenTheMessage) {
  testsupport::enableTrace();
  time_t before = time(nullptr);
  SqluvErrorLog("db2ACSProbe()", "value %d and %s", 42, "text");
  time_t after = time(nullptr);

  std::vector<std::string> lines = traceLines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string message = "db2ACSProbe(): value 42 and text";
  bool matched = false;
  for (time_t t = before; t <= after && !matched; ++t) matched = lines[0] == prefixAt(t) + message;
  EXPECT_TRUE(matched) << lines[0] << "\nexpected e.g. " << prefixAt(before) << message;
}

TEST(TraceLine, ForkedChildCarriesItsOwnPid) {
  testsupport::enableTrace();
  SqluvErrorLog("parent", "first");
  EXPECT_EQ(testsupport::runInChild([] {
              SqluvErrorLog("child", "second");
              testsupport::writeFile("/tmp/child-pid", std::to_string(getpid()));
              return 0;
            }),
            0);
  SqluvErrorLog("parent", "third");
  std::vector<std::string> lines = traceLines();
  ASSERT_EQ(lines.size(), 3u);
  const std::string own = "LIBDB2ACS-" + std::to_string(getpid()) + ": ";
  const std::string child = "LIBDB2ACS-" + readFile("/tmp/child-pid") + ": ";
  EXPECT_EQ(lines[0].compare(0, own.size(), own), 0) << lines[0];
  EXPECT_EQ(lines[1].compare(0, child.size(), child), 0) << lines[1];
  EXPECT_EQ(lines[2].compare(0, own.size(), own), 0) << lines[2];
}

TEST(TraceLine, FormatWithoutConversionsIsWrittenAsItIs) {
  testsupport::enableTrace();
  SqluvErrorLog("db2ACSTerminate()", "-----------Entered--------");
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"db2ACSTerminate(): -----------Entered--------"});
}

TEST(TraceLine, SubstitutedValuesAreNotInterpretedAgain) {
  testsupport::enableTrace();
  SqluvErrorLog("tag", "<%s>", "%s%n%d%p");
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"tag: <%s%n%d%p>"});
}

TEST(TraceLine, EachCallAppendsOneLineAfterEarlierContent) {
  testsupport::writeFile(kTracePath, "written before\n", 0666);
  SqluvErrorLog("first", "one");
  SqluvErrorLog("second", "two %u", 2u);
  std::vector<std::string> lines = traceLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "written before");
  EXPECT_EQ(traceMessages()[1], "first: one");
  EXPECT_EQ(traceMessages()[2], "second: two 2");
  EXPECT_EQ(readFile(kTracePath).back(), '\n');
}

TEST(TraceLine, OutcomeDoesNotDependOnErrno) {
  testsupport::enableTrace();
  errno = EACCES;
  SqluvErrorLog("tag", "a");
  errno = ENOENT;
  SqluvErrorLog("tag", "b");
  EXPECT_EQ(traceMessages(), (std::vector<std::string>{"tag: a", "tag: b"}));
}

// The leaving line of a forwarded call is traced after the back end has
// returned; whatever errno it left must reach DB2, tracing on or off.
TEST(TraceLine, CallersErrnoIsLeftAsItWas) {
  errno = ENOSPC;
  SqluvErrorLog("tag", "off");
  EXPECT_EQ(errno, ENOSPC);
  testsupport::enableTrace();
  errno = EDQUOT;
  SqluvErrorLog("tag", "on %d", 1);
  EXPECT_EQ(errno, EDQUOT);
  EXPECT_EQ(traceMessages(), (std::vector<std::string>{"tag: on 1"}));
}

// ---------------------------------------------------------------------------
// The two formatting stages, 2046 characters each

TEST(TraceLength, ExpandedMessageIsCutTo2046CharactersAndStillEndsTheLine) {
  testsupport::enableTrace();
  const std::string value(3000, 'v');
  SqluvErrorLog("T", "%s", value.c_str());
  const std::string raw = readFile(kTracePath);
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(raw.back(), '\n');
  std::vector<std::string> messages = traceMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].size(), kStageMax);
  EXPECT_EQ(messages[0], "T: " + std::string(kStageMax - 3, 'v'));
}

TEST(TraceLength, MessageOfExactly2046CharactersIsKeptWhole) {
  testsupport::enableTrace();
  const std::string value(kStageMax - 3, 'w');
  SqluvErrorLog("T", "%s", value.c_str());
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"T: " + value});
}

TEST(TraceLength, PlainFormatIsKeptUpTo2046CharactersAndCutBeyond) {
  testsupport::enableTrace();
  logWithBuiltFormat("T", std::string(kStageMax - 3, 'a'), "");
  logWithBuiltFormat("T", std::string(kStageMax - 2, 'b'), "");
  logWithBuiltFormat("T", std::string(3000, 'c'), "");
  EXPECT_EQ(traceMessages(), (std::vector<std::string>{"T: " + std::string(kStageMax - 3, 'a'),
                                                       "T: " + std::string(kStageMax - 3, 'b'),
                                                       "T: " + std::string(kStageMax - 3, 'c')}));
}

TEST(TraceLength, JoinedFormatIsCutBeforeExpansion) {
  testsupport::enableTrace();
  // "T: " + 2040 'A' + "%s" + 7 'B' is 2052 characters; cut to 2046 it
  // keeps one 'B'. Expanding "%s" to nothing then leaves 2044 characters.
  // Expanding first and cutting after would keep three 'B's instead.
  const std::string format = std::string(2040, 'A') + "%s" + std::string(7, 'B');
  logWithBuiltFormat("T", format, "");
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"T: " + std::string(2040, 'A') + "B"});
}

// ---------------------------------------------------------------------------
// When nothing is written

TEST(TraceOff, MissingFileIsNeverCreated) {
  SqluvErrorLog("tag", "nothing %d", 1);
  EXPECT_FALSE(testsupport::exists(kTracePath));
}

TEST(TraceOff, UnprivilegedUserWritesOnlyToAWritableFile) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the file is root's and the caller nobody");
  testsupport::writeFile(kTracePath, "", 0644);  // root's, read-only for others
  EXPECT_EQ(testsupport::runAs([] {
              SqluvErrorLog("tag", "read-only");
              return 0;
            }),
            0);
  EXPECT_EQ(readFile(kTracePath), "");

  chmod(kTracePath, 0666);
  EXPECT_EQ(testsupport::runAs([] {
              SqluvErrorLog("tag", "writable");
              return 0;
            }),
            0);
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"tag: writable"});
}

TEST(TraceOff, SymbolicLinkIsNotFollowed) {
  const std::string target = "/tmp/elsewhere";
  testsupport::writeFile(target, "", 0666);
  ASSERT_EQ(symlink(target.c_str(), kTracePath), 0);
  SqluvErrorLog("tag", "through a link");
  EXPECT_EQ(readFile(target), "");
}

TEST(TraceOff, DanglingSymbolicLinkCreatesNothing) {
  const std::string target = "/tmp/never-there";
  ASSERT_EQ(symlink(target.c_str(), kTracePath), 0);
  SqluvErrorLog("tag", "through a link");
  EXPECT_FALSE(testsupport::exists(target));
}

TEST(TraceOff, FifoWithoutReaderDoesNotBlock) {
  ASSERT_EQ(mkfifo(kTracePath, 0666), 0);
  // A regression would block in open(); the alarm turns that into a failure.
  int status = testsupport::runInChild([] {
    alarm(10);
    SqluvErrorLog("tag", "into a fifo");
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(TraceOff, FifoWithReaderReceivesNothing) {
  ASSERT_EQ(mkfifo(kTracePath, 0666), 0);
  int reader = open(kTracePath, O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  int status = testsupport::runInChild([] {
    alarm(10);
    SqluvErrorLog("tag", "into a fifo");
    return 0;
  });
  EXPECT_EQ(status, 0);
  char buf[64];
  EXPECT_LE(read(reader, buf, sizeof buf), 0);  // empty: 0 (no writer) or -1/EAGAIN
  close(reader);
}

TEST(TraceOff, DirectoryAtThePathIsLeftAlone) {
  ASSERT_EQ(mkdir(kTracePath, 0777), 0);
  SqluvErrorLog("tag", "into a directory");
  struct stat st;
  ASSERT_EQ(lstat(kTracePath, &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(rmdir(kTracePath), 0);  // still empty
}

// ---------------------------------------------------------------------------
// Whose file receives the trace: root's or the real user's, nobody else's

TEST(TraceOwner, FileOfAnotherUserReceivesNothingEvenIfWritable) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the file is given to another user");
  testsupport::writeFile(kTracePath, "", 0666);
  ASSERT_EQ(chown(kTracePath, kStranger, kStranger), 0);
  SqluvErrorLog("tag", "secret %s", "value");
  EXPECT_EQ(readFile(kTracePath), "");

  // Nor does it for an unprivileged process that is not its owner.
  EXPECT_EQ(testsupport::runAs([] {
              SqluvErrorLog("tag", "secret");
              return 0;
            }),
            0);
  EXPECT_EQ(readFile(kTracePath), "");
}

TEST(TraceOwner, FileOfTheRealUserIsWritten) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the file is given to nobody, who then traces");
  testsupport::writeFile(kTracePath, "", 0644);
  ASSERT_EQ(chown(kTracePath, testsupport::kNobody, testsupport::kNobody), 0);
  EXPECT_EQ(testsupport::runAs([] {
              SqluvErrorLog("tag", "own file");
              return 0;
            }),
            0);
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"tag: own file"});
}

// A set-user-ID root process traces as its real user: into that user's
// file, and not into root's file that only the effective user may write.
TEST(TraceOwner, SetUidProcessGoesByItsRealUser) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the real user is nobody, the effective root");
  auto trace = [] {
    SqluvErrorLog("tag", "set-uid");
    return 0;
  };
  testsupport::writeFile(kTracePath, "", 0600);
  ASSERT_EQ(chown(kTracePath, testsupport::kNobody, testsupport::kNobody), 0);
  EXPECT_EQ(testsupport::runSetUidRoot(trace), 0);
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"tag: set-uid"});

  ASSERT_EQ(unlink(kTracePath), 0);
  testsupport::writeFile(kTracePath, "", 0600);  // root's
  EXPECT_EQ(testsupport::runSetUidRoot(trace), 0);
  EXPECT_EQ(readFile(kTracePath), "");
}

TEST(TraceOwner, RootsFileIsWrittenByAnUnprivilegedProcess) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the file is root's and the caller nobody");
  testsupport::enableTrace();  // root's, mode 0666
  EXPECT_EQ(testsupport::runAs([] {
              SqluvErrorLog("tag", "from nobody");
              return 0;
            }),
            0);
  EXPECT_EQ(traceMessages(), std::vector<std::string>{"tag: from nobody"});
}

}  // namespace
