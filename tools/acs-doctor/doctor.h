// acs-doctor's parts and how they meet: the command line, the
// installation check (whom to check as, and the checking process that is
// the subject), the trace explainer, and the outputs, all rendered from
// one report in JSON.
#ifndef ACS_DOCTOR_DOCTOR_H
#define ACS_DOCTOR_DOCTOR_H

#include <sys/types.h>

#include <cstdio>
#include <functional>
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
// gid and groups, its environment without the dynamic loader's variables,
// which the request carries instead), so that discovery, every probe for
// causes and the judgement of /tmp see what DB2's process sees. It runs the
// library's discovery once, as db2ACSInitialize does, reads it with the
// one interpreter, judges what LD_PRELOAD, LD_AUDIT and /etc/ld.so.preload
// would put into DB2's process without loading any of it, and with --load
// has the back end loaded in a load process of its own. It writes its
// report as one JSON line on stdout. argv[1] is kCheckerFlag, argv[2] its
// request (JSON).
constexpr const char kCheckerFlag[] = "--checking-process";
// Its main (main has set discardTrace); never returns.
[[noreturn]] void runChecker(const char *request);

// The load process: acs-doctor re-executed as the subject with its whole
// environment, LD_PRELOAD and all, as DB2's process has it; it opens the
// back end from its base directory as the library does and reports on
// stdout only what loaded, what resolved, what came along and the run
// paths, for the checking process to judge. argv[1] is kLoadFlag, argv[2]
// the base directory, argv[3] the back end.
constexpr const char kLoadFlag[] = "--load-process";
[[noreturn]] void runLoadProcess(const char *baseDir, const char *libraryPath);

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
// "ERROR    <cause>" and a "         fix: <fix>" line for each fix, errors first.
void printProblems(std::FILE *out, const nlohmann::json &problems);
// What render writes, to out with every character that is not printable
// escaped but the line ends: whatever a path or value holds, it reaches
// the terminal as plain characters.
void writeVisible(const std::function<void(std::FILE *)> &render, std::FILE *out);

// In ASCII alone: whatever a path or value holds reaches the terminal as
// an escape, as in text.
inline void writeJson(const nlohmann::json &doc, std::FILE *out) {
  std::string text = doc.dump(2, ' ', true, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

// Each problem with its fixes as they print: "fix" the first, "fixes" all.
inline nlohmann::json problemsJson(const std::vector<Problem> &problems) {
  nlohmann::json list = nlohmann::json::array();
  for (const Problem &p : problems) {
    nlohmann::json fixes = nlohmann::json::array();
    for (const fix::Fix &f : p.fixes) fixes.push_back(fix::render(f));
    list.push_back({{"severity", severityName(p.severity)}, {"cause", p.cause}, {"id", p.id},
                    {"fix", fixes.empty() ? "" : fixes[0]}, {"fixes", fixes}});
  }
  return list;
}

}  // namespace doctor

#endif
