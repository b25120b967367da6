#include "doctor_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "test_support.h"

namespace doctortest {

using namespace testsupport;

std::string DoctorResult::firstScreen() const {
  std::istringstream in(out);
  std::string line, screen;
  for (int i = 0; i < 24 && std::getline(in, line); ++i) screen += line + "\n";
  return screen;
}

DoctorResult runDoctor(const std::vector<std::string> &args, uid_t uid, gid_t gid) {
  std::string dir = makeTempDir("doctor-run");
  std::string outPath = dir + "/out", errPath = dir + "/err";
  std::vector<std::string> command = args;
  command.insert(command.begin(), uid != 0 ? reachableCopy(ACS_DOCTOR_PATH) : ACS_DOCTOR_PATH);
  command = builtProgram(command);
  std::vector<char *> argv;
  for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
      _exit(125);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  DoctorResult result;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

Installation::Installation()
    : registry_(makeTempDir("registry")), home_(makeTempDir("home")) {
  makeDirs(registry_ + "/Zorvan");
  makeDirs(home_ + "/Base");
  setEnv("QXREG", registry_);
  unsetEnv("ZORVAN_INST");
}

std::string Installation::propertiesPath(const std::string &instance) const {
  return registry_ + "/Zorvan/" + instance + "/Base/.properties";
}

void Installation::addInstance(const std::string &instance, bool agent,
                               const std::string &properties) {
  makeDirs(registry_ + "/Zorvan/" + instance + "/Base");
  writeFile(propertiesPath(instance), properties);
  if (agent) writeFile(registry_ + "/Zorvan/" + instance + "/Db2Agent", "");
}

void Installation::addHealthyInstance() {
  addInstance("Instance001", true, "# installation\ndZORVANHOME " + home_ + "\n");
}

void Installation::installBackend(const std::string &from, mode_t mode) {
  writeFile(backendPath(), readFile(from), mode);
}

}  // namespace doctortest
