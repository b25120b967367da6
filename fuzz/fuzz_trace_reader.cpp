// acs-doctor's trace reader over arbitrary bytes: parsing and the reading
// into calls and causes must never crash, and must keep its own promises:
// there are no more records than lines with the library's prefix, every process
// has its calls in order with at most one first failure, and the failure
// index points at a failed call.
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "trace_calls.h"
#include "zorvan/trace_texts.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Causes may look at paths named in the trace: only in a private /tmp.
  fuzzsupport::privateTmp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string bytes(reinterpret_cast<const char *>(data), size);
  doctor::ParsedTrace trace = doctor::parseTrace(bytes);
  size_t lines = 0;
  for (char ch : bytes) lines += ch == '\n' ? 1 : 0;
  if (trace.records.size() + trace.foreignLines > lines + 1)
    fuzzsupport::fail("more records than lines");
  size_t prefixes = 0;
  for (size_t at = bytes.find(ZORVAN_TRACE_LINE_PREFIX); at != std::string::npos;
       at = bytes.find(ZORVAN_TRACE_LINE_PREFIX, at + 1))
    ++prefixes;
  if (trace.records.size() > prefixes) fuzzsupport::fail("a record without the line prefix");

  for (const doctor::TracedProcess &p : doctor::tracedProcesses(trace, getuid())) {
    if (p.firstFailure >= static_cast<int>(p.calls.size())) fuzzsupport::fail("failure index out of range");
    if (p.firstFailure >= 0 &&
        p.calls[static_cast<size_t>(p.firstFailure)].outcome != doctor::CallOutcome::Failed)
      fuzzsupport::fail("first failure is not a failed call");
    if (p.firstFailure >= 0 && p.problems.empty()) fuzzsupport::fail("a failure without a cause");
    for (int i = 0; i < p.firstFailure; ++i)
      if (p.calls[static_cast<size_t>(i)].outcome == doctor::CallOutcome::Failed)
        fuzzsupport::fail("an earlier failure was passed over");
  }
  return 0;
}
