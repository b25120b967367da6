// Who besides root and the instance owner can change what DB2 runs: the
// trust chain of the paths discovery reached, as the report carries it.
#ifndef ACS_DOCTOR_TRUST_REPORT_H
#define ACS_DOCTOR_TRUST_REPORT_H

#include <sys/types.h>

#include <string>

#include <nlohmann/json.hpp>

namespace doctor {

// paths: the report's "paths" (absolute; an empty one was not reached).
// Returns {"who": ..., "chain": [...], "findings": [problem, ...]}, each
// finding an error naming the path, its owner, its mode and who can
// write it, with the chown/chmod that takes that away.
nlohmann::json trustReport(const nlohmann::json &paths, uid_t owner, const std::string &ownerName);

}  // namespace doctor

#endif
