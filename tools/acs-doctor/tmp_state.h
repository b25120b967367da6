// The fixed /tmp paths that silently change a DB2 call: the debug markers
// that hold an entry point and the trace file that switches tracing on,
// judged with the library's own rules (zorvan/tmp_rules.h) for the user
// the checking process is.
#ifndef ACS_DOCTOR_TMP_STATE_H
#define ACS_DOCTOR_TMP_STATE_H

#include <vector>

#include <nlohmann/json.hpp>

#include "findings.h"

namespace doctor {

// {"trace_file": {"state", "detail"}, "markers": [{"path", "entry_point",
// "owner", "holds"}]}, and a problem for each marker and for tracing.
nlohmann::json inspectTmp(std::vector<Problem> &problems);

}  // namespace doctor

#endif
