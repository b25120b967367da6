#include "session.h"

#include <pwd.h>
#include <unistd.h>

#include "acs_return_codes.h"
#include "zorvan/tmp_rules.h"

namespace {

// The user acs-host runs as, by name when it has one.
std::string userName() {
  const passwd *pw = getpwuid(getuid());
  return pw && pw->pw_name ? pw->pw_name : std::to_string(getuid());
}

// The description as one printable line.
std::string printable(const char *text) {
  std::string out(text);
  for (char &c : out)
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
  return out;
}

// Where a failure code came from, as far as acs-host can tell: the library
// writes only the record's first field, a back end fills the whole record.
std::string originOf(const CallRow &row, bool direct) {
  if (row.rc == DB2ACS_RC_INV_ACTION) {
    if (direct) return "4 is DB2ACS_RC_INV_ACTION from the back end (with --backend-direct it is never the library's)";
    if (row.restWritten) return "4 is DB2ACS_RC_INV_ACTION from the back end, which filled the record";
    return "4 is DB2ACS_RC_INV_ACTION from a back end, and also the library's own code when no back "
           "end is bound; only the record's first field was written, as the library writes it";
  }
  if (row.rc == DB2ACS_RC_INIT_FAILED && row.function == "db2ACSInitialize" && !direct) {
    if (row.restWritten) return "11 is DB2ACS_RC_INIT_FAILED from the back end, which filled the record";
    return "the library found no usable back end (only the record's first field was written, as "
           "the library writes it); ask acs-doctor why: acs-doctor --as-user " + userName() +
           " --load, or with tracing on acs-doctor --trace /tmp/db2acstrace.log";
  }
  return "";
}

}  // namespace

Session::Session(const AcsApi &api, bool keepGoing, std::FILE *argsLog)
    : api_(api), keepGoing_(keepGoing), argsLog_(argsLog) {}

double Session::microsSince(std::chrono::steady_clock::time_point start) {
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

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

// The library holds a call while its marker holds by the library's own
// rule; a held call would otherwise look like a hang. A back end called
// directly is never held.
void Session::announceHold(const char *apiName) const {
  if (api_.direct) return;
  bool versionQuery = std::string(apiName) == "db2ACSQueryApiVersion";
  std::string marker = std::string("/tmp/") + apiName + (versionQuery ? "1" : "Debug");
  if (!zorvan::markerHolds(marker.c_str(), getuid())) return;
  std::printf("waiting: %s exists (debug hold); remove it to go on\n", marker.c_str());
  std::fflush(stdout);
}

CallRow Session::startRow(const char *apiName, const std::string &argument) {
  CallRow row;
  row.index = ++totals_.calls;
  row.function = api_.symbolOf(apiName);
  row.argument = argument;
  announceHold(apiName);
  resetRecord(record_);
  return row;
}

void Session::judge(CallRow &row, db2acs::RC rc, bool listing) {
  row.rc = rc;
  RecordState state = inspectRecord(record_);
  row.returnCodeSet = state.returnCodeSet;
  row.recordField = record_.returnCode;
  row.restWritten = state.restWritten;
  if (state.restWritten) row.reason = record_.reasonCode;
  if (state.restWritten && state.terminated) row.description = printable(record_.description);

  if (rc == DB2ACS_RC_OK) row.outcome = Outcome::Ok;
  else if (listing && rc == DB2ACS_RC_END_OF_DATA) row.outcome = Outcome::EndOfList;
  else row.outcome = Outcome::Failed;
  // DB2 reads the record as well as the result: they must agree.
  if (!state.terminated) {
    row.why = "the description has no terminating byte";
  } else if (!state.returnCodeSet) {
    row.why = "the record's return code was left unset";
  } else if (record_.returnCode != rc) {
    const char *name = acsReturnCodeName(record_.returnCode);
    row.why = "the record says " + std::to_string(record_.returnCode) + (name ? std::string(" ") + name : "");
  }
  if (!row.why.empty()) row.outcome = Outcome::Failed;
  if (row.outcome == Outcome::Failed) row.meaning = originOf(row, api_.direct);
  count(row);
}

void Session::logArguments(const char *line) {
  std::fprintf(argsLog_, "%s\n", line);
  std::fflush(argsLog_);
}

uint32_t Session::queryApiVersion() {
  CallRow row = startRow("db2ACSQueryApiVersion", "");
  row.isCode = false;
  auto start = std::chrono::steady_clock::now();
  uint32_t version = api_.queryApiVersion();
  row.micros = microsSince(start);
  row.rc = static_cast<int32_t>(version);
  if (version != db2acs::kApiVersion) {
    row.outcome = Outcome::Failed;
    row.why = "not API version 1";
  }
  count(row);
  return version;
}

int Session::finish() {
  int status = failed_ ? 1 : 0;
  printSummary(totals_, status);
  return status;
}
