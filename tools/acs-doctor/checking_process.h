// The checking process: acs-doctor re-executed as the subject (its uid,
// gid and groups, its environment without the dynamic loader's variables,
// which the request carries instead), so that discovery, every probe for
// causes and the judgement of /tmp see what DB2's process sees. It runs the
// library's discovery once, as db2ACSInitialize does, judges what
// LD_PRELOAD, LD_AUDIT and /etc/ld.so.preload would put into DB2's process
// without loading any of it, has the back end loaded (--load) in a load
// process of its own, decides, and writes its report as one JSON line on
// stdout.
#ifndef ACS_DOCTOR_CHECKING_PROCESS_H
#define ACS_DOCTOR_CHECKING_PROCESS_H

namespace doctor {

// argv[1] of the checking process; argv[2] is its request (JSON).
constexpr const char kCheckerFlag[] = "--checking-process";
// Its main; never returns.
[[noreturn]] void runChecker(const char *request);

// The load process: acs-doctor re-executed as the subject with its whole
// environment, LD_PRELOAD and all, as DB2's process has it; it opens the
// back end from its base directory as the library does and reports on
// stdout only what loaded, what resolved, what came along and the run
// paths, for the checking process to judge. argv[1] is kLoadFlag, argv[2]
// the base directory, argv[3] the back end.
constexpr const char kLoadFlag[] = "--load-process";
[[noreturn]] void runLoadProcess(const char *baseDir, const char *libraryPath);

// A trace sink that drops every line: nothing acs-doctor calls may write
// the trace file.
void discardTrace(const char *message, void *context);

}  // namespace doctor

#endif
