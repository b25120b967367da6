// Runs acs-doctor as a child process against installations laid out in
// the test's private /tmp, each one right or wrong in a single way.
#ifndef ZORVAN_TEST_DOCTOR_FIXTURE_H
#define ZORVAN_TEST_DOCTOR_FIXTURE_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace doctortest {

struct DoctorResult {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
  // The first screen: the first 24 lines of stdout.
  std::string firstScreen() const;
};

// Runs acs-doctor with args in the current environment, optionally as
// another user (uid/gid switched in the child before exec).
DoctorResult runDoctor(const std::vector<std::string> &args, uid_t uid = 0, gid_t gid = 0);

// A registry with instances under /tmp, a home directory with Base/, and
// QXREG pointing at the registry (ZORVAN_INST unset).
class Installation {
 public:
  Installation();
  const std::string &registry() const { return registry_; }
  const std::string &home() const { return home_; }
  std::string backendPath() const { return home_ + "/Base/libqxacsint.so"; }
  std::string propertiesPath(const std::string &instance) const;

  // <registry>/Zorvan/<instance>/Base/.properties with the given content,
  // plus Db2Agent when agent is true.
  void addInstance(const std::string &instance, bool agent, const std::string &properties);
  // The healthy one: Instance001 with the agent, naming home().
  void addHealthyInstance();
  // Copies a built back end into <home>/Base with the given mode.
  void installBackend(const std::string &from, mode_t mode = 0755);

 private:
  std::string registry_;
  std::string home_;
};

}  // namespace doctortest

#endif
