// acs-doctor's two outputs: text for people (problems first, so the first
// screen names each cause and its fix) and one JSON object for scripts.
#ifndef ACS_DOCTOR_RENDER_H
#define ACS_DOCTOR_RENDER_H

#include <cstdio>
#include <string>

#include "findings.h"

namespace doctor {

void renderText(const Report &report, bool verbose, std::FILE *out);
void renderJson(const Report &report, std::FILE *out);

// The verdict in one line: binds, does not bind, or binds but a debug
// marker would hold a call.
std::string headline(const Report &report);

const char *severityName(Severity severity);

// "ERROR    <cause>" and "         fix: <fix>".
void printProblem(std::FILE *out, const Problem &problem);

}  // namespace doctor

#endif
