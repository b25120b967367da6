// What acs-doctor found: the raw results of the library's discovery, what
// they mean, and the problems with their fixes.
#ifndef ACS_DOCTOR_FINDINGS_H
#define ACS_DOCTOR_FINDINGS_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace doctor {

// One run of the library's discovery as it came back: return values and
// the trace messages ("tag: text") of each call, nothing interpreted.
struct DiscoveryRun {
  std::string user;  // who ran it
  uid_t uid = 0;
  std::string registry;  // qxReg after fixRegistryDir()

  int nameFound = 0;  // GetZorvanInstanceName
  std::string name;
  std::vector<std::string> nameTrace;

  bool scanCalled = false;  // get_first_zorvan_instname, when no name was found
  int scanResult = -1;
  std::string scanName;
  std::vector<std::string> scanTrace;

  int baseResult = -1;  // GetZorvanBaseDir: the verdict
  std::string baseDir;
  std::vector<std::string> baseTrace;

  // Measured as the same user right after the run (0: fine or not tried).
  int propertiesErrno = 0;  // opening the properties file
  int libraryErrno = 0;     // access(libqxacsint.so, X_OK)
  bool traceWritable = false;  // access(trace file, W_OK)

  // The first directory on the way to whatever failed that the user may
  // not search (empty when none): access(X_OK) as the user, then stat.
  std::string blockedDir;
  uid_t blockedOwner = 0;
  unsigned blockedMode = 0;
};

struct ScanEntry {
  std::string name;
  bool chosen = false;
  std::string reason;  // why it was passed over
};

enum class Stage {
  Bound,          // GetZorvanBaseDir succeeded
  NoInstance,     // no name, and the scan found nothing
  PathTooLong,    // the properties path did not fit
  NoProperties,   // the properties file could not be opened
  HomeTooLong,    // dZORVANHOME longer than the library takes
  NotAccessible,  // the back end failed the execute test
  Other
};

// The run, read.
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

  std::string propertiesPath;
  std::string home;
  std::string baseDir;
  std::string libraryPath;  // empty when the properties gave no home
  bool libraryAccessible = false;
  Stage stage = Stage::Other;
};

enum class Severity { Error, Warning, Note };

struct Problem {
  Problem(Severity level, std::string what, std::string how, std::string name = "")
      : severity(level), cause(std::move(what)), fix(std::move(how)), id(std::move(name)) {}
  Severity severity;
  std::string cause;
  std::string fix;  // one line
  std::string id;   // the cause's stable name, when it comes from the table of causes
};

struct EntryPoint {
  std::string symbol;
  bool resolved = false;
};

struct BackendLoad {
  bool attempted = false;
  std::string path;
  bool found = false;
  bool loaded = false;
  std::string error;  // dlerror() text
  std::vector<EntryPoint> entryPoints;
  bool complete() const {
    for (const EntryPoint &e : entryPoints)
      if (!e.resolved) return false;
    return loaded;
  }
};

struct Marker {
  std::string path;
  std::string entryPoint;  // "db2ACSVerify"
  uid_t owner = 0;
  std::string ownerName;
  bool holds = false;  // for the user DB2 runs as
};

struct TraceFile {
  std::string state;  // "absent", "on", "off"
  std::string detail;
  uid_t owner = 0;
};

// A run for one user, and what it means.
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
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string cwd;
  pid_t pid = 0;
  std::vector<SteeringVariable> variables;
  // The whole environment ("NAME=value"), for a process or a login: the
  // checking child takes it over, so the back end's own dependencies are
  // looked for with DB2's LD_LIBRARY_PATH too. Unused for "self".
  bool wholeEnvironment = false;
  std::vector<std::string> environment;
  bool switchUser = false;  // the checking child drops to uid/gid/groups
  std::string loginError;   // the login environment could not be read
  const SteeringVariable *variable(const std::string &name) const {
    for (const SteeringVariable &v : variables)
      if (v.name == name) return &v;
    return nullptr;
  }
};

struct UserCheck {
  DiscoveryRun run;
  Facts facts;
};

struct Report {
  std::string registryOrigin;  // "QXREG" or "default"
  std::string vmName;          // simulated vendor options, if any
  Subject subject;
  UserCheck check;
  BackendLoad load;
  std::string dbUser;  // whom markers and the trace file are judged for
  std::vector<Marker> markers;
  TraceFile traceFile;
  std::vector<Problem> problems;
  bool binds = false;
  bool bindsIgnoringMarkers = false;  // binds, but a marker would hold a call
};

}  // namespace doctor

#endif
