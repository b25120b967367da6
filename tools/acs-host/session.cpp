#include "session.h"

#include <chrono>

#include "qxacs_journal.h"

namespace {

// The only API version this host speaks.
constexpr int32_t kApiVersion = 1;

double microsSince(std::chrono::steady_clock::time_point start) {
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

}  // namespace

Session::Session(const AcsApi &api, bool keepGoing, std::FILE *argsLog)
    : api_(api), keepGoing_(keepGoing), argsLog_(argsLog) {}

void Session::problem(const std::string &text) {
  printNote("problem: " + text);
  ++totals_.problems;
  failed_ = true;
}

void Session::count(CallRow &row) {
  if (row.outcome == Outcome::Failed) {
    ++totals_.failed;
    failed_ = true;
  } else {
    ++totals_.ok;
  }
  printRow(row);
}

template <typename Invoke, typename Describe>
int32_t Session::call(const char *apiName, Invoke invoke, Describe describe, bool listing) {
  CallRow row;
  row.index = ++totals_.calls;
  row.function = api_.symbolOf(apiName);
  resetRecord(record_);
  auto start = std::chrono::steady_clock::now();
  int32_t rc = invoke();
  row.micros = microsSince(start);
  row.rc = rc;
  row.recordField = record_.returnCode;
  row.tailIntact = recordTailIntact(record_);
  if (!row.tailIntact) {
    row.outcome = Outcome::Failed;
    row.why = "record changed beyond its first field";
  } else if (rc == QXACS_OK) {
    row.outcome = Outcome::Ok;
  } else if (listing && rc == QXACS_NO_MORE_OBJECTS) {
    row.outcome = Outcome::EndOfList;
  } else {
    row.outcome = Outcome::Failed;
  }
  row.meaning = resultMeaning(row.function, row.hasRecord, rc);
  count(row);
  if (argsLog_) {
    char line[QXACS_JOURNAL_LINE_MAX];
    describe(line, sizeof line, rc);
    std::fprintf(argsLog_, "%s\n", line);
    std::fflush(argsLog_);
  }
  return rc;
}

int32_t Session::queryApiVersion() {
  CallRow row;
  row.index = ++totals_.calls;
  row.function = "db2ACSQueryApiVersion";
  row.hasRecord = false;
  auto start = std::chrono::steady_clock::now();
  int32_t version = api_.queryApiVersion();
  row.micros = microsSince(start);
  row.rc = version;
  if (version != kApiVersion) {
    row.outcome = Outcome::Failed;
    row.why = "not API version 1";
  }
  count(row);
  return version;
}

int32_t Session::initialize(ControlBlock &cb) {
  HostRecord *rc = &record_;
  int32_t result = call(
      "db2ACSInitialize", [&] { return api_.initialize(cb.bytes, rc); },
      [&](char *line, std::size_t size, int32_t code) {
        qxacs_journal_initialize(line, size, cb.bytes, rc, code);
      });
  // 11 is the front end's "could not bind": the doctor explains why.
  if (result == 11 && hasQueryApiVersion())
    printNote("the library found no usable back end; ask acs-doctor why: acs-doctor --as-user "
              "<instance owner>, or with tracing on acs-doctor --trace /tmp/db2acstrace.log");
  return result;
}

int32_t Session::terminate(qxacs_operation &op) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSTerminate", [&] { return api_.terminate(&op, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_terminate(line, size, &op, rc, result);
      });
}

int32_t Session::beginOperation(uint32_t code, qxacs_operation &op) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSBeginOperation", [&] { return api_.beginOperation(code, &op, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_begin_operation(line, size, code, &op, rc, result);
      });
}

int32_t Session::endOperation(uint32_t end, qxacs_operation &op) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSEndOperation", [&] { return api_.endOperation(end, &op, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_end_operation(line, size, end, &op, rc, result);
      });
}

int32_t Session::prepare(qxacs_operation &op, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSPrepare", [&] { return api_.prepare(&op, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_prepare(line, size, &op, &obj, rc, result);
      });
}

int32_t Session::partition(qxacs_operation &op, qxacs_partition &part, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSPartition", [&] { return api_.partition(&op, &part, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_partition(line, size, &op, &part, &obj, rc, result);
      });
}

int32_t Session::beginQuery(qxacs_operation &op, qxacs_query &query) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSBeginQuery", [&] { return api_.beginQuery(&op, &query, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_begin_query(line, size, &op, &query, rc, result);
      });
}

int32_t Session::getNextObject(qxacs_query &query, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSGetNextObject", [&] { return api_.getNextObject(&query, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_get_next_object(line, size, &query, &obj, rc, result);
      },
      true);
}

int32_t Session::endQuery(qxacs_query &query) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSEndQuery", [&] { return api_.endQuery(&query, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_end_query(line, size, &query, rc, result);
      });
}

int32_t Session::snapshot(uint32_t action, qxacs_operation &op, qxacs_partition &part,
                          qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSSnapshot", [&] { return api_.snapshot(action, &op, &part, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_snapshot(line, size, action, &op, &part, &obj, rc, result);
      });
}

int32_t Session::verify(qxacs_operation &op, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSVerify", [&] { return api_.verify(&op, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_verify(line, size, &op, &obj, rc, result);
      });
}

int32_t Session::deleteObject(qxacs_operation &op, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSDelete", [&] { return api_.deleteObject(&op, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_delete(line, size, &op, &obj, rc, result);
      });
}

int32_t Session::storeMetaData(qxacs_operation &op, qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSStoreMetaData", [&] { return api_.storeMetaData(&op, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_store_metadata(line, size, &op, &obj, rc, result);
      });
}

int32_t Session::retrieveMetaData(qxacs_operation &op, qxacs_partition &part,
                                  qxacs_object &obj) {
  HostRecord *rc = &record_;
  return call(
      "db2ACSRetrieveMetaData", [&] { return api_.retrieveMetaData(&op, &part, &obj, rc); },
      [&](char *line, std::size_t size, int32_t result) {
        qxacs_journal_retrieve_metadata(line, size, &op, &part, &obj, rc, result);
      });
}

int Session::finish() {
  int status = failed_ ? 1 : 0;
  printSummary(totals_, status);
  return status;
}
