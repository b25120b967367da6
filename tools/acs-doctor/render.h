// acs-doctor's outputs, from the report as JSON: text for people (problems
// first, so the first screen names each cause and its fix), and one line
// per host (--brief). --json prints the report itself.
#ifndef ACS_DOCTOR_RENDER_H
#define ACS_DOCTOR_RENDER_H

#include <cstdio>

#include <nlohmann/json.hpp>

namespace doctor {

void renderText(const nlohmann::json &report, bool verbose, std::FILE *out);
// "<host>: <headline>[: <first error's cause>]"
void renderBrief(const nlohmann::json &report, std::FILE *out);

// "ERROR    <cause>" and "         fix: <fix>", errors first.
void printProblems(std::FILE *out, const nlohmann::json &problems);

}  // namespace doctor

#endif
