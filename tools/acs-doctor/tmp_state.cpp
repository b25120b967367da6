#include "doctor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zorvan/tmp_rules.h"
#include "zorvan/trace.h"

namespace doctor {

namespace {

const char kTraceOn[] = "touch " ZORVAN_TRACE_PATH " && chmod 600 " ZORVAN_TRACE_PATH;

// Why the library would write no line into the trace file; "" when it would.
std::string traceRefusal(const struct stat &st, const std::string &user) {
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link, which the library never follows";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO, not a regular file";
  if (S_ISDIR(st.st_mode)) return "it is a directory, not a regular file";
  if (!zorvan::traceFileAccepts(st, getuid()))
    return S_ISREG(st.st_mode) ? "it belongs to " + userName(st.st_uid) + ", neither root nor " + user
                               : "it is a device or socket, not a regular file";
  int fd = open(ZORVAN_TRACE_PATH, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "it is not writable for " + user;
  close(fd);
  return "";
}

}  // namespace

nlohmann::json inspectTmp(std::vector<Problem> &problems) {
  std::string user = userName(getuid());
  nlohmann::json markers = nlohmann::json::array();
  for (const EntryPoint &e : kEntryPoints) {
    struct stat st;
    if (lstat(e.marker, &st) != 0) continue;
    bool holds = zorvan::markerHolds(e.marker, getuid());
    std::string owner = userName(st.st_uid);
    markers.push_back({{"path", e.marker}, {"entry_point", e.function}, {"owner", owner}, {"holds", holds}});
    // /tmp is sticky: only the marker's owner or root may remove it.
    std::string remove = (st.st_uid == 0 ? "As root: rm " : "As " + owner + " (or root): rm ") + e.marker;
    if (holds)
      problems.push_back({Severity::Error,
                          "Debug marker " + std::string(e.marker) + " (owner " + owner + ") exists: every " +
                              e.function + " call of " + user +
                              " waits until it is removed, re-checking every 10 s; the operation hangs.",
                          remove + " (unless a debugger is being attached).", "marker-holds"});
    else
      problems.push_back({Severity::Note,
                          "Debug marker " + std::string(e.marker) + " exists but belongs to " + owner +
                              ", so it does not hold " + user + "'s calls.",
                          remove + " if it is stale (it would hold " + owner + "'s calls).", "marker-of-another-user"});
  }
  nlohmann::json trace = {{"state", "absent"}, {"detail", "tracing is off"}};
  struct stat st;
  if (lstat(ZORVAN_TRACE_PATH, &st) == 0) {
    std::string refusal = traceRefusal(st, user);
    if (refusal.empty()) {
      trace = {{"state", "on"}, {"detail", "every call of " + user + "'s DB2 processes appends to it"}};
      problems.push_back({Severity::Warning,
                          "Tracing is on: " ZORVAN_TRACE_PATH " exists and every call of " + user +
                              "'s DB2 processes appends to it (it grows, and records paths and vendor options).",
                          std::string("As ") + (st.st_uid == 0 ? "root" : user + " (or root)") +
                              ": rm " ZORVAN_TRACE_PATH " to switch tracing off.", "tracing-on"});
    } else {
      trace = {{"state", "off"}, {"detail", refusal}};
      problems.push_back({Severity::Warning,
                          ZORVAN_TRACE_PATH " exists but tracing is silently off: " + refusal + ".",
                          "As root: rm -f " ZORVAN_TRACE_PATH ", then as " + user + ": " + kTraceOn +
                              " (or leave it out to keep tracing off).", "tracing-silently-off"});
    }
  }
  return {{"trace_file", trace}, {"markers", markers}};
}

}  // namespace doctor
