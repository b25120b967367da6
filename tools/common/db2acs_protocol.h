// DB2's published ACS records and constants (64-bit Linux, natural
// alignment), declared here for the programs that speak the protocol
// itself: acs-host, the reference back end and the strict test back end.
// The library needs none of this: it forwards every argument untouched and
// reads only the two control-block items whose offsets are asserted below.
//
// The types live in namespace db2acs so that a file which also includes
// the library's minimal declarations (include/zorvan/acs_types.h) sees no
// clash; the constants keep DB2's published spellings.
#ifndef DB2ACS_PROTOCOL_H
#define DB2ACS_PROTOCOL_H

#include <cstddef>
#include <cstdint>

#include "acs_return_codes.h"

namespace db2acs {

using RC = int32_t;            // every call's result
using ObjectId = uint64_t;     // Snapshot, Delete, RetrieveMetaData, the query output
using Operation = uint32_t;    // BeginOperation: DB2ACS_OP_* | DB2ACS_OBJTYPE_*
using EndAction = uint32_t;    // EndOperation: DB2ACS_END_*
using SnapshotAction = uint32_t;  // Snapshot: DB2ACS_ACTION_*
constexpr uint32_t kApiVersion = 1;  // what db2ACSQueryApiVersion answers

}  // namespace db2acs

enum : uint32_t {
  DB2ACS_OP_CREATE = 0x10000000u,
  DB2ACS_OP_READ = 0x20000000u,
  DB2ACS_OP_DELETE = 0x40000000u,
  DB2ACS_OBJTYPE_ALL = 0x0u,
  DB2ACS_OBJTYPE_BACKUP = 0x1u,
  DB2ACS_OBJTYPE_LOG = 0x2u,
  DB2ACS_OBJTYPE_LOADCOPY = 0x4u,
  DB2ACS_OBJTYPE_SNAPSHOT = 0x8u,
};

enum : uint32_t { DB2ACS_END_COMMIT = 0, DB2ACS_END_ABORT = 1 };

// WRITE and READ_BY_OBJECT share 0: the operation tells them apart.
enum : uint32_t {
  DB2ACS_ACTION_WRITE = 0,
  DB2ACS_ACTION_READ_BY_OBJECT = 0,
  DB2ACS_ACTION_READ_BY_GROUP = 1,
};

enum : int32_t { DB2ACS_SYNC_NONE = 0, DB2ACS_SYNC_SERIAL = 1, DB2ACS_SYNC_PARALLEL = 2 };

namespace db2acs {

// Character arrays include their terminating byte.
constexpr std::size_t kSignatureLen = 9;
constexpr std::size_t kVendorSignatureLen = 65;
constexpr std::size_t kDbNameLen = 9;
constexpr std::size_t kInstanceLen = 129;
constexpr std::size_t kHostLen = 256;
constexpr std::size_t kUserLen = 129;
constexpr std::size_t kPasswordLen = 65;
constexpr std::size_t kPathLen = 1025;
constexpr std::size_t kDescriptionLen = 1025;
constexpr std::size_t kTimestampLen = 15;  // YYYYMMDDhhmmss
constexpr std::size_t kMgmtClassLen = 257;

struct DB2Id {
  uint32_t version;
  uint32_t release;
  uint32_t level;
  char signature[kSignatureLen];
};

struct VendorInfo {
  void *vendorCB;  // the back end's own
  uint32_t version;
  uint32_t release;
  uint32_t level;
  char signature[kVendorSignatureLen];
};

struct SessionInfo {
  DB2Id db2ID;
  int16_t dbPartitionNum;
  char db[kDbNameLen];
  char instance[kInstanceLen];
  char host[kHostLen];
  char user[kUserLen];
  char password[kPasswordLen];
  char libraryName[kPathLen];
};

struct Options {
  uint32_t size;
  void *data;
};

struct PartitionEntry {
  int16_t num;
  char host[kHostLen];
};

struct PartitionList {
  uint64_t numPartsInDB;
  uint64_t numPartsInOper;
  PartitionEntry *entries;
};

struct OperationInfo {
  int32_t syncMode;  // DB2ACS_SYNC_*
  PartitionList *partitions;
};

// One per session: the same block goes to every call, and handle is the
// back end's, set at Initialize and kept by the caller from then on.
struct ControlBlock {
  uint32_t handle;
  VendorInfo vendorInfo;
  SessionInfo session;
  Options options;
  OperationInfo *operation;
};

struct ReturnCode {
  int returnCode;
  int reasonCode;
  char description[kDescriptionLen];
};

struct BackupDetails {  // backups and load copies
  uint32_t sequenceNum;
  char imageTimestamp[kTimestampLen];
};

struct LogDetails {
  uint32_t fileID;
  uint32_t chainID;
};

struct SnapshotDetails {
  char imageTimestamp[kTimestampLen];
};

union ObjectDetails {
  BackupDetails backup;
  BackupDetails loadcopy;
  LogDetails log;
  SnapshotDetails snapshot;
};

struct ObjectInfo {
  uint32_t type;  // DB2ACS_OBJTYPE_*
  int16_t dbPartitionNum;
  char db[kDbNameLen];
  char instance[kInstanceLen];
  char host[kHostLen];
  char owner[kUserLen];
  ObjectDetails details;
};

struct CreateObjectInfo {
  ObjectInfo object;
  DB2Id db2ID;
  uint64_t sizeEstimate;
  char mgmtClass[kMgmtClassLen];
  uint32_t appOptions;
};

struct PostObjectInfo {
  LogDetails firstActiveLog;
};

// "*" in a text field and -1 in dbPartitionNum match anything.
using QueryInput = ObjectInfo;
constexpr int16_t kAnyPartition = -1;
constexpr char kAnyText[] = "*";

struct ObjectStatus {
  uint64_t bytesCompleted;
  uint64_t bytesTotal;
  int32_t progressState;
  uint32_t usabilityState;
};

struct QueryOutput {
  ObjectId objectID;
  ObjectInfo object;
  PostObjectInfo postInfo;
  DB2Id db2ID;
  ObjectStatus status;
  uint64_t objectSize;
  uint64_t metaDataSize;
  uint64_t createTime;
};

struct PathEntry {
  char path[kPathLen];
  uint32_t type;
  uint32_t toBeExcluded;
  uint32_t groupID;  // the back end's answer, at Partition
};

struct PathList {
  uint32_t numEntries;
  PathEntry *entries;
};

struct GroupList {
  uint32_t numGroupIDs;
  uint32_t *id;
};

union ReadList {
  GroupList group;
};

struct MetaData {
  uint64_t size;
  void *data;
};

// The control-block items the library reads at fixed offsets
// (include/zorvan/acs_types.h, instance-name resolution): a layout slip
// here would hand a back end a block the library misreads.
static_assert(sizeof(void *) == 8, "DB2's 64-bit layout");
static_assert(sizeof(ControlBlock) == 1760, "the control block is 1,760 bytes");
static_assert(offsetof(ControlBlock, options) == 1736, "options.size at byte 1736");
static_assert(offsetof(ControlBlock, options) + offsetof(Options, data) == 1744,
              "the options data pointer at byte 1744");
static_assert(offsetof(ControlBlock, operation) == 1752, "the operation info ends the block");
static_assert(sizeof(ReturnCode) == 1036, "the return-code record");

// Operation constants in words, e.g. "CREATE|SNAPSHOT"; "0x..." for a
// value that is no operation and object type.
inline const char *operationName(Operation op) {
  switch (op) {
#define DB2ACS_OPERATION_CASE(Op, Type) \
  case DB2ACS_OP_##Op | DB2ACS_OBJTYPE_##Type: return #Op "|" #Type;
#define DB2ACS_OPERATION_ROW(Op)                                                     \
  DB2ACS_OPERATION_CASE(Op, ALL) DB2ACS_OPERATION_CASE(Op, BACKUP)                   \
  DB2ACS_OPERATION_CASE(Op, LOG) DB2ACS_OPERATION_CASE(Op, LOADCOPY)                 \
  DB2ACS_OPERATION_CASE(Op, SNAPSHOT)
    DB2ACS_OPERATION_ROW(CREATE)
    DB2ACS_OPERATION_ROW(READ)
    DB2ACS_OPERATION_ROW(DELETE)
#undef DB2ACS_OPERATION_ROW
#undef DB2ACS_OPERATION_CASE
  }
  return nullptr;
}

inline const char *endActionName(EndAction action) {
  return action == DB2ACS_END_COMMIT ? "COMMIT" : action == DB2ACS_END_ABORT ? "ABORT" : nullptr;
}

}  // namespace db2acs

#endif
