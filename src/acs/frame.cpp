#include "frame.h"

#include <unistd.h>

#include "zorvan/tmp_rules.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace zorvan {

namespace {

constexpr unsigned kHoldPollSeconds = 10;

}  // namespace

void debugHold(const char *marker) {
  // The existence test on its own first: a call with no marker, nearly
  // every call, then costs that one system call and not getuid's as well.
  while (access(marker, F_OK) == 0 && markerHolds(marker, getuid())) sleep(kHoldPollSeconds);
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
