// Runs the check in a child that has become the subject: its environment
// (the whole of it for a process or a login), its working directory and,
// when the subject is another user, its uid, gid and groups. Discovery, the
// permission probes and the --load test all run there, so the load can
// never contradict the execute test; results come back over a pipe.
#ifndef ACS_DOCTOR_CHECKED_RUN_H
#define ACS_DOCTOR_CHECKED_RUN_H

#include <string>

#include "findings.h"
#include "zorvan/acs_types.h"

namespace doctor {

struct CheckResult {
  DiscoveryRun run;
  BackendLoad load;
  std::string cwdError;  // the subject's cwd could not be entered (the check went on)
};

// False with error set when the child could not become the subject or
// did not report.
bool runCheckAs(const Subject &subject, const db2ACS_CB *cb, bool load, CheckResult &out,
                std::string &error);

}  // namespace doctor

#endif
