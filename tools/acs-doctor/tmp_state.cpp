#include "doctor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "explain.h"
#include "zorvan/tmp_rules.h"
#include "zorvan/trace.h"

namespace doctor {

namespace {

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
    // /tmp is sticky: only the marker's owner (or root) may remove it.
    problems.push_back(describe(holds ? "marker-holds" : "marker-of-another-user",
                                {{"marker", e.marker}, {"owner", owner}, {"function", e.function}, {"user", user}}));
  }
  nlohmann::json trace = {{"state", "absent"}, {"detail", "tracing is off"}};
  struct stat st;
  if (lstat(ZORVAN_TRACE_PATH, &st) == 0) {
    std::string refusal = traceRefusal(st, user);
    CauseValues v = {{"trace", ZORVAN_TRACE_PATH}, {"user", user}, {"owner", userName(st.st_uid)},
                     {"refusal", refusal}};
    if (refusal.empty()) {
      trace = {{"state", "on"}, {"detail", "every call of " + user + "'s DB2 processes appends to it"}};
      problems.push_back(describe("tracing-on", v));
    } else {
      trace = {{"state", "off"}, {"detail", refusal}};
      v.given = {fix::command("root", {"rm", "-f", ZORVAN_TRACE_PATH}),
                 fix::command(user, {"install", "-m", "600", "/dev/null", ZORVAN_TRACE_PATH})};
      problems.push_back(describe("tracing-silently-off", v));
    }
  }
  return {{"trace_file", trace}, {"markers", markers}};
}

}  // namespace doctor
