// The fixed /tmp paths that silently change a DB2 call: the debug markers
// that hold an entry point and the trace file that switches tracing on.
#ifndef ACS_DOCTOR_TMP_STATE_H
#define ACS_DOCTOR_TMP_STATE_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

// Every marker that exists, with whether it holds calls of dbUid: it does
// when it exists and (not following a link) belongs to root or dbUid.
std::vector<Marker> findMarkers(uid_t dbUid);

// Whether the library would trace for dbUid; writable is access(W_OK) as
// that user.
TraceFile inspectTraceFile(uid_t dbUid, const std::string &dbUser, bool writable);

// The fix for a marker left behind: who may remove it, and the command.
std::string removeMarker(const Marker &m);

// Problems for held entry points and for the trace file.
void explainTmp(const std::vector<Marker> &markers, const TraceFile &trace,
                const std::string &dbUser, std::vector<Problem> &out);

}  // namespace doctor

#endif
