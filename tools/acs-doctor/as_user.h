// Discovery as another user: DB2 runs as its instance owner, whose
// permissions may differ from those of whoever runs acs-doctor.
#ifndef ACS_DOCTOR_AS_USER_H
#define ACS_DOCTOR_AS_USER_H

#include <sys/types.h>

#include <string>

#include "findings.h"
#include "zorvan/acs_types.h"

namespace doctor {

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// By name, or by number when no user has that name.
bool lookupAccount(const std::string &nameOrUid, Account &out);

// The value ZORVAN_INST had before this process ran discovery (which may
// export it), so a child starts from DB2's view, not ours.
struct SavedInstanceVariable {
  bool set = false;
  std::string value;
};

// Forks; the child switches to the account (initgroups, setgid, setuid),
// puts ZORVAN_INST back as saved and runs discovery. Needs root. False with
// error set when the child could not switch or report.
bool runDiscoveryAs(const Account &account, const db2ACS_CB *cb,
                    const SavedInstanceVariable &saved, DiscoveryRun &out, std::string &error);

}  // namespace doctor

#endif
