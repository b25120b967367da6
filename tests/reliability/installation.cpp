#include "installation.h"

#include <stdlib.h>

#include "test_support.h"

namespace reliability {

namespace {

// <registry>/Zorvan/<instance>/Base/.properties naming home, and
// <home>/Base/libqxacsint.so a copy of the do-nothing back end.
void registerInstance(const Installation &in, const std::string &instance,
                      const std::string &home) {
  testsupport::makeDirs(home + "/Base");
  testsupport::writeFile(home + "/Base/libqxacsint.so", testsupport::readFile(ZORVAN_FAKE_BACKEND),
                         0755);
  testsupport::makeDirs(instanceDir(in, instance) + "/Base");
  testsupport::writeFile(instanceDir(in, instance) + "/Base/.properties",
                         "dZORVANHOME " + home + "\n");
}

}  // namespace

Installation layOutInstallation() {
  Installation in;
  std::string root = testsupport::makeTempDir("install");
  in.registry = root + "/registry";
  in.home = root + "/home";
  in.base = in.home + "/Base";
  registerInstance(in, "Instance001", in.home);
  testsupport::writeFile(instanceDir(in, "Instance001") + "/Db2Agent", "");
  testsupport::setEnv("QXREG", in.registry);
  testsupport::unsetEnv("ZORVAN_INST");
  return in;
}

std::string addInstance(const Installation &in, const std::string &instance) {
  std::string home = in.registry.substr(0, in.registry.rfind('/')) + "/home-" + instance;
  registerInstance(in, instance, home);
  return home + "/Base";
}

std::string instanceDir(const Installation &in, const std::string &instance) {
  return in.registry + "/Zorvan/" + instance;
}

}  // namespace reliability
