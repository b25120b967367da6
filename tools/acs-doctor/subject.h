// Whom to check as. DB2's engine runs as the instance owner, with the
// environment its profile gave it; a check with anyone else's identity or
// environment answers a different question. The subject is taken from the
// real source: this process, a running process (--pid), or a user's login
// (--as-user), and says where each steering variable came from.
#ifndef ACS_DOCTOR_SUBJECT_H
#define ACS_DOCTOR_SUBJECT_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "accounts.h"
#include "login_files.h"
#include "report.h"

namespace doctor {

struct Subject {
  std::string source;  // "self", "pid", "login"
  std::string user;
  uid_t uid = 0;  // real ids
  gid_t gid = 0;
  uid_t euid = 0;  // effective ids: others than the real ones in a process with raised privileges
  gid_t egid = 0;
  std::vector<gid_t> groups;
  std::string cwd;
  pid_t pid = 0;
  std::vector<Variable> variables;       // QXREG and ZORVAN_INST, and where each came from
  std::vector<std::string> environment;  // "NAME=value", the whole of it
  Login login;                           // a login's: where it set each variable
  bool switchUser = false;               // the checking process takes uid, gid and groups
  bool otherTree = false;                // a process whose root directory or mount namespace is not ours
  std::string root = "/";                // its root directory, as seen from here
};

// The one lookup of users and groups: the system's, read once. A check in
// another process's tree reads them before it enters, so that nothing of
// that tree (its name service modules) is loaded.
const trust::Accounts &accounts();
// "db2inst1", or "uid 1234" for a uid without a name.
std::string userName(uid_t uid);

// This process: its real ids, groups, environment and working directory.
Subject subjectFromSelf();
// A running process (DB2's agent): real and effective uid, gid and groups
// from /proc/PID/status, its environment, its cwd and its tree. False with
// error set (one line) when the process cannot be read or checked as.
bool subjectFromPid(const std::string &pid, Subject &out, std::string &error);
// A user with the environment its login gives (interactive: the one an
// interactive login gives); the home directory as cwd.
Subject subjectFromLogin(const trust::Accounts::User &user, bool interactive);

// Takes on the subject's groups, real and effective gid and uid (for a
// process with raised privileges, effective ones other than the real).
// False, errno set, when it could not.
bool becomeSubject(const Subject &s);

// The ACS library a running process has mapped, as that process names it
// (below its root directory, root as seen from here); "" when none is.
std::string mappedAcsLibrary(pid_t pid, const std::string &root = "/");

}  // namespace doctor

#endif
