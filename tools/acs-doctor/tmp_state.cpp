#include "tmp_state.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zorvan/trace.h"

namespace doctor {

namespace {

struct MarkerName {
  const char *entryPoint;
  const char *path;
};

const MarkerName kMarkers[] = {
    {"db2ACSQueryApiVersion", "/tmp/db2ACSQueryApiVersion1"},
#define ACS_ENTRY_MARKER(Name, Code, Label, Calling, Params, Args) \
  {"db2ACS" #Name, "/tmp/db2ACS" #Name "Debug"},
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_MARKER
#define ACS_FORWARDER_ENTRY ACS_ENTRY_MARKER
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_MARKER
};

std::string nameOf(uid_t uid) {
  const struct passwd *pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : "uid " + std::to_string(uid);
}

const char kTraceOn[] = "touch " ZORVAN_TRACE_PATH " && chmod 600 " ZORVAN_TRACE_PATH;

}  // namespace

std::vector<Marker> findMarkers(uid_t dbUid) {
  std::vector<Marker> found;
  for (const MarkerName &m : kMarkers) {
    struct stat st;
    if (lstat(m.path, &st) != 0) continue;
    Marker marker;
    marker.path = m.path;
    marker.entryPoint = m.entryPoint;
    marker.owner = st.st_uid;
    marker.ownerName = nameOf(st.st_uid);
    // The library's test: the path resolves, and the entry itself is owned
    // by root or by the process's user.
    marker.holds = access(m.path, F_OK) == 0 && (st.st_uid == 0 || st.st_uid == dbUid);
    found.push_back(marker);
  }
  return found;
}

TraceFile inspectTraceFile(uid_t dbUid, const std::string &dbUser, bool writable) {
  TraceFile t;
  struct stat st;
  if (lstat(ZORVAN_TRACE_PATH, &st) != 0) {
    t.state = "absent";
    t.detail = "tracing is off";
    return t;
  }
  t.state = "off";
  t.owner = st.st_uid;
  if (S_ISLNK(st.st_mode))
    t.detail = "it is a symbolic link, which the library never follows";
  else if (S_ISFIFO(st.st_mode))
    t.detail = "it is a FIFO, not a regular file";
  else if (S_ISDIR(st.st_mode))
    t.detail = "it is a directory, not a regular file";
  else if (!S_ISREG(st.st_mode))
    t.detail = "it is a device or socket, not a regular file";
  else if (st.st_uid != 0 && st.st_uid != dbUid)
    t.detail = "it belongs to " + nameOf(st.st_uid) + ", neither root nor " + dbUser;
  else if (!writable)
    t.detail = "it is not writable for " + dbUser;
  else {
    t.state = "on";
    t.detail = "every call of " + dbUser + "'s DB2 processes appends to it";
  }
  return t;
}

// /tmp is sticky: only the marker's owner or root may remove it.
std::string removeMarker(const Marker &m) {
  return (m.owner == 0 ? "As root: rm " : "As " + m.ownerName + " (or root): rm ") + m.path;
}

void explainTmp(const std::vector<Marker> &markers, const TraceFile &trace,
                const std::string &dbUser, std::vector<Problem> &out) {
  for (const Marker &m : markers) {
    if (m.holds)
      out.push_back({Severity::Error,
                     "Debug marker " + m.path + " (owner " + m.ownerName + ") exists: every " +
                         m.entryPoint + " call of " + dbUser +
                         " waits until it is removed, re-checking every 10 s; the operation hangs.",
                     removeMarker(m) + " (unless a debugger is being attached)."});
    else
      out.push_back({Severity::Note,
                     "Debug marker " + m.path + " exists but belongs to " + m.ownerName +
                         ", so it does not hold " + dbUser + "'s calls.",
                     removeMarker(m) + " if it is stale (it would hold " + m.ownerName +
                         "'s calls)."});
  }
  if (trace.state == "on")
    out.push_back({Severity::Warning,
                   "Tracing is on: " ZORVAN_TRACE_PATH " exists and " + trace.detail +
                       " (it grows, and records paths and vendor options).",
                   std::string("As ") + (trace.owner == 0 ? "root" : dbUser + " (or root)") +
                       ": rm " ZORVAN_TRACE_PATH " to switch tracing off."});
  else if (trace.state == "off")
    out.push_back({Severity::Warning,
                   ZORVAN_TRACE_PATH " exists but tracing is silently off: " + trace.detail + ".",
                   "As root: rm -f " ZORVAN_TRACE_PATH ", then as " + dbUser + ": " + kTraceOn +
                       " (or leave it out to keep tracing off)."});
}

}  // namespace doctor
