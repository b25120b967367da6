// Many processes tracing into one file at once: every line arrives whole,
// none is lost or doubled, and what the file held before stays in front.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "zorvan/trace.h"

namespace {

constexpr int kWriters = 8;
constexpr int kLinesEach = 5000;

// Messages of varied length, up to the longest the trace keeps, so that
// writes of very different sizes race each other.
std::string padding(int writer, int line) {
  static const size_t lengths[] = {0, 17, 300, 1500, 2000};
  size_t length = lengths[(writer + line) % 5];
  return std::string(length, static_cast<char>('a' + writer));
}

TEST(ConcurrentTrace, EightProcessesAppendWholeLinesAfterEarlierContent) {
  const std::string earlier =
      "earlier content, line one\n"
      "LIBDB2ACS-1: 01/02/03 04:05:06 db2ACSInitialize(): an old line\n";
  testsupport::writeFile(testsupport::kTracePath, earlier, 0666);

  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kLinesEach; ++i)
        SqluvErrorLog("ConcurrentWriter", "writer %d line %d [%s]", w, i, padding(w, i).c_str());
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::string content = testsupport::readFile(testsupport::kTracePath);
  ASSERT_EQ(content.compare(0, earlier.size(), earlier), 0) << "earlier content was disturbed";

  // The head is read field by field, the long padding by comparison.
  std::map<std::pair<int, int>, int> seen;
  std::map<int, pid_t> pidOfWriter;
  size_t count = 0, malformed = 0;
  size_t start = earlier.size();
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the file ends inside a line";
    std::string text = content.substr(start, end - start);
    start = end + 1;
    ++count;
    size_t bracket = text.find(" [");
    std::string front = text.substr(0, bracket);
    long pid = 0;
    std::string message;
    int w = -1, i = -1, used = 0;
    bool wellFormed = bracket != std::string::npos && testsupport::splitTraceLine(front, pid, message) &&
                      sscanf(message.c_str(), "ConcurrentWriter: writer %1d line %d%n", &w, &i, &used) == 2 &&
                      static_cast<size_t>(used) == message.size() && w >= 0 && w < kWriters && i >= 0;
    if (!wellFormed) {
      if (++malformed <= 3) ADD_FAILURE() << "malformed line: " << text.substr(0, 200);
      continue;
    }
    ASSERT_LT(i, kLinesEach);
    EXPECT_EQ(text.substr(bracket + 2), padding(w, i) + "]") << "writer " << w << " line " << i;
    auto known = pidOfWriter.emplace(w, static_cast<pid_t>(pid));
    EXPECT_EQ(known.first->second, pid) << "writer " << w << " under two pids";
    ++seen[{w, i}];
  }
  EXPECT_EQ(malformed, 0u);
  EXPECT_EQ(count, static_cast<size_t>(kWriters * kLinesEach));
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLinesEach));
  for (const auto &entry : seen)
    if (entry.second != 1)
      ADD_FAILURE() << "writer " << entry.first.first << " line " << entry.first.second << " seen "
                    << entry.second << " times";
}

}  // namespace
