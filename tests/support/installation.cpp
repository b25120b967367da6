#include "installation.h"

#include "test_support.h"

namespace testsupport {

Installation::Installation()
    : root_(makeTempDir("install")), registry_(root_ + "/registry"), home_(root_ + "/home") {
  makeDirs(registry_ + "/Zorvan");
  makeDirs(home_ + "/Base");
  setEnv("QXREG", registry_);
  unsetEnv("ZORVAN_INST");
  setEnv(QXACS_EXAMPLE_DIR_ENV, root_ + "/catalogue");
}

void Installation::addInstance(const std::string &instance, bool agent, const std::string &properties) {
  makeDirs(instanceDir(instance) + "/Base");
  writeFile(propertiesPath(instance), properties);
  if (agent) writeFile(instanceDir(instance) + "/Db2Agent", "");
}

void Installation::installBackend(const std::string &from, mode_t mode) {
  writeFile(backendPath(), readFile(from), mode);
}

std::string Installation::addInstanceWithHome(const std::string &instance, const std::string &backend, bool agent) {
  std::string home = root_ + "/home-" + instance;
  makeDirs(home + "/Base");
  writeFile(home + "/Base/libqxacsint.so", backend.empty() ? "not a shared object\n" : readFile(backend), 0755);
  addInstance(instance, agent, "dZORVANHOME " + home + "\n");
  return home + "/Base";
}

}  // namespace testsupport
