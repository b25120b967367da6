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

namespace doctor {

// argv[1] of the checking process; argv[2] is its request (JSON).
constexpr const char kCheckerFlag[] = "--checking-process";
constexpr int kReportFd = 3;

// The checking process's main; never returns.
[[noreturn]] void runChecker(const char *request);

}  // namespace doctor

#endif
