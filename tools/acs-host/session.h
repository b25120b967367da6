// One run of acs-host against a loaded library: makes each ACS call with
// a freshly reset record, times it, judges it, prints its row and, with
// --args-log, writes the journal line the example back end should write.
#ifndef ACS_HOST_SESSION_H
#define ACS_HOST_SESSION_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "acs_api.h"
#include "call_table.h"
#include "host_blocks.h"

class Session {
 public:
  Session(const AcsApi &api, bool keepGoing, std::FILE *argsLog);

  // A sequence takes its next step while nothing failed, or always with
  // --keep-going.
  bool mayContinue() const { return keepGoing_ || !failed_; }
  bool keepGoing() const { return keepGoing_; }
  bool failed() const { return failed_; }

  // A failure that is no single call's, e.g. nothing to restore.
  void problem(const std::string &text);
  void note(const std::string &text) { printNote(text); }

  // False when the library has no such function (a back end, direct).
  bool hasQueryApiVersion() const { return api_.queryApiVersion != nullptr; }
  uint32_t queryApiVersion();

  // Makes call C with args and the session's record, e.g.
  //   call<AcsCall::Delete>("object 3", id, &cb);
  // argument is what the row shows the call is about.
  template <AcsCall C, typename... Args>
  db2acs::RC call(const std::string &argument, Args... args) {
    CallRow row = startRow(CallOf<C>::name, argument);
    auto start = std::chrono::steady_clock::now();
    db2acs::RC rc = api_.entry<C>()(args..., &record_);
    row.micros = microsSince(start);
    judge(row, rc, C == AcsCall::GetNextObject);
    if (argsLog_) {
      char line[QXACS_JOURNAL_LINE_MAX];
      CallOf<C>::journal(line, sizeof line, args..., &record_, rc);
      logArguments(line);
    }
    return rc;
  }

  // Prints the summary; returns the exit status (0, or 1 after a failure).
  int finish();

 private:
  // The row of the call about to be made; prints the hold line first when
  // the library's debug marker would hold the call.
  CallRow startRow(const char *apiName, const std::string &argument);
  // Outcome and words for the row; listing: END_OF_DATA is a normal end.
  void judge(CallRow &row, db2acs::RC rc, bool listing);
  void count(CallRow &row);
  void logArguments(const char *line);
  void announceHold(const char *apiName) const;
  static double microsSince(std::chrono::steady_clock::time_point start);

  const AcsApi &api_;
  bool keepGoing_;
  std::FILE *argsLog_;
  db2acs::ReturnCode record_{};
  CallTotals totals_;
  bool failed_ = false;
};

#endif
