// Whom to check as, and the process and file helpers of checks that run as
// another user. DB2's engine runs as the instance owner, with the
// environment its profile gave it; a check with anyone else's identity or
// environment answers a different question. These take both from the real
// source and say where each steering variable came from.
#ifndef ACS_DOCTOR_SUBJECT_H
#define ACS_DOCTOR_SUBJECT_H

#include <pwd.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

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
Subject subjectFromLogin(const trust::Accounts::User &pw);

// Takes on the subject's groups, real and effective gid and uid (for a
// process with raised privileges, effective ones other than the real).
// False, errno set, when it could not.
bool becomeSubject(const Subject &s);

// The ACS library a running process has mapped, as that process names it
// (below its root directory, root as seen from here); "" when none is.
std::string mappedAcsLibrary(pid_t pid, const std::string &root = "/");

// What a child wrote to its pipe, and how it ended.
struct ChildRun {
  std::string output;     // stdout and stderr, at most the limit given (kOutputLimit)
  bool cut = false;       // it wrote more, which was dropped
  int status = 0;         // waitpid's
  bool timedOut = false;  // killed when the time ran out
};
constexpr std::size_t kOutputLimit = std::size_t(1) << 20;
// Runs child in a process of its own session, without a controlling
// terminal: stdin from /dev/null, stdout and stderr into one pipe read
// here, every descriptor above 2 closed but keep (close-on-exec, for an
// exec by descriptor). Where this process may make one (root), the child
// is the only child of the first process of a new PID namespace, which
// ends with it and takes everything it started along; elsewhere its
// session's process group is ended with it. Reads what it writes until it
// has ended, or for at most seconds (< 0: no limit), then kills it. A child
// that returns (as after a failed exec) exits with 127. False with error
// set when no child could be started.
bool runChild(const std::function<void()> &child, int seconds, ChildRun &run, std::string &error, int keep = -1,
              std::size_t limit = kOutputLimit);
void writeAll(int fd, const std::string &bytes);
// This process's supplementary groups.
std::vector<gid_t> ownGroups();

// The names in a directory but "." and "..", sorted; none when it cannot
// be read.
std::vector<std::string> namesIn(const std::string &dir);

// The file from byte from to its end; error set (strerror) when it cannot
// be read.
std::string readFileBytes(const std::string &path, std::string &error, off_t from = 0);

}  // namespace doctor

#endif
