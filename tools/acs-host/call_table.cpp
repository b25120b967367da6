#include "call_table.h"

#include <cstdio>

#include "acs_return_codes.h"

namespace {

const char *outcomeText(const CallRow &row) {
  switch (row.outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::EndOfList: return "ok (end of the listing)";
    case Outcome::Failed: return "FAILED";
  }
  return "?";
}

// Every code by its published name; a number outside the table says so.
const char *codeName(const CallRow &row) {
  if (!row.isCode) return "(version)";
  const char *name = acsReturnCodeName(row.rc);
  return name ? name : "(no published name)";
}

std::string recordText(const CallRow &row) {
  if (!row.isCode) return "-";
  return row.returnCodeSet ? std::to_string(row.recordField) : "unset";
}

}  // namespace

void printTableHeader(const std::string &library, bool direct, const char *sequence) {
  std::printf("acs-host: sequence %s, %s %s\n", sequence, direct ? "back end" : "library",
              library.c_str());
  std::printf("%3s  %-24s %-16s %4s %-28s %6s %6s %9s  %s\n", "#", "function", "argument", "rc",
              "code", "record", "reason", "usec", "outcome");
  std::fflush(stdout);
}

void printRow(const CallRow &row) {
  std::string reason = row.restWritten ? std::to_string(row.reason) : "-";
  std::printf("%3d  %-24s %-16s %4d %-28s %6s %6s %9.1f  %s", row.index, row.function.c_str(),
              row.argument.empty() ? "-" : row.argument.c_str(), row.rc, codeName(row),
              recordText(row).c_str(), reason.c_str(), row.micros, outcomeText(row));
  if (!row.why.empty()) std::printf(": %s", row.why.c_str());
  std::printf("\n");
  if (!row.meaning.empty()) printNote(row.meaning);
  if (!row.description.empty()) printNote("description: " + row.description);
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
