// The frame every exported ACS entry point runs: the entry line and the
// debug hold on the way in, the leaving line on the way out.
#ifndef ZORVAN_ACS_FRAME_H
#define ZORVAN_ACS_FRAME_H

#include <string.h>

#include "zorvan/acs_types.h"

namespace zorvan {

// The constants one entry point traces with.
struct EntryText {
  const char *tag;          // "db2ACSTerminate()"
  const char *marker;       // "/tmp/db2ACSTerminateDebug"
  const char *pointerLine;  // "db2ACS_handle = %p , f_db2ACSTerminate = %p"
  const char *callingLine;  // "Calling db2ACSTerminatepp()"
  db2ACS_RC failureCode;    // stored and returned while unbound
};

// Waits while the marker file exists (and belongs to root or to the real
// user), testing again every 10 seconds. A signal only shortens the sleep.
void debugHold(const char *marker);

// Entry line, hold line, then the hold itself.
void enterFrame(const char *tag, const char *marker);

// Leaving line with the result; returns the result.
db2ACS_RC leaveFrame(const char *tag, db2ACS_RC result);

// Failure line, the code into the record's first field (when there is a
// record), and the code as result.
db2ACS_RC failUnbound(const char *tag, db2ACS_RC code, db2ACS_ReturnCode *rc);

// The value of a function pointer as an object address, for %p.
template <typename Fn>
inline void *addressOf(Fn fn) {
  void *address;
  static_assert(sizeof fn == sizeof address, "function pointers are address-sized");
  memcpy(&address, &fn, sizeof address);
  return address;
}

}  // namespace zorvan

#endif
