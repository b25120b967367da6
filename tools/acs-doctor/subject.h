// Whom to check as. DB2's engine runs as the instance owner, with the
// environment its profile gave it; a check with anyone else's identity or
// environment answers a different question. These take both from the real
// source and say where each steering variable came from.
#ifndef ACS_DOCTOR_SUBJECT_H
#define ACS_DOCTOR_SUBJECT_H

#include <pwd.h>

#include <string>

#include "findings.h"

namespace doctor {

// This process: its real ids, groups, environment and working directory.
Subject subjectFromSelf();

// A running process (DB2's agent): real uid, gid and groups from
// /proc/PID/status, QXREG and ZORVAN_INST from /proc/PID/environ, its cwd.
// False with error set (one line) when the process cannot be read.
bool subjectFromPid(const std::string &pid, Subject &out, std::string &error);

// A user, with the environment a login shell gives it (what `su - USER`
// sees, profile included); the home directory as cwd. Needs root, or to be
// USER. An unreadable login environment is kept in loginError.
Subject subjectFromLogin(const struct passwd *pw);

}  // namespace doctor

#endif
