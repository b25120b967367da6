#include "call_table.h"

#include <cstdio>

#include "host_blocks.h"
#include "qxacs_example.h"

namespace {

const char *outcomeText(const CallRow &row) {
  switch (row.outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::EndOfList: return "ok (no more objects)";
    case Outcome::Failed: return "FAILED";
  }
  return "?";
}

std::string recordText(const CallRow &row) {
  if (!row.hasRecord) return "-";
  if (row.recordField == kRecordSentinel) return "unset";
  return std::to_string(row.recordField);
}

}  // namespace

const char *resultMeaning(const std::string &function, bool hasRecord, int32_t rc) {
  if (!hasRecord || rc == 0) return nullptr;
  if (rc == 11 && function == "db2ACSInitialize") return "the library could not bind its back end";
  if (rc == 4) return "no back end bound for this call (the library's own failure)";
  return qxacs_result_text(rc);
}

void printTableHeader(const std::string &library, bool direct, const char *sequence) {
  std::printf("acs-host: sequence %s, %s %s\n", sequence, direct ? "back end" : "library",
              library.c_str());
  std::printf("%3s  %-26s %6s %8s %10s  %s\n", "#", "function", "rc", "record", "usec",
              "outcome");
  std::fflush(stdout);
}

void printRow(const CallRow &row) {
  std::printf("%3d  %-26s %6d %8s %10.1f  %s", row.index, row.function.c_str(), row.rc,
              recordText(row).c_str(), row.micros, outcomeText(row));
  if (row.why) std::printf(": %s", row.why);
  if (row.meaning) std::printf("  [%s]", row.meaning);
  std::printf("\n");
  std::fflush(stdout);
}

void printNote(const std::string &text) {
  std::printf("%5s%s\n", "", text.c_str());
  std::fflush(stdout);
}

void printSummary(const CallTotals &totals, int exitStatus) {
  std::printf("summary: %d calls, %d ok, %d failed", totals.calls, totals.ok, totals.failed);
  if (totals.problems) std::printf(", %d other problem%s", totals.problems,
                                   totals.problems == 1 ? "" : "s");
  std::printf("; exit status %d\n", exitStatus);
  std::fflush(stdout);
}
