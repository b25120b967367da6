// Runs the library's installation discovery in this process, with every
// trace message captured by the in-process sink instead of the trace file.
#ifndef ACS_DOCTOR_DISCOVERY_RUN_H
#define ACS_DOCTOR_DISCOVERY_RUN_H

#include <string>

#include "findings.h"
#include "zorvan/acs_types.h"

namespace doctor {

// Sends every trace message of the library nowhere. Installed first thing
// and never removed, so nothing acs-doctor calls can write the trace file.
void silenceLibraryTrace();

// fixRegistryDir, GetZorvanInstanceName, get_first_zorvan_instname (when no
// name was found) and GetZorvanBaseDir, as the calling user; then the
// errno of opening the properties file and of the execute test.
DiscoveryRun runDiscovery(const db2ACS_CB *cb);

// For carrying a run from a child process back to the parent.
std::string encodeRun(const DiscoveryRun &run);
bool decodeRun(const std::string &bytes, DiscoveryRun &run);

}  // namespace doctor

#endif
