// What acs-doctor reads out of the library's trace lines, and the problems
// it names, each with its fix.
#ifndef ACS_DOCTOR_FINDINGS_H
#define ACS_DOCTOR_FINDINGS_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "accounts.h"
#include "fix.h"
#include "zorvan/trace_texts.h"

namespace doctor {

// Every ACS entry point as the library's trace shows it: first
// db2ACSQueryApiVersion, which the library answers itself, then the rows
// of zorvan/entry_points.def in resolution order.
struct EntryPoint {
  const char *function;  // "db2ACSInitialize"
  const char *tag;       // its trace tag, "db2ACSInitialize()"
  const char *marker;    // the debug marker that holds it
  const char *label;     // the loader's "f_db2ACS... = %p" line; null for the first
  const char *calling;   // the line written just before the back end runs; null for the first
  const char *symbol;    // the back end's symbol; null for the first
};

inline constexpr EntryPoint kEntryPoints[] = {
    {"db2ACSQueryApiVersion", ZORVAN_QUERY_API_TAG, ZORVAN_QUERY_API_MARKER, nullptr, nullptr, nullptr},
#define ACS_ENTRY_POINT(Name, Code, Label, Calling, Params, Args) \
  {"db2ACS" #Name, ZORVAN_ENTRY_TAG(Name), ZORVAN_ENTRY_MARKER(Name), Label, Calling, ZORVAN_BACKEND_SYMBOL(Name)},
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_POINT
#define ACS_FORWARDER_ENTRY ACS_ENTRY_POINT
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_POINT
};

struct ScanEntry {
  std::string name;
  bool chosen = false;
  std::string reason;  // why it was passed over
};

// Where discovery stopped. The JSON names (stageName) are an interface.
enum class Stage {
  Bound,          // GetZorvanBaseDir succeeded
  NoInstance,     // no name, and the scan found nothing
  PathTooLong,    // the properties path did not fit
  NoProperties,   // the properties file could not be opened
  NoHome,         // the properties file gave no dZORVANHOME value
  HomeTooLong,    // dZORVANHOME longer than the library takes
  NotAccessible,  // the back end failed the execute test
  Other
};
const char *stageName(Stage stage);

// One discovery (and, from a trace, one binding) as its trace lines show it.
struct Facts {
  std::string registry;
  std::string instance;
  std::string instanceOrigin;  // "vendor options", "ZORVAN_INST", "first-instance scan" or ""

  bool scanRan = false;
  std::string instancesDir;
  bool scanOpened = true;
  int scanOpenErrno = 0;
  bool defaultProbeHit = false;
  std::vector<ScanEntry> scan;

  // What a process with raised privileges did not take from its
  // environment: QXREG's value and the reason, the instance name refused
  // and where it came from ("ZORVAN_INST" or "vendor options").
  std::string qxregIgnored, qxregReason, qxregFaultDir, instanceIgnored, instanceIgnoredFrom;

  std::string propertiesPath;
  std::string home;
  std::string baseDir;
  std::string libraryPath;  // empty when the properties gave no home
  Stage stage = Stage::Other;

  // The load: from the loader's lines of a trace, or from --load.
  bool loadTried = false;
  bool loaded = false;
  std::string loadError;             // dlerror() text
  std::vector<std::string> missing;  // back-end symbols not found
};

enum class Severity { Error, Warning, Note };
const char *severityName(Severity severity);

struct Problem {
  Problem(Severity level, std::string what, fix::Fixes how, std::string name)
      : severity(level), cause(std::move(what)), fixes(std::move(how)), id(std::move(name)) {}
  Severity severity;
  std::string cause;
  fix::Fixes fixes;  // each printed on a line of its own
  std::string id;    // the cause's stable name in the table of causes
};

// Where a steering variable's value came from, for the first screen.
struct SteeringVariable {
  std::string name;  // QXREG, ZORVAN_INST
  bool set = false;
  std::string value;
  std::string origin;  // "from db2inst1's login environment", ...
};

// Whom the check stands for: the identity, environment and working
// directory DB2 has (or this process's own, when nothing else was named).
struct Subject {
  std::string source;  // "self", "pid", "login"
  std::string user;
  uid_t uid = 0;  // real ids
  gid_t gid = 0;
  uid_t euid = 0;  // effective ids: others than the real ones in a process with raised privileges
  gid_t egid = 0;
  std::vector<gid_t> groups;
  std::string cwd;
  pid_t pid = 0;
  std::vector<SteeringVariable> variables;
  // "NAME=value", the whole of it: the checking process is started with it.
  std::vector<std::string> environment;
  bool switchUser = false;  // the checking process takes uid, gid and groups
  bool otherTree = false;   // a process whose root directory or mount namespace is not ours
  std::string root = "/";   // its root directory, as seen from here
  std::string loginError;   // the login environment could not be read
};

// The one lookup of users and groups: the system's, read once. A check in
// another process's tree reads them before it enters, so that nothing of
// that tree (its name service modules) is loaded.
const trust::Accounts &accounts();
// "db2inst1", or "uid 1234" for a uid without a name.
inline std::string userName(uid_t uid) { return accounts().userName(uid); }

}  // namespace doctor

#endif
