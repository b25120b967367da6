// The one table of causes: every reason DB2 would not bind, with the words
// that explain it and the command that fixes it. The live check and the
// trace explainer both pick a row and fill in its values, so a cause reads
// the same wherever it is found.
#ifndef ACS_DOCTOR_CAUSES_H
#define ACS_DOCTOR_CAUSES_H

#include <map>
#include <string>

#include "findings.h"

namespace doctor {

enum class Cause {
  RegistryMissing,
  RegistryRelative,
  RegistryMissingDefaultExists,
  RegistryMissingSimilarExists,
  InstancesDirMissing,
  InstancesDirUnreadable,
  DirectoryNotSearchable,
  NoAgent,
  InstanceNotRegisteredByVariable,
  InstanceNotRegisteredByVendorOptions,
  InstanceNotRegistered,
  EmptyInstanceVariable,
  PropertiesMissing,
  PropertiesUnreadable,
  PropertiesNotOpened,
  PropertiesPathTooLong,
  KeyWithoutValue,
  KeyNearMiss,
  KeyMissing,
  CrLfLineEnds,
  HomeMissing,
  HomeTooLong,
  BackendMissing,
  BackendNotRegular,
  BackendNotExecutable,
  BackendNotExecutableForUser,
  BackendFailsTest,
  BackendNotAccessible,
  BackendLoadFailed,
  BackendLacksEntryPoints,
  BackendKilledTheProcess,
  DiscoveryUnexpected,
};

// Values for the row's {placeholders}: {registry}, {user}, {path}, ...
using CauseValues = std::map<std::string, std::string>;

// The row, filled in, with the row's stable name ("registry-missing") as
// the problem's id; a placeholder without a value stays visible.
Problem describe(Cause cause, const CauseValues &values);

}  // namespace doctor

#endif
