// The DB2 ACS call interface as acs-host sees it: DB2's published records
// (tools/common/db2acs_protocol.h, not the library's headers), one table of
// the calls, and loading an ACS library or, with --backend-direct, a back
// end's "pp" entry points.
#ifndef ACS_HOST_ACS_API_H
#define ACS_HOST_ACS_API_H

#include <cstdint>
#include <cstring>
#include <string>

#include "db2acs_protocol.h"
#include "qxacs_journal.h"

// One row per call: db2ACS<Name> (a back end's db2ACS<Name>pp), the
// journal line that describes it, and its parameters, which always end
// with the control block and the return-code record.
#define ACS_HOST_CB db2acs::ControlBlock *
#define ACS_HOST_RC db2acs::ReturnCode *
#define ACS_HOST_CALLS(X)                                                                   \
  X(Initialize, qxacs_journal_initialize, (ACS_HOST_CB, ACS_HOST_RC))                       \
  X(Terminate, qxacs_journal_terminate, (ACS_HOST_CB, ACS_HOST_RC))                         \
  X(BeginOperation, qxacs_journal_begin_operation,                                          \
    (db2acs::Operation, ACS_HOST_CB, ACS_HOST_RC))                                          \
  X(EndOperation, qxacs_journal_end_operation, (db2acs::EndAction, ACS_HOST_CB, ACS_HOST_RC)) \
  X(Prepare, qxacs_journal_prepare, (db2acs::GroupList *, ACS_HOST_CB, ACS_HOST_RC))        \
  X(Partition, qxacs_journal_partition,                                                     \
    (db2acs::PathList *, db2acs::CreateObjectInfo *, ACS_HOST_CB, ACS_HOST_RC))             \
  X(BeginQuery, qxacs_journal_begin_query, (db2acs::QueryInput *, ACS_HOST_CB, ACS_HOST_RC)) \
  X(GetNextObject, qxacs_journal_get_next_object,                                           \
    (db2acs::QueryOutput *, ACS_HOST_CB, ACS_HOST_RC))                                      \
  X(EndQuery, qxacs_journal_end_query, (ACS_HOST_CB, ACS_HOST_RC))                          \
  X(Snapshot, qxacs_journal_snapshot,                                                       \
    (db2acs::SnapshotAction, db2acs::ObjectId, db2acs::ReadList *, ACS_HOST_CB, ACS_HOST_RC)) \
  X(Verify, qxacs_journal_verify, (db2acs::PostObjectInfo *, ACS_HOST_CB, ACS_HOST_RC))     \
  X(Delete, qxacs_journal_delete, (db2acs::ObjectId, ACS_HOST_CB, ACS_HOST_RC))             \
  X(StoreMetaData, qxacs_journal_store_metadata, (db2acs::MetaData *, ACS_HOST_CB, ACS_HOST_RC)) \
  X(RetrieveMetaData, qxacs_journal_retrieve_metadata,                                      \
    (db2acs::MetaData *, db2acs::ObjectId, ACS_HOST_CB, ACS_HOST_RC))

enum class AcsCall {
#define ACS_HOST_CALL_ENUM(Name, Journal, Params) Name,
  ACS_HOST_CALLS(ACS_HOST_CALL_ENUM)
#undef ACS_HOST_CALL_ENUM
};

#define ACS_HOST_CALL_COUNT(Name, Journal, Params) +1
constexpr std::size_t kAcsCallCount = 0 ACS_HOST_CALLS(ACS_HOST_CALL_COUNT);
#undef ACS_HOST_CALL_COUNT

// The row of call C: its function type, its API name and its journal line.
template <AcsCall C>
struct CallOf;
#define ACS_HOST_CALL_TRAITS(Name, Journal, Params)                  \
  template <>                                                        \
  struct CallOf<AcsCall::Name> {                                     \
    using Fn = db2acs::RC(*) Params;                                 \
    static constexpr const char *name = "db2ACS" #Name;              \
    static constexpr auto journal = &Journal;                        \
  };
ACS_HOST_CALLS(ACS_HOST_CALL_TRAITS)
#undef ACS_HOST_CALL_TRAITS

using QueryApiVersionFn = uint32_t (*)();

struct AcsApi {
  void *handle = nullptr;
  bool direct = false;  // true: the back end's db2ACS*pp names
  QueryApiVersionFn queryApiVersion = nullptr;  // has no pp counterpart
  void *entries[kAcsCallCount] = {};

  // The symbol called for an API function, e.g. "db2ACSVerify" or, direct,
  // "db2ACSVerifypp".
  std::string symbolOf(const char *apiName) const;

  // dlsym hands back an object pointer; memcpy turns it into a function
  // pointer without a cast ISO C++ frowns upon.
  template <AcsCall C>
  typename CallOf<C>::Fn entry() const {
    typename CallOf<C>::Fn fn;
    static_assert(sizeof fn == sizeof(void *), "function pointers are pointer-sized");
    std::memcpy(&fn, &entries[static_cast<std::size_t>(C)], sizeof fn);
    return fn;
  }
};

// dlopens path and resolves every function. On failure prints why (naming
// each missing function) and returns false.
bool loadAcsApi(const std::string &path, bool direct, AcsApi &api);

void unloadAcsApi(AcsApi &api);

#endif
