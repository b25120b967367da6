#include "doctor_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

#include "test_support.h"

namespace doctortest {

using namespace testsupport;

std::string DoctorResult::firstScreen() const {
  std::istringstream in(out);
  std::string line, screen;
  for (int i = 0; i < 24 && std::getline(in, line); ++i) screen += line + "\n";
  return screen;
}

std::string DoctorResult::firstFix() const {
  std::vector<std::string> all = fixes();
  return all.empty() ? "" : all.front();
}

nlohmann::json DoctorResult::report() const {
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  EXPECT_TRUE(doc.is_object()) << out << err;
  return doc.is_object() ? doc : nlohmann::json::object();
}

std::string asOwner() { return "As " + testsupport::ownUserName(); }

std::vector<std::string> problemIds(const nlohmann::json &report) {
  std::vector<std::string> ids;
  for (const nlohmann::json &p : report.value("problems", nlohmann::json::array())) ids.push_back(p.value("id", ""));
  return ids;
}

std::vector<std::string> DoctorResult::ids() const { return problemIds(report()); }

std::vector<std::string> DoctorResult::fixes() const {
  std::vector<std::string> lines;
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_object()) {
    for (const nlohmann::json &p : doc.value("problems", nlohmann::json::array()))
      for (const nlohmann::json &fix : p.value("fixes", nlohmann::json::array())) lines.push_back(fix.get<std::string>());
    return lines;
  }
  std::istringstream in(out);
  const std::string head = "         fix: ";
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, head.size(), head) == 0) lines.push_back(line.substr(head.size()));
  return lines;
}

DoctorResult runDoctor(const std::vector<std::string> &args, uid_t uid, gid_t gid) {
  return runProgram(ACS_DOCTOR_PATH, args, uid, gid);
}

DoctorResult runDoctorUnprivileged(const std::vector<std::string> &args) {
  return canActAsOtherUsers() ? runDoctor(args, kNobody, kNobody) : runDoctor(args);
}

DoctorResult runProgram(const char *program, const std::vector<std::string> &args, uid_t uid,
                        gid_t gid, const std::string &cwd) {
  std::string dir = makeTempDir("doctor-run");
  std::string outPath = dir + "/out", errPath = dir + "/err";
  std::vector<std::string> command = args;
  command.insert(command.begin(), uid != 0 ? reachableCopy(program) : std::string(program));
  command = builtProgram(command);
  std::vector<char *> argv;
  for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    // Started as from a shell: only the three standard descriptors open.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
      _exit(125);
    // From a directory of its own unless told otherwise: where the checkout
    // lies (a directory others cannot enter) must not change the answer.
    if (chdir(cwd.empty() ? dir.c_str() : cwd.c_str()) != 0) _exit(124);
    // A check that hangs fails instead of holding the suite up.
    alarm(120);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  DoctorResult result;
  int status = 0;
  struct rusage usage = {};
  if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.maxResidentKiB = usage.ru_maxrss;
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

ProcessAs::ProcessAs(uid_t uid, gid_t gid, const std::vector<std::string> &environment,
                     const std::string &cwd) {
  std::vector<char *> envp;
  for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || chdir(cwd.c_str()) != 0)
      _exit(125);
    char sleep[] = "sleep", seconds[] = "120";
    char *argv[] = {sleep, seconds, nullptr};
    execve("/bin/sleep", argv, envp.data());
    _exit(127);
  }
  // The checks read /proc/<pid>/environ: wait until the exec has happened.
  char sleepPath[PATH_MAX];
  testsupport::waitForExec(pid_, realpath("/bin/sleep", sleepPath) != nullptr ? sleepPath : "/bin/sleep");
}

ProcessAs::~ProcessAs() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

TemporaryUser::TemporaryUser(const std::string &profile, const std::string &shell,
                             const std::string &file)
    : name_("zdoc" + std::to_string(getpid())) {
  std::string home = makeTempDir("home-" + name_);
  std::string command = "useradd -M -N -g nogroup -s " + shell + " -d " + home + " " + name_;
  if (std::system(command.c_str()) != 0) return;
  const struct passwd *pw = getpwnam(name_.c_str());
  if (pw == nullptr) return;
  uid_ = pw->pw_uid;
  gid_ = pw->pw_gid;
  writeFile(home + "/" + file, profile);
  if (chown(home.c_str(), uid_, gid_) != 0 || chown((home + "/" + file).c_str(), uid_, gid_) != 0)
    return;
}

std::string TemporaryUser::home() const {
  const struct passwd *pw = getpwnam(name_.c_str());
  return pw != nullptr ? pw->pw_dir : "";
}

TemporaryUser::~TemporaryUser() {
  if (uid_ != 0 && std::system(("userdel " + name_ + " 2>/dev/null").c_str()) != 0) {
  }
}

}  // namespace doctortest
