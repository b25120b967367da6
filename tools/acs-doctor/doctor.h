// acs-doctor's parts and how they meet: the command line, the
// installation check (whom to check as, and the checking process that is
// the subject), the trace explainer, and the outputs, all rendered from
// one report in JSON.
#ifndef ACS_DOCTOR_DOCTOR_H
#define ACS_DOCTOR_DOCTOR_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "findings.h"

namespace doctor {

constexpr int kExitBinds = 0;
constexpr int kExitDoesNotBind = 1;
constexpr int kExitUsage = 2;

// The vmName field of the vendor-options record is 18 bytes, NUL included.
constexpr std::size_t kVmNameMax = 17;
constexpr int kDefaultTimeout = 60;

struct Options {
  bool help = false;
  bool json = false;
  bool brief = false;
  bool load = false;
  bool verbose = false;
  bool haveVmName = false;
  std::string vmName;
  std::string asUser;
  std::string pid;
  std::string traceFile;  // --trace: explain this trace log instead
  int timeout = kDefaultTimeout;  // seconds the checking process may take
};

// 0 on success, else kExitUsage after a message on stderr.
int parseOptions(int argc, char **argv, Options &out);
void printUsage(const char *program);

// The installation check: whom to check as, the checking process, and the
// verdict with its exit status. The report it renders is the checking
// process's own JSON, with the verdict added.
int checkInstallation(const Options &options);

// The checking process: acs-doctor re-executed as the subject (its uid,
// gid and groups, its whole environment), so that discovery, every probe
// for causes, --load and the judgement of /tmp see what DB2's process
// sees, the dynamic loader included. It runs the library's discovery once,
// as db2ACSInitialize does, reads it with the one interpreter, and writes
// its report as JSON lines to the descriptor kReportFd: first the
// discovery, then (with --load) the load, so that a back end that kills
// the process still leaves the discovery behind. argv[1] is kCheckerFlag,
// argv[2] its request (JSON).
constexpr const char kCheckerFlag[] = "--checking-process";
constexpr int kReportFd = 3;
// Its main (main has set discardTrace); never returns.
[[noreturn]] void runChecker(const char *request);

// A trace sink that drops every line: nothing acs-doctor calls may write
// the trace file.
void discardTrace(const char *message, void *context);

// The fixed /tmp paths that silently change a DB2 call: the debug markers
// that hold an entry point and the trace file that switches tracing on,
// judged with the library's own rules (zorvan/tmp_rules.h) for the user
// the checking process is.
// {"trace_file": {"state", "detail"}, "markers": [{"path", "entry_point",
// "owner", "holds"}]}, and a problem for each marker and for tracing.
nlohmann::json inspectTmp(std::vector<Problem> &problems);

// acs-doctor --trace FILE: explains a captured trace log.
// Prints each process's calls, the first failure and its cause. Returns
// 0 when no call failed, 1 when one did, 2 when the file cannot be read or
// holds no trace line.
int explainTraceFile(const std::string &path, bool json, std::FILE *out, std::FILE *err);
// A trace log's bytes read as what --trace --json prints; null when they
// hold no trace line. owner: the trace file's owner, whose login files the
// fixes name.
nlohmann::json readTrace(const std::string &bytes, uid_t owner);

// The outputs, from the report: text for people (problems first, so the
// first screen names each cause and its fix), and one line per host
// (--brief). --json prints the report itself, with bytes that are not
// UTF-8 (paths may hold any byte) replaced rather than refused.
void renderText(const nlohmann::json &report, bool verbose, std::FILE *out);
// "<host>: <headline>[: <first error's cause>]"
void renderBrief(const nlohmann::json &report, std::FILE *out);
// "ERROR    <cause>" and "         fix: <fix>", errors first.
void printProblems(std::FILE *out, const nlohmann::json &problems);

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
