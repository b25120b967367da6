// Starts the checking process as the subject and collects its report.
#ifndef ACS_DOCTOR_SPAWN_H
#define ACS_DOCTOR_SPAWN_H

#include <string>

#include <nlohmann/json.hpp>

#include "findings.h"

namespace doctor {

// Runs acs-doctor again (/proc/self/exe) after initgroups, setgid and
// setuid to the subject, with the subject's whole environment, asking it
// (request) to check; the checking process enters the subject's working
// directory itself. report gets the discovery part, with "load" and its
// problems merged in; a checking process killed by a signal during --load
// leaves load.signal set. False with error set when no report came.
bool runCheckingProcess(const Subject &subject, const nlohmann::json &request,
                        nlohmann::json &report, std::string &error);

}  // namespace doctor

#endif
