// Small process and file helpers for the checks that run as another user:
// whole reads and writes over pipes, and a login shell's output.
#ifndef ACS_DOCTOR_CHILD_IO_H
#define ACS_DOCTOR_CHILD_IO_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace doctor {

// Forks a child with a pipe from it: in the child (pid 0) fds[1] is its
// end to write; in the parent fds[0] is the end to read, fds[1] already
// closed. False with error set when neither could be made.
bool forkWithPipe(int fds[2], pid_t &pid, std::string &error);

void writeAll(int fd, const std::string &bytes);
std::string readAll(int fd);
// waitpid's status, EINTR retried.
int waitFor(pid_t pid);
// This process's supplementary groups.
std::vector<gid_t> ownGroups();

// The whole file; error set (strerror) when it cannot be read.
std::string readFileBytes(const std::string &path, std::string &error);

// Runs script in user's login shell (runuser -l, else su -), stdin from
// /dev/null; its stdout in output, its exit status in status. False with
// error set when no such command could be started.
bool captureLoginShell(const std::string &user, const std::string &script, std::string &output,
                       int &status, std::string &error);

}  // namespace doctor

#endif
