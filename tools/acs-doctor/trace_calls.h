// A trace log read back as calls: per process, the ACS calls in the order
// they were made, each with its result and whether the library or the back
// end gave it; for a failed db2ACSInitialize, the cause, from the same
// table of causes the live check uses.
#ifndef ACS_DOCTOR_TRACE_CALLS_H
#define ACS_DOCTOR_TRACE_CALLS_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

// Reads a trace log as the library writes it: one record per line
// "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss <tag>: <message>". Lines of several
// processes may interleave, a line may be cut at the formatting limit, the
// last one may still be being written, and anything else may have been
// appended to the file; none of that stops the reading.
struct TraceRecord {
  long pid = 0;
  std::string tag;   // "db2ACSInitialize()", "GetZorvanBaseDir", ...
  std::string message;
};

struct ParsedTrace {
  std::vector<TraceRecord> records;  // in file order
  std::size_t foreignLines = 0;      // non-empty lines that are no trace line
  bool partialLastLine = false;      // the file does not end in a newline
};

ParsedTrace parseTrace(const std::string &bytes);

enum class CallOutcome { Ok, EndOfListing, Failed, Unfinished };

struct TracedCall {
  std::string function;  // "db2ACSInitialize"
  bool finished = false;
  int rc = 0;
  bool notBound = false;   // the library failed it: no back end bound
  bool forwarded = false;  // the back end was called and gave rc
  bool bindingFailed = false;  // db2ACSInitialize could not bind
  std::vector<std::string> inner;  // "tag: message" of the loader and discovery
  CallOutcome outcome = CallOutcome::Unfinished;
};

struct TracedProcess {
  long pid = 0;
  std::vector<TracedCall> calls;
  int firstFailure = -1;  // index into calls
  std::vector<Problem> problems;  // why the first failure happened
};

// owner: the trace file's owner, whose login files the fixes name.
std::vector<TracedProcess> tracedProcesses(const ParsedTrace &trace, uid_t owner);

const char *outcomeName(CallOutcome outcome);

}  // namespace doctor

#endif
