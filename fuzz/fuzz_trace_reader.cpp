// acs-doctor's trace reader over arbitrary bytes: the reading into calls
// and causes must never crash, and must keep its own promises: no more
// calls than lines with the library's prefix, no more foreign lines than
// lines, and per process at most one first failure, pointing at a failed
// call with a cause, and no failed call before it.
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "trace_reader.h"
#include "zorvan/trace_texts.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Causes may look at paths named in the trace: only in a private /tmp.
  fuzzsupport::privateTmp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string bytes(reinterpret_cast<const char *>(data), size);
  nlohmann::json doc = doctor::readTrace(bytes, getuid());
  size_t lines = 0, prefixes = 0;
  for (char ch : bytes) lines += ch == '\n' ? 1 : 0;
  for (size_t at = bytes.find(ZORVAN_TRACE_LINE_PREFIX); at != std::string::npos;
       at = bytes.find(ZORVAN_TRACE_LINE_PREFIX, at + 1))
    ++prefixes;
  if (doc.is_null()) return 0;  // no trace line in it
  if (doc["foreign_lines"].get<size_t>() > lines + 1) fuzzsupport::fail("more foreign lines than lines");
  size_t calls = 0;
  for (const nlohmann::json &p : doc["processes"]) {
    calls += p["calls"].size();
    const nlohmann::json &first = p["first_failure"];
    if (!first.is_null() && (first.get<size_t>() < 1 || first.get<size_t>() > p["calls"].size()))
      fuzzsupport::fail("failure index out of range");
    if (!first.is_null() && p["calls"][first.get<size_t>() - 1]["outcome"] != "FAILED")
      fuzzsupport::fail("first failure is not a failed call");
    if (!first.is_null() && p["problems"].empty()) fuzzsupport::fail("a failure without a cause");
    for (size_t i = 0; i + 1 < (first.is_null() ? p["calls"].size() + 1 : first.get<size_t>()); ++i)
      if (p["calls"][i]["outcome"] == "FAILED") fuzzsupport::fail("an earlier failure was passed over");
  }
  if (calls > prefixes) fuzzsupport::fail("a call without the line prefix");
  return 0;
}
