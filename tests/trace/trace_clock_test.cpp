// The date and time in front of every trace line, at instants the test
// fixes (see fixed_clock.h), in UTC so that local time is known: each field
// two digits with a leading zero, the year as its last two digits, and a
// field that does not fit in two digits printed as "%02d" prints it.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixed_clock.h"
#include "test_support.h"
#include "zorvan/trace.h"

namespace {

struct Instant {
  int year, month, day, hour, minute, second;
  const char *reads;  // "mm/dd/yy hh:mm:ss"
};

time_t utc(const Instant &at) {
  struct tm tm = {};
  tm.tm_year = at.year - 1900;
  tm.tm_mon = at.month - 1;
  tm.tm_mday = at.day;
  tm.tm_hour = at.hour;
  tm.tm_min = at.minute;
  tm.tm_sec = at.second;
  return timegm(&tm);
}

// The one line traced at the instant.
std::string lineAt(const Instant &at) {
  testsupport::writeFile(testsupport::kTracePath, "", 0666);
  testclock::fixAt(utc(at));
  SqluvErrorLog("db2ACSProbe()", "at %d", at.year);
  std::vector<std::string> lines = testsupport::traceLines();
  return lines.size() == 1 ? lines[0] : "(" + std::to_string(lines.size()) + " lines)";
}

std::string expectedLine(const Instant &at) {
  return "LIBDB2ACS-" + std::to_string(getpid()) + ": " + at.reads + " db2ACSProbe(): at " +
         std::to_string(at.year);
}

void expectLines(const std::vector<Instant> &instants) {
  setenv("TZ", "UTC0", 1);
  tzset();
  for (const Instant &at : instants) EXPECT_EQ(lineAt(at), expectedLine(at));
}

TEST(TraceClock, SingleDigitFieldsGetALeadingZero) {
  expectLines({{2007, 2, 1, 9, 5, 3, "02/01/07 09:05:03"},
               {2031, 9, 9, 0, 0, 0, "09/09/31 00:00:00"},
               {2010, 10, 10, 10, 10, 10, "10/10/10 10:10:10"}});
}

TEST(TraceClock, YearIsItsLastTwoDigitsAcrossTheCentury) {
  expectLines({{1999, 12, 31, 23, 59, 59, "12/31/99 23:59:59"},
               {2000, 1, 1, 0, 0, 0, "01/01/00 00:00:00"},
               {2026, 12, 31, 23, 59, 59, "12/31/26 23:59:59"},
               {2100, 6, 15, 12, 30, 45, "06/15/00 12:30:45"},
               {1800, 3, 4, 5, 6, 7, "03/04/00 05:06:07"}});
}

// Before 1900 the years since 1900 are negative and so is their remainder:
// the line carries what "%02d" makes of it.
TEST(TraceClock, FieldsOutsideTwoDigitsArePrintedAsPrintfPrintsThem) {
  expectLines({{1899, 7, 4, 1, 2, 3, "07/04/-1 01:02:03"},
               {1850, 12, 31, 23, 59, 59, "12/31/-50 23:59:59"},
               {1801, 1, 1, 0, 0, 0, "01/01/-99 00:00:00"}});
}

}  // namespace
