// Turns where discovery stopped into a cause and a fix from the table of
// causes, looking at the files involved to tell the possible reasons apart.
#ifndef ACS_DOCTOR_EXPLAIN_H
#define ACS_DOCTOR_EXPLAIN_H

#include <string>
#include <vector>

#include "causes.h"
#include "findings.h"
#include "near_miss.h"

namespace doctor {

// Problems of the subject's run (none when it bound).
std::vector<Problem> explainDiscovery(const UserCheck &check, const Subject &subject);

// What the properties file says about dZORVANHOME, read the way the
// library reads it.
struct PropertiesReading {
  bool readable = false;
  int keyLine = 0;  // 1-based line of the first key line, 0 when none
  bool hasValue = false;
  std::string value;
  NearMiss nearMiss;  // the first line that almost is the key line
};
PropertiesReading readProperties(const std::string &path);

// The values every cause may use, from what discovery found; origin says
// where the registry directory came from.
CauseValues factValues(const Facts &facts, const std::string &user, const std::string &origin);

// When the registry directory does not exist: the cause, preferring a
// mistyped QXREG (fromVariable) beside the default or a similar directory.
// False when it exists.
bool explainRegistryMissing(const std::string &registry, bool fromVariable, CauseValues values,
                            std::vector<Problem> &out);

// Why the properties file gave no home directory: a key line without a
// value, a near miss, or no key line at all.
Problem explainKeyLine(const std::string &propertiesPath, CauseValues values);

// A directory next to path's missing last component whose name is within
// two edits of it; empty when none.
std::string similarSibling(const std::string &path);

// "a\rb" shown as "a\\rb", control characters made visible.
std::string visible(const std::string &text);

}  // namespace doctor

#endif
