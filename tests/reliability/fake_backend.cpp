// A back end that does nothing: the fourteen entry points, each storing 0
// in the record and returning 0. For load runs, where the reference back
// end's journal would measure the disk instead of the library.
#include <stdint.h>

#include "zorvan/acs_types.h"

#define FAKE_ENTRY(Name, ...)                                                \
  extern "C" __attribute__((visibility("default"))) db2ACS_RC Name(__VA_ARGS__, \
                                                                 db2ACS_ReturnCode *rc) { \
    if (rc != nullptr) rc->returnCode = 0;                                   \
    return 0;                                                                \
  }

FAKE_ENTRY(db2ACSInitializepp, db2ACS_CB *)
FAKE_ENTRY(db2ACSTerminatepp, void *)
FAKE_ENTRY(db2ACSBeginOperationpp, uint32_t, void *)
FAKE_ENTRY(db2ACSEndOperationpp, uint32_t, void *)
FAKE_ENTRY(db2ACSBeginQuerypp, void *, void *)
FAKE_ENTRY(db2ACSGetNextObjectpp, void *, void *)
FAKE_ENTRY(db2ACSEndQuerypp, void *)
FAKE_ENTRY(db2ACSPartitionpp, void *, void *, void *)
FAKE_ENTRY(db2ACSPreparepp, void *, void *)
FAKE_ENTRY(db2ACSSnapshotpp, uint32_t, void *, void *, void *)
FAKE_ENTRY(db2ACSVerifypp, void *, void *)
FAKE_ENTRY(db2ACSDeletepp, void *, void *)
FAKE_ENTRY(db2ACSStoreMetaDatapp, void *, void *)
FAKE_ENTRY(db2ACSRetrieveMetaDatapp, void *, void *, void *)
