// acs-doctor --trace FILE: explains a captured trace log.
#ifndef ACS_DOCTOR_TRACE_EXPLAIN_H
#define ACS_DOCTOR_TRACE_EXPLAIN_H

#include <cstdio>
#include <string>

namespace doctor {

// Prints each process's calls, the first failure and its cause. Returns
// 0 when no call failed, 1 when one did, 2 when the file cannot be read or
// holds no trace line.
int explainTraceFile(const std::string &path, bool json, std::FILE *out, std::FILE *err);

}  // namespace doctor

#endif
