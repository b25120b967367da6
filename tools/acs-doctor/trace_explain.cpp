#include "options.h"

#include <sys/stat.h>

#include <cctype>

#include "child_io.h"
#include "explain.h"
#include "render.h"
#include "trace_calls.h"

namespace doctor {

namespace {

using nlohmann::json;

std::string source(const TracedCall &c) {
  if (c.notBound || c.bindingFailed) return "library";
  if (c.forwarded) return "back end";
  return c.function == "db2ACSQueryApiVersion" ? "library" : "";
}

void renderText(const std::string &path, const ParsedTrace &trace,
                const std::vector<TracedProcess> &processes, std::FILE *out) {
  int failing = 0;
  for (const TracedProcess &p : processes) failing += p.firstFailure >= 0 ? 1 : 0;
  std::fprintf(out, "acs-doctor: %s: %zu process%s, %s.\n", path.c_str(), processes.size(),
               processes.size() == 1 ? "" : "es",
               failing == 0 ? "no call failed"
                            : (std::to_string(failing) + " with a failed call").c_str());
  for (const TracedProcess &p : processes) {
    std::fprintf(out, "\nprocess %ld:\n", p.pid);
    std::fprintf(out, "%3s  %-26s %6s  %-9s %s\n", "#", "function", "rc", "from", "outcome");
    for (std::size_t i = 0; i < p.calls.size(); ++i) {
      const TracedCall &c = p.calls[i];
      std::string rc = c.finished ? std::to_string(c.rc) : "-";
      std::fprintf(out, "%3zu  %-26s %6s  %-9s %s%s\n", i + 1, c.function.c_str(), rc.c_str(),
                   source(c).c_str(), outcomeName(c.outcome),
                   static_cast<int>(i) == p.firstFailure ? "   <- first failure" : "");
    }
    printProblems(out, problemsJson(p.problems));
  }
  if (trace.foreignLines != 0)
    std::fprintf(out, "\n%zu line%s that are not the library's trace lines were skipped.\n",
                 trace.foreignLines, trace.foreignLines == 1 ? "" : "s");
  if (trace.partialLastLine)
    std::fprintf(out, "The last line has no newline: it was still being written, or the file "
                      "was cut.\n");
}

void renderJson(const ParsedTrace &trace, const std::vector<TracedProcess> &processes,
                int exitCode, std::FILE *out) {
  json doc = {{"exit_code", exitCode},
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
    doc["processes"].push_back(
        {{"pid", p.pid},
         {"calls", calls},
         {"first_failure", p.firstFailure < 0 ? json() : json(p.firstFailure + 1)},
         {"problems", problemsJson(p.problems)}});
  }
  writeJson(doc, out);
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
  std::vector<TracedProcess> processes = tracedProcesses(trace, stat(path.c_str(), &st) == 0 ? st.st_uid : 0);
  int status = kExitBinds;
  for (const TracedProcess &p : processes)
    if (p.firstFailure >= 0) status = kExitDoesNotBind;
  if (asJson)
    renderJson(trace, processes, status, out);
  else
    renderText(path, trace, processes, out);
  return status;
}

}  // namespace doctor
