// The doctor's JSON: one document per run, bytes that are not UTF-8 (paths
// may hold any byte) replaced rather than refused.
#ifndef ACS_DOCTOR_JSON_OUT_H
#define ACS_DOCTOR_JSON_OUT_H

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

}  // namespace doctor

#endif
