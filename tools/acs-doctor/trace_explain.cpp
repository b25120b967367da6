#include "options.h"

#include <sys/stat.h>

#include "render.h"
#include "subject.h"
#include "trace_calls.h"

namespace doctor {

namespace {

using nlohmann::json;

std::string source(const TracedCall &c) {
  if (c.notBound || c.bindingFailed) return "library";
  if (c.forwarded) return "back end";
  return c.function == "db2ACSQueryApiVersion" ? "library" : "";
}

json traceJson(const ParsedTrace &trace, const std::vector<TracedProcess> &processes) {
  json doc = {{"exit_code", kExitBinds},
              {"foreign_lines", trace.foreignLines},
              {"partial_last_line", trace.partialLastLine},
              {"processes", json::array()}};
  for (const TracedProcess &p : processes) {
    json calls = json::array();
    for (std::size_t i = 0; i < p.calls.size(); ++i) {
      const TracedCall &c = p.calls[i];
      calls.push_back({{"index", i + 1},
                       {"function", c.function},
                       {"rc", c.finished ? json(c.rc) : json()},
                       {"from", source(c)},
                       {"outcome", outcomeName(c.outcome)}});
    }
    if (p.firstFailure >= 0) doc["exit_code"] = kExitDoesNotBind;
    doc["processes"].push_back(
        {{"pid", p.pid},
         {"calls", calls},
         {"first_failure", p.firstFailure < 0 ? json() : json(p.firstFailure + 1)},
         {"problems", problemsJson(p.problems)}});
  }
  return doc;
}

void renderText(const std::string &path, const json &doc, std::FILE *out) {
  std::size_t failing = 0;
  for (const json &p : doc["processes"]) failing += p["first_failure"].is_null() ? 0 : 1;
  std::size_t count = doc["processes"].size(), foreign = doc["foreign_lines"].get<std::size_t>();
  std::fprintf(out, "acs-doctor: %s: %zu process%s, %s.\n", path.c_str(), count, count == 1 ? "" : "es",
               failing == 0 ? "no call failed" : (std::to_string(failing) + " with a failed call").c_str());
  for (const json &p : doc["processes"]) {
    std::fprintf(out, "\nprocess %ld:\n", p["pid"].get<long>());
    std::fprintf(out, "%3s  %-26s %6s  %-9s %s\n", "#", "function", "rc", "from", "outcome");
    for (const json &c : p["calls"]) {
      std::string rc = c["rc"].is_null() ? "-" : std::to_string(c["rc"].get<int>());
      std::fprintf(out, "%3zu  %-26s %6s  %-9s %s%s\n", c["index"].get<std::size_t>(),
                   c["function"].get<std::string>().c_str(), rc.c_str(), c["from"].get<std::string>().c_str(),
                   c["outcome"].get<std::string>().c_str(), c["index"] == p["first_failure"] ? "   <- first failure" : "");
    }
    printProblems(out, p["problems"]);
  }
  if (foreign != 0)
    std::fprintf(out, "\n%zu line%s that are not the library's trace lines were skipped.\n", foreign,
                 foreign == 1 ? "" : "s");
  if (doc["partial_last_line"].get<bool>())
    std::fprintf(out, "The last line has no newline: it was still being written, or the file "
                      "was cut.\n");
}

}  // namespace

int explainTraceFile(const std::string &path, bool asJson, std::FILE *out, std::FILE *err) {
  std::string error;
  std::string bytes = readFileBytes(path, error);
  if (!error.empty()) {
    std::fprintf(err, "acs-doctor: --trace %s: cannot read it: %s\n", path.c_str(), error.c_str());
    return kExitUsage;
  }
  ParsedTrace trace = parseTrace(bytes);
  if (trace.records.empty()) {
    std::fprintf(err, "acs-doctor: --trace %s: no trace lines in it (%s); a trace line starts "
                      "with LIBDB2ACS-<pid>:\n",
                 path.c_str(), bytes.empty() ? "the file is empty" : "is it a trace log?");
    return kExitUsage;
  }
  struct stat st;
  json doc = traceJson(trace, tracedProcesses(trace, stat(path.c_str(), &st) == 0 ? st.st_uid : 0));
  if (asJson)
    writeJson(doc, out);
  else
    renderText(path, doc, out);
  return doc["exit_code"].get<int>();
}

}  // namespace doctor
