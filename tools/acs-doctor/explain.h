// Turns where discovery stopped into a cause and a one-line fix, looking
// at the files involved to tell the possible reasons apart.
#ifndef ACS_DOCTOR_EXPLAIN_H
#define ACS_DOCTOR_EXPLAIN_H

#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

// Problems of one user's run (none when it bound). registryOrigin is
// "QXREG" or "default".
std::vector<Problem> explainDiscovery(const UserCheck &check, const std::string &registryOrigin);

// What the properties file says about dZORVANHOME, read the way the
// library reads it.
struct PropertiesReading {
  bool readable = false;
  int keyLine = 0;  // 1-based line of the first key line, 0 when none
  bool hasValue = false;
  std::string value;
  int assignmentLine = 0;  // a "dZORVANHOME=..." line, which the library does not read
};
PropertiesReading readProperties(const std::string &path);

// "a\rb" shown as "a\\rb", control characters made visible.
std::string visible(const std::string &text);

}  // namespace doctor

#endif
