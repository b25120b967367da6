// Running code that anyone but root may have written (a login profile,
// the checking process as its user, a back end under --load) without
// lending it the doctor's terminal, descriptors or privileges; and reading
// what processes and directories hold.
#ifndef ACS_DOCTOR_PROCESS_RUN_H
#define ACS_DOCTOR_PROCESS_RUN_H

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace doctor {

// What a child wrote, and how it ended.
struct ChildRun {
  std::string output;     // stdout (and stderr, unless read apart), at most the limit given
  std::string errors;     // stderr, when read apart
  bool cut = false;       // it wrote more, which was dropped
  int status = 0;         // waitpid's
  bool timedOut = false;  // killed when the time ran out
};
constexpr std::size_t kOutputLimit = std::size_t(1) << 20;

// Runs child in a process of its own session, without a controlling
// terminal: stdin from /dev/null, stdout and stderr into pipes read here,
// every descriptor above 2 closed but keep (close-on-exec, for an exec by
// descriptor). Where this process may make one (root), the child is the
// only child of the first process of a new PID namespace, which ends with
// it and takes everything it started along; elsewhere its session's
// process group is ended with it. Reads what it writes until it has
// ended, or for at most seconds (< 0: no limit), then kills it. A child
// that returns (as after a failed exec) exits with 127. apart: stderr into
// errors rather than with stdout. False with error set when no child could
// be started.
bool runChild(const std::function<void()> &child, int seconds, ChildRun &run, std::string &error, int keep = -1,
              std::size_t limit = kOutputLimit, bool apart = false);
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
