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

// Values for the row's {placeholders}: {registry}, {user}, {path}, ...
using CauseValues = std::map<std::string, std::string>;

// The row of that key ("registry-missing", "registry-mistyped/default"),
// filled in, with the cause's stable name as the problem's id; a
// placeholder without a value stays visible.
Problem describe(const std::string &key, const CauseValues &values);

}  // namespace doctor

#endif
