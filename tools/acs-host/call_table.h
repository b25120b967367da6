// The table acs-host prints: a header, one row per call as it returns
// (flushed, so rows made before a crash still show), notes, a summary.
#ifndef ACS_HOST_CALL_TABLE_H
#define ACS_HOST_CALL_TABLE_H

#include <cstdint>
#include <string>

enum class Outcome { Ok, EndOfList, Failed };

struct CallRow {
  int index = 0;
  std::string function;
  std::string argument;  // what the call is about, e.g. "CREATE|SNAPSHOT"
  int32_t rc = 0;
  bool isCode = true;  // false for db2ACSQueryApiVersion, which answers a version
  bool returnCodeSet = false;
  int32_t recordField = 0;
  bool restWritten = false;  // reason and description are the callee's
  int32_t reason = 0;
  std::string description;
  double micros = 0;
  Outcome outcome = Outcome::Ok;
  std::string why;      // with Failed, when the rc alone is not why
  std::string meaning;  // what acs-host can say about where the code came from
};

struct CallTotals {
  int calls = 0;
  int ok = 0;
  int failed = 0;
  int problems = 0;  // failures that are no call's, e.g. nothing to restore
};

void printTableHeader(const std::string &library, bool direct, const char *sequence);
// The row, and under it the callee's description when it wrote one.
void printRow(const CallRow &row);
// An indented line under the row it belongs to, e.g. "object: 3".
void printNote(const std::string &text);
void printSummary(const CallTotals &totals, int exitStatus);

#endif
