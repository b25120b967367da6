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
  int32_t rc = 0;
  bool hasRecord = true;  // db2ACSQueryApiVersion takes none
  int32_t recordField = 0;
  bool tailIntact = true;
  double micros = 0;
  Outcome outcome = Outcome::Ok;
  const char *why = nullptr;  // with Failed, when the rc alone is not why
  const char *meaning = nullptr;  // the rc in words, when it has a known meaning
};

// The front end's own failure codes and the reference back end's codes in
// words; null for 0 and for codes neither side defines.
const char *resultMeaning(const std::string &function, bool hasRecord, int32_t rc);

struct CallTotals {
  int calls = 0;
  int ok = 0;
  int failed = 0;
  int problems = 0;  // failures that are no call's, e.g. nothing to restore
};

void printTableHeader(const std::string &library, bool direct, const char *sequence);
void printRow(const CallRow &row);
// An indented line under the row it belongs to, e.g. "object: obj-000001".
void printNote(const std::string &text);
void printSummary(const CallTotals &totals, int exitStatus);

#endif
