// db2ACSInitialize: fixes the registry directory, binds the back end on
// first use, and forwards DB2's initialisation to db2ACSInitializepp.
#include "binding_lock.h"
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
  // A held call must not hold up the other threads: the hold comes first.
  zorvan::enterFrame(kTag, kMarker);

  // One thread at a time decides whether the back end is bound and binds
  // it, so a process binds once, publishes ZORVAN_INST once and never mixes
  // two back ends; each thread's lines and codes are those of one serial
  // order. The back end itself is called outside the lock: a slow one does
  // not serialise databases, and one that calls back in cannot deadlock.
  zorvan::lockBinding();
  fixRegistryDir();
  SqluvErrorLog(kTag, ZORVAN_TEXT_QXREG, qxReg);
  void *handle = __atomic_load_n(&db2ACS_handle, __ATOMIC_ACQUIRE);
  db2ACSInitialize_fn backEndInitialize = f_db2ACSInitialize;
  bool bound = true;
  if (handle == nullptr || backEndInitialize == nullptr) {
    bound = initializeFptrs(cb) != 0;
    handle = __atomic_load_n(&db2ACS_handle, __ATOMIC_ACQUIRE);
    backEndInitialize = f_db2ACSInitialize;
  }
  zorvan::unlockBinding();

  db2ACS_RC result;
  if (!bound) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_BINDING_FAILED);
    if (rc != nullptr) rc->returnCode = kBindingFailed;
    result = kBindingFailed;
  } else if (backEndInitialize == nullptr) {
    // A back end bound earlier without db2ACSInitializepp: the loader does
    // not retry a bound handle, and the null pointer is never called.
    result = zorvan::failUnbound(kTag, kBindingFailed, rc);
  } else {
    SqluvErrorLog(kTag, "db2ACS_handle is:%p, f_db2ACSInitialize is %p", handle,
                  zorvan::addressOf(backEndInitialize));
    SqluvErrorLog(kTag, "%s", kCalling);
    result = backEndInitialize(cb, rc);
  }
  return zorvan::leaveFrame(kTag, result);
}
