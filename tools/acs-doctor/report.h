// One check's report, decided once: the checking process fills it (what
// discovery found, the load, /tmp, who can change what DB2 runs, the
// problems and the verdict) and writes it as JSON; the doctor reads it
// back, adds what only it knows (whom it asked for, where the environment
// came from) and renders it as text, --json or --brief. JSON is written
// here and read here, nowhere else.
#ifndef ACS_DOCTOR_REPORT_H
#define ACS_DOCTOR_REPORT_H

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "library_trace.h"

namespace doctor {

constexpr int kExitBinds = 0;
constexpr int kExitDoesNotBind = 1;
constexpr int kExitUsage = 2;

enum class Severity { Error, Warning, Note };

// A cause from the table of causes, with its fixes as they print.
struct Problem {
  Severity severity = Severity::Error;
  std::string id;  // the cause's stable name
  std::string cause;
  std::vector<std::string> fixes;
};

// Where a steering variable's value came from, for the first screen.
struct Variable {
  std::string name;  // QXREG, ZORVAN_INST
  bool set = false;
  std::string value;
  std::string origin;  // "from db2inst1's login environment", ...
};

// Whom the doctor asked the check to stand for.
struct CheckedAs {
  std::string source;  // "self", "pid", "login"
  std::string user;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string cwd;
  pid_t pid = 0;
  std::vector<Variable> environment;
  std::string loginError;  // the login environment could not be read
};

// What the checking process really was.
struct Identity {
  std::string user;
  uid_t uid = 0, euid = 0;
  gid_t gid = 0, egid = 0;
  bool raised = false;  // AT_SECURE
  std::vector<gid_t> groups;
  std::string cwd;
  std::optional<std::string> ldLibraryPath;  // the subject's, which the check was started without
};

struct Load {
  std::string path;
  bool found = false, loaded = false, complete = false, died = false, hung = false;
  std::vector<std::pair<std::string, bool>> entryPoints;  // symbol, resolved
  std::vector<std::string> libraries, runPath;
  int signal = 0;
  std::string signalName, error;
};

struct TrustRow {
  std::string path, role, kind, owner, group, mode, who, verdict;
};

struct Marker {
  std::string path, entryPoint, owner;
  bool holds = false;
};

struct Report {
  CheckedAs checkedAs;
  Identity identity;
  std::string cwdError;  // the working directory asked for could not be entered
  Facts discovery;
  bool registryFromVariable = false;
  std::vector<std::string> trace;  // the library's lines of the discovery
  std::vector<std::pair<std::string, std::string>> paths;  // every path to the back end, by role name
  std::optional<Load> load;
  std::vector<TrustRow> chain;
  std::string trustWho;       // who besides root and the instance owner can change what DB2 runs
  std::size_t outside = 0;    // paths whose owner is outside this user namespace
  std::string traceState = "absent", traceDetail = "tracing is off";
  std::vector<Marker> markers;
  std::vector<Problem> problems;
  std::optional<std::string> vmName;
  // The verdict, decided by decide().
  bool binds = false;
  int exitCode = kExitDoesNotBind;
  // The check with the environment of an interactive login (ssh, then
  // db2start), where it differs from su -'s; the verdict holds for both.
  std::vector<Report> interactive;
};

// Binds and exit code from what the report holds: DB2 would bind when
// discovery found the back end, the load (if made) resolved all fourteen
// entry points and no problem is an error.
void decide(Report &report);
// "DB2 would bind the back end (checked as db2inst1).", ...
std::string headline(const Report &report);

nlohmann::json toJson(const Report &report);
// The report a checking process wrote; throws nlohmann::json::exception
// when it is not one.
Report reportFrom(const nlohmann::json &doc);
nlohmann::json problemsJson(const std::vector<Problem> &problems);
std::vector<Problem> problemsFrom(const nlohmann::json &list);
const char *severityName(Severity severity);

// The renderers: text for people (problems first, so the first screen
// names each cause and its fix), one line per host (--brief), and JSON.
void renderText(const Report &report, bool verbose, std::FILE *out);
void renderBrief(const Report &report, std::FILE *out);
// In ASCII alone: whatever a path or value holds reaches the terminal as
// an escape, as in text.
void writeJson(const nlohmann::json &doc, std::FILE *out);
// "ERROR    <cause>" and a "         fix: <fix>" line for each fix, errors first.
void printProblems(std::FILE *out, const std::vector<Problem> &problems);
// What render writes, to out with every character that is not printable
// escaped but the line ends: whatever a path or value holds, it reaches
// the terminal as plain characters.
void writeVisible(const std::function<void(std::FILE *)> &render, std::FILE *out);

}  // namespace doctor

#endif
