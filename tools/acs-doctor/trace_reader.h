// acs-doctor --trace FILE: a trace log read back as calls. Per process,
// the ACS calls in the order they were made, each with its result and
// whether the library or the back end gave it; for the first failure, its
// cause, from the same table of causes the live check uses.
#ifndef ACS_DOCTOR_TRACE_READER_H
#define ACS_DOCTOR_TRACE_READER_H

#include <sys/types.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace doctor {

// Explains a trace log: prints each process's calls, the first failure
// and its cause. Returns 0 when no call failed, 1 when one did, 2 when the
// file cannot be read or holds no trace line.
int explainTraceFile(const std::string &path, bool json, std::FILE *out, std::FILE *err);
// A trace log's bytes read as what --trace --json prints; null when they
// hold no trace line. owner: the trace file's owner, whose login files the
// fixes name.
nlohmann::json readTrace(const std::string &bytes, uid_t owner);

}  // namespace doctor

#endif
