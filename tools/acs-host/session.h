// One run of acs-host against a loaded library: makes each ACS call with
// a freshly reset record, times it, judges it, prints its row and, with
// --args-log, writes the journal line the example back end should write.
#ifndef ACS_HOST_SESSION_H
#define ACS_HOST_SESSION_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "acs_api.h"
#include "call_table.h"
#include "host_blocks.h"
#include "qxacs_example.h"

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
  int32_t queryApiVersion();
  int32_t initialize(ControlBlock &cb);
  int32_t terminate(qxacs_operation &op);
  int32_t beginOperation(uint32_t code, qxacs_operation &op);
  int32_t endOperation(uint32_t end, qxacs_operation &op);
  int32_t prepare(qxacs_operation &op, qxacs_object &obj);
  int32_t partition(qxacs_operation &op, qxacs_partition &part, qxacs_object &obj);
  int32_t beginQuery(qxacs_operation &op, qxacs_query &query);
  int32_t getNextObject(qxacs_query &query, qxacs_object &obj);
  int32_t endQuery(qxacs_query &query);
  int32_t snapshot(uint32_t action, qxacs_operation &op, qxacs_partition &part,
                   qxacs_object &obj);
  int32_t verify(qxacs_operation &op, qxacs_object &obj);
  int32_t deleteObject(qxacs_operation &op, qxacs_object &obj);
  int32_t storeMetaData(qxacs_operation &op, qxacs_object &obj);
  int32_t retrieveMetaData(qxacs_operation &op, qxacs_partition &part, qxacs_object &obj);

  // Prints the summary; returns the exit status (0, or 1 after a failure).
  int finish();

 private:
  // invoke() makes the call; describe(line, size, rc) formats its journal
  // line. listing: QXACS_NO_MORE_OBJECTS is a normal end, not a failure.
  template <typename Invoke, typename Describe>
  int32_t call(const char *apiName, Invoke invoke, Describe describe, bool listing = false);
  void count(CallRow &row);

  const AcsApi &api_;
  bool keepGoing_;
  std::FILE *argsLog_;
  HostRecord record_{};
  CallTotals totals_;
  bool failed_ = false;
};

#endif
