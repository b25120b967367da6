#include "spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "checker.h"
#include "child_io.h"

namespace doctor {

namespace {

using nlohmann::json;

[[noreturn]] void startChecker(int exe, int fd, const Subject &s, const std::string &request) {
  // The report goes to its own descriptor; whatever the back end prints
  // to stdout goes to the doctor's stderr.
  if (fd != kReportFd && (dup2(fd, kReportFd) < 0 || close(fd) != 0)) _exit(126);
  if (dup2(2, 1) < 0) _exit(126);
  int in = open("/dev/null", O_RDONLY);
  if (in >= 0 && in != 0) dup2(in, 0);
  std::string why;
  if (s.switchUser && (setgroups(s.groups.size(), s.groups.empty() ? nullptr : s.groups.data()) != 0 ||
                       setgid(s.gid) != 0 || setuid(s.uid) != 0))
    why = "cannot become " + s.user + ": " + strerror(errno);
  if (why.empty()) {
    std::vector<char *> envp;
    for (const std::string &e : s.environment) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    char name[] = "acs-doctor";
    char flag[sizeof kCheckerFlag];
    memcpy(flag, kCheckerFlag, sizeof flag);
    char *argv[] = {name, flag, const_cast<char *>(request.c_str()), nullptr};
    fexecve(exe, argv, envp.data());
    why = std::string("cannot start the checking process: ") + strerror(errno);
  }
  writeAll(kReportFd, json({{"error", why}}).dump() + "\n");
  _exit(127);
}

}  // namespace

bool runCheckingProcess(const Subject &subject, const json &request, json &report, std::string &error) {
  // Opened as the doctor: the build or install directory need not be
  // searchable for the subject to run the program in it.
  int exe = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (exe < 0) {
    error = std::string("/proc/self/exe: ") + strerror(errno);
    return false;
  }
  int fds[2];
  pid_t pid = 0;
  if (!forkWithPipe(fds, pid, error)) {
    close(exe);
    return false;
  }
  if (pid == 0) startChecker(exe, fds[1], subject, request.dump());
  close(exe);
  std::string bytes = readAll(fds[0]);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  std::vector<json> parts;
  std::istringstream lines(bytes);
  for (std::string line; std::getline(lines, line);) {
    json part = json::parse(line, nullptr, false);
    if (!part.is_discarded()) parts.push_back(part);
  }
  if (!parts.empty() && parts[0].contains("error")) {
    error = parts[0]["error"].get<std::string>();
    return false;
  }
  std::string ended = WIFSIGNALED(status) ? "was killed by signal " + std::to_string(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
  if (parts.empty() || !parts[0].contains("discovery")) {
    error = "the checking process as " + subject.user + " " + ended + " without a report";
    return false;
  }
  report = parts[0];
  report["load"] = nullptr;
  if (parts.size() > 1) {
    report["load"] = parts[1]["load"];
    for (const json &p : parts[1]["problems"]) report["problems"].push_back(p);
  } else if (request.value("load", false) && !report["paths"]["library"].get<std::string>().empty()) {
    // It died between the report and the load's result: in the back end.
    int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    report["load"] = {{"path", report["paths"]["library"]}, {"found", true}, {"loaded", false}, {"died", true},
                      {"complete", false}, {"entry_points", json::array()},
                      {"signal", signal != 0 ? json(signal) : json()},
                      {"signal_name", signal != 0 ? json(strsignal(signal)) : json()},
                      {"error", "the checking process " + ended + " while loading it"}};
    report["problems"].insert(report["problems"].begin(), nullptr);  // the death comes first
  }
  return true;
}

}  // namespace doctor
