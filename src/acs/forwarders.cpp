// The thirteen forwarding entry points and the version query. Each
// forwarder is generated from its row of the entry-point table: the frame,
// then the back-end call with the arguments unchanged, or the row's fixed
// failure code while the back end is not bound. The handle is read with
// acquire ordering before the pointer: binding publishes the handle last,
// so a handle seen set means a table filled in.
#include <stdint.h>

#include "frame.h"
#include "zorvan/db2acs.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

#define ACS_ROW_TEXT(Name, Code, Calling)                                      \
  {ZORVAN_ENTRY_TAG(Name), ZORVAN_ENTRY_MARKER(Name),                           \
   "db2ACS_handle = %p , f_db2ACS" #Name " = %p", Calling, Code}

#define ACS_DEFINE_FORWARDER(Name, Code, Label, Calling, Params, Args)         \
  extern "C" db2ACS_RC db2ACS##Name Params {                                   \
    static constexpr zorvan::EntryText kText = ACS_ROW_TEXT(Name, Code, Calling); \
    zorvan::enterFrame(kText.tag, kText.marker);                               \
    db2ACS_RC result;                                                          \
    void *handle = __atomic_load_n(&db2ACS_handle, __ATOMIC_ACQUIRE);          \
    db2ACS##Name##_fn backEnd = handle != nullptr ? f_db2ACS##Name : nullptr;  \
    if (backEnd != nullptr) {                                                  \
      SqluvErrorLog(kText.tag, kText.pointerLine, handle,                      \
                    zorvan::addressOf(backEnd));                               \
      SqluvErrorLog(kText.tag, "%s", kText.callingLine);                       \
      result = backEnd Args;                                                   \
    } else {                                                                   \
      result = zorvan::failUnbound(kText.tag, kText.failureCode, rc);          \
    }                                                                          \
    return zorvan::leaveFrame(kText.tag, result);                              \
  }

#define ACS_FORWARDER_ENTRY ACS_DEFINE_FORWARDER
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#include "zorvan/entry_points.def"
#pragma GCC diagnostic pop

extern "C" db2ACS_RC db2ACSQueryApiVersion(void) {
  zorvan::enterFrame(ZORVAN_QUERY_API_TAG, ZORVAN_QUERY_API_MARKER);
  return 1;
}
