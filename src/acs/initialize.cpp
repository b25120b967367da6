// db2ACSInitialize: fixes the registry directory, binds the back end on
// first use, and forwards DB2's initialisation to db2ACSInitializepp.
#include "frame.h"
#include "zorvan/backend.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace {
// The Initialize row of the entry-point table: its tag, marker, failure
// code and calling line.
#define ACS_INITIALIZE_ENTRY(Name, Code, Label, Calling, Params, Args) \
  const char kTag[] = ZORVAN_ENTRY_TAG(Name);                          \
  const char kMarker[] = ZORVAN_ENTRY_MARKER(Name);                    \
  constexpr db2ACS_RC kBindingFailed = Code;                           \
  const char kCalling[] = Calling;
#include "zorvan/entry_points.def"
}  // namespace

extern "C" db2ACS_RC db2ACSInitialize(db2ACS_CB *cb, db2ACS_ReturnCode *rc) {
  zorvan::enterFrame(kTag, kMarker);
  fixRegistryDir();
  SqluvErrorLog(kTag, ZORVAN_TEXT_QXREG, qxReg);

  db2ACS_RC result;
  if ((db2ACS_handle == nullptr || f_db2ACSInitialize == nullptr) && initializeFptrs(cb) == 0) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_BINDING_FAILED);
    if (rc != nullptr) rc->returnCode = kBindingFailed;
    result = kBindingFailed;
  } else if (f_db2ACSInitialize == nullptr) {
    // A back end bound earlier without db2ACSInitializepp: the loader does
    // not retry a bound handle, and the null pointer is never called.
    result = zorvan::failUnbound(kTag, kBindingFailed, rc);
  } else {
    SqluvErrorLog(kTag, "db2ACS_handle is:%p, f_db2ACSInitialize is %p", db2ACS_handle,
                  zorvan::addressOf(f_db2ACSInitialize));
    SqluvErrorLog(kTag, "%s", kCalling);
    result = f_db2ACSInitialize(cb, rc);
  }
  return zorvan::leaveFrame(kTag, result);
}
