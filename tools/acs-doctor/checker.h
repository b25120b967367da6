// The checking process: acs-doctor re-executed as the subject (its uid,
// gid and groups, its whole environment), so that discovery, every probe
// for causes, --load and the judgement of /tmp see what DB2's process
// sees, the dynamic loader included. It runs the library's discovery once,
// as db2ACSInitialize does, reads it with the one interpreter, and writes
// its report as JSON lines to the descriptor kReportFd: first the
// discovery, then (with --load) the load, so that a back end that kills
// the process still leaves the discovery behind.
#ifndef ACS_DOCTOR_CHECKER_H
#define ACS_DOCTOR_CHECKER_H

#include <sys/types.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "findings.h"

namespace doctor {

// argv[1] of the checking process; argv[2] is its request (JSON).
constexpr const char kCheckerFlag[] = "--checking-process";
constexpr int kReportFd = 3;

// A trace sink that drops every line: nothing acs-doctor calls may write
// the trace file.
void discardTrace(const char *message, void *context);

// The checking process's main (main has set discardTrace); never returns.
[[noreturn]] void runChecker(const char *request);

// The fixed /tmp paths that silently change a DB2 call: the debug markers
// that hold an entry point and the trace file that switches tracing on,
// judged with the library's own rules (zorvan/tmp_rules.h) for the user
// the checking process is.
// {"trace_file": {"state", "detail"}, "markers": [{"path", "entry_point",
// "owner", "holds"}]}, and a problem for each marker and for tracing.
nlohmann::json inspectTmp(std::vector<Problem> &problems);

}  // namespace doctor

#endif
