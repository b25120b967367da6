// A throwaway installation under the test's private /tmp: a registry with
// Instance001 (DB2 agent marker, .properties naming a home directory) and
// the home's Base directory holding a copy of the do-nothing back end.
#ifndef ZORVAN_TEST_RELIABILITY_INSTALLATION_H
#define ZORVAN_TEST_RELIABILITY_INSTALLATION_H

#include <string>

namespace reliability {

struct Installation {
  std::string registry;  // QXREG
  std::string home;      // dZORVANHOME
  std::string base;      // <home>/Base
};

// Lays the installation out and points QXREG at it; ZORVAN_INST is unset.
Installation layOutInstallation();

// Registers a further instance (no DB2 agent marker, so the scan never
// picks it) whose home holds a copy of the back end of its own; returns
// that home's Base directory.
std::string addInstance(const Installation &in, const std::string &instance);

// "<registry>/Zorvan/<instance>"
std::string instanceDir(const Installation &in, const std::string &instance);

}  // namespace reliability

#endif
