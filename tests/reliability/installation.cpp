#include "installation.h"

#include <stdlib.h>

#include "test_support.h"

namespace reliability {

Installation layOutInstallation() {
  Installation in;
  std::string root = testsupport::makeTempDir("install");
  in.registry = root + "/registry";
  in.home = root + "/home";
  in.base = in.home + "/Base";
  testsupport::makeDirs(in.base);
  testsupport::writeFile(in.base + "/libqxacsint.so", testsupport::readFile(ZORVAN_FAKE_BACKEND),
                         0755);
  std::string instance = instanceDir(in, "Instance001");
  testsupport::makeDirs(instance + "/Base");
  testsupport::writeFile(instance + "/Db2Agent", "");
  testsupport::writeFile(instance + "/Base/.properties", "dZORVANHOME " + in.home + "\n");
  testsupport::setEnv("QXREG", in.registry);
  testsupport::unsetEnv("ZORVAN_INST");
  return in;
}

std::string instanceDir(const Installation &in, const std::string &instance) {
  return in.registry + "/Zorvan/" + instance;
}

}  // namespace reliability
