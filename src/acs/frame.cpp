#include "frame.h"

#include <sys/stat.h>
#include <unistd.h>

#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace zorvan {

namespace {

constexpr unsigned kHoldPollSeconds = 10;

// The hold exists so that a debugger can be attached, which only root or
// the process's own user can do. A marker planted by anyone else could
// only stall every backup on the host, so it does not hold. The owner is
// that of the marker itself, not of what a symbolic link points at.
bool markerHolds(const char *marker) {
  if (access(marker, F_OK) != 0) return false;
  struct stat st;
  if (lstat(marker, &st) != 0) return false;
  return st.st_uid == 0 || st.st_uid == getuid();
}

}  // namespace

void debugHold(const char *marker) {
  while (markerHolds(marker)) sleep(kHoldPollSeconds);
}

void enterFrame(const char *tag, const char *marker) {
  SqluvErrorLog(tag, ZORVAN_TEXT_ENTERED);
  SqluvErrorLog(tag, ZORVAN_TEXT_HOLD, marker);
  debugHold(marker);
}

db2ACS_RC leaveFrame(const char *tag, db2ACS_RC result) {
  SqluvErrorLog(tag, ZORVAN_TEXT_LEAVING_RESULT, result);
  return result;
}

db2ACS_RC failUnbound(const char *tag, db2ACS_RC code, db2ACS_ReturnCode *rc) {
  SqluvErrorLog(tag, ZORVAN_TEXT_NOT_BOUND);
  // A null record is not written through; the code is still returned.
  if (rc != nullptr) rc->returnCode = code;
  return code;
}

}  // namespace zorvan
