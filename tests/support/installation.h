// The one installation layout of the suite and the benchmarks, laid out
// under the private /tmp: <root>/registry/Zorvan/<instance>/{Db2Agent,
// Base/.properties} naming <root>/home, whose Base holds the back end.
// QXREG points at the registry and ZORVAN_INST is unset; the example back
// end keeps its catalogue in <root>/catalogue. A test states only what
// differs (the properties text, a mode, an owner, the back end).
#ifndef ZORVAN_TEST_INSTALLATION_H
#define ZORVAN_TEST_INSTALLATION_H

#include <sys/types.h>

#include <string>

#include "qxacs_example.h"

namespace testsupport {

class Installation {
 public:
  // The registry's Zorvan directory and the home's Base directory, with
  // nothing registered yet.
  Installation();
  const std::string &root() const { return root_; }
  const std::string &registry() const { return registry_; }
  const std::string &home() const { return home_; }
  std::string base() const { return home_ + "/Base"; }
  std::string backendPath() const { return base() + "/libqxacsint.so"; }
  std::string instanceDir(const std::string &instance) const { return registry_ + "/Zorvan/" + instance; }
  // The example back end's record of its calls.
  std::string journal() const { return root_ + "/catalogue/" QXACS_JOURNAL_FILE; }
  std::string propertiesPath(const std::string &instance = "Instance001") const {
    return instanceDir(instance) + "/Base/.properties";
  }

  // Registers instance, with the DB2 agent marker or not, its properties
  // file holding properties.
  void addInstance(const std::string &instance, bool agent, const std::string &properties);
  // Instance001 with the agent, naming home().
  void addHealthyInstance() { addInstance("Instance001", true, "dZORVANHOME " + home_ + "\n"); }
  // A copy of a built back end in base(), with mode.
  void installBackend(const std::string &from, mode_t mode = 0755);
  // A further instance, the agent marker only when asked for, whose home
  // of its own holds a copy of backend (a file that is none when empty);
  // that home's Base.
  std::string addInstanceWithHome(const std::string &instance, const std::string &backend, bool agent = false);

 private:
  std::string root_, registry_, home_;
};

// Instance001 with the agent, naming a home that holds backend.
struct HealthyInstallation : Installation {
  explicit HealthyInstallation(const std::string &backend) {
    addHealthyInstance();
    installBackend(backend);
  }
};

}  // namespace testsupport

#endif
