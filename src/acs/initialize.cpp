// db2ACSInitialize: fixes the registry directory, binds the back end on
// first use, and forwards DB2's initialisation to db2ACSInitializepp.
#include "frame.h"
#include "zorvan/backend.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace {
const char kTag[] = "db2ACSInitialize()";
const char kMarker[] = "/tmp/db2ACSInitializeDebug";
constexpr db2ACS_RC kBindingFailed = 11;
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
    SqluvErrorLog(kTag, "Calling db2ACSInitializepp");
    result = f_db2ACSInitialize(cb, rc);
  }
  return zorvan::leaveFrame(kTag, result);
}
