#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "trace_line.h"

namespace testsupport {

void enableTrace() {
  writeFile(kTracePath, "", 0666);
  chmod(kTracePath, 0666);
}

std::vector<std::string> traceLines() {
  std::vector<std::string> lines;
  std::ifstream in(kTracePath);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool splitTraceLine(const std::string &line, long &pid, std::string &message) {
  return zorvan::splitTraceLine(line, pid, message);
}

std::vector<std::string> traceMessages() {
  std::vector<std::string> messages;
  for (const std::string &line : traceLines()) {
    long pid = 0;
    std::string message;
    messages.push_back(splitTraceLine(line, pid, message) ? message : "MALFORMED: " + line);
  }
  return messages;
}

std::vector<std::string> traceMessagesOf(const std::string &tag) {
  std::vector<std::string> out;
  const std::string head = tag + ": ";
  for (const std::string &m : traceMessages())
    if (m.compare(0, head.size(), head) == 0) out.push_back(m.substr(head.size()));
  return out;
}

std::string makeTempDir(const std::string &stem) {
  std::string pattern = "/tmp/" + stem + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  chmod(buf.data(), 0755);
  return buf.data();
}

void makeDirs(const std::string &path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  mkdir(path.c_str(), 0755);
}

void writeFile(const std::string &path, const std::string &content, mode_t mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
  }
  chmod(path.c_str(), mode);
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

static int waitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool canActAsOtherUsers() { return geteuid() == 0; }

bool becomeUser(uid_t uid, gid_t gid, bool effectiveRoot) {
  if (setgroups(0, nullptr) != 0) return false;
  if (effectiveRoot) return setresgid(gid, 0, 0) == 0 && setresuid(uid, 0, 0) == 0;
  return setgid(gid) == 0 && setuid(uid) == 0;
}

static int runAsUser(const std::function<int()> &body, uid_t uid, gid_t gid, bool effectiveRoot) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!becomeUser(uid, gid, effectiveRoot)) _exit(125);
    _exit(body());
  }
  return waitFor(pid);
}

int runAs(const std::function<int()> &body, uid_t uid, gid_t gid) {
  return runAsUser(body, uid, gid, false);
}

int runSetUidRoot(const std::function<int()> &body, uid_t uid, gid_t gid) {
  return runAsUser(body, uid, gid, true);
}

int runUnprivileged(const std::function<int()> &body) {
  return canActAsOtherUsers() ? runAs(body) : runInChild(body);
}

bool waitForExec(pid_t pid, const std::string &program) {
  std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 200; ++i, usleep(10000)) {
    char target[4096];
    ssize_t n = readlink(exe.c_str(), target, sizeof target);
    if (n > 0 && program.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) return true;
  }
  return false;
}

int runInChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return waitFor(pid);
}

std::vector<std::string> builtProgram(std::vector<std::string> argv) {
  std::vector<std::string> command;
  std::istringstream emulator(ZORVAN_TEST_EMULATOR);
  for (std::string word; emulator >> word;) command.push_back(word);
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

std::string reachableCopy(const std::string &program) {
  std::string dir = "/tmp/programs";
  std::string copy = dir + program.substr(program.rfind('/'));
  if (!exists(copy)) {
    makeDirs(dir);
    writeFile(copy, readFile(program), 0755);
  }
  return copy;
}

std::string ownUserName() {
  const struct passwd *pw = getpwuid(getuid());
  return pw != nullptr ? pw->pw_name : "uid " + std::to_string(getuid());
}

void setEnv(const char *name, const std::string &value) { setenv(name, value.c_str(), 1); }
void unsetEnv(const char *name) { unsetenv(name); }

}  // namespace testsupport
