// acs-doctor's outputs, from the report as JSON: text for people (problems
// first, so the first screen names each cause and its fix), and one line
// per host (--brief). --json prints the report itself, as JSON with bytes
// that are not UTF-8 (paths may hold any byte) replaced rather than refused.
#ifndef ACS_DOCTOR_RENDER_H
#define ACS_DOCTOR_RENDER_H

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "findings.h"

namespace doctor {

inline void writeJson(const nlohmann::json &doc, std::FILE *out) {
  std::string text = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

inline nlohmann::json problemsJson(const std::vector<Problem> &problems) {
  nlohmann::json list = nlohmann::json::array();
  for (const Problem &p : problems) {
    nlohmann::json problem = {{"severity", severityName(p.severity)}, {"cause", p.cause}, {"fix", p.fix}};
    if (!p.id.empty()) problem["id"] = p.id;
    list.push_back(problem);
  }
  return list;
}

void renderText(const nlohmann::json &report, bool verbose, std::FILE *out);
// "<host>: <headline>[: <first error's cause>]"
void renderBrief(const nlohmann::json &report, std::FILE *out);

// "ERROR    <cause>" and "         fix: <fix>", errors first.
void printProblems(std::FILE *out, const nlohmann::json &problems);

}  // namespace doctor

#endif
