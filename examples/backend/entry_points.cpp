/* The fourteen entry points of the example back end. They take DB2's
 * records, keep one session per process (the control block Initialize was
 * given, and the handle it put there), check that the calls come in an
 * order DB2 makes them, do their small piece of catalogue work, fill the
 * whole return-code record, journal the call and return DB2's code. */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "db2acs_protocol.h"
#include "qxacs_journal.h"
#include "storage.h"

#define QXACS_EXPORT extern "C" __attribute__((visibility("default")))

using db2acs::ControlBlock;
using db2acs::ObjectId;
using db2acs::ReturnCode;

namespace {

constexpr uint32_t kOperationMask = 0xF0000000u;
/* Every path of a backup goes into this one group: the example takes one
 * consistent snapshot of them all. */
constexpr uint32_t kGroup = 1;
// Initialize hands out handles from here; a test variant may leave it out.
constexpr uint32_t kHandleBase = 0x51580000u;

enum class Phase { Closed, Open, InOperation };

/* The session of this process: DB2 opens one per agent. */
struct Session {
  Phase phase = Phase::Closed;
  const ControlBlock *cb = nullptr;
  uint32_t handle = 0;
  db2acs::Operation op = 0;
  bool inQuery = false;
  uint32_t position = 0;
  db2acs::QueryInput query{};
  /* A backup in the making. */
  bool partitioned = false;
  bool prepared = false;
  ObjectId created = 0;
  SnapshotRecord record{};
};

Session session;
uint32_t sessionsOpened = 0;

/* What a call answers: DB2's code, a reason (errno for storage failures)
 * and a description in words. */
struct Reply {
  int32_t code = DB2ACS_RC_OK;
  int reason = 0;
  char text[256] = "";

  bool ok() const { return code == DB2ACS_RC_OK; }
  bool say(int32_t result, const char *format, ...) __attribute__((format(printf, 3, 4)));
};

bool Reply::say(int32_t result, const char *format, ...) {
  code = result;
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return ok();
}

/* Journals the call and returns its code. */
int32_t finish(const Reply &reply, const char *line) {
  journal_append(line);
  return reply.code;
}

/* The whole record, as DB2's drivers fill it. */
void fill(ReturnCode *rc, const Reply &reply) {
  if (!rc) return;
  memset(rc, 0, sizeof *rc);
  rc->returnCode = reply.code;
  rc->reasonCode = reply.reason;
  snprintf(rc->description, sizeof rc->description, "%s", reply.text);
}

/* The session's own block, with the handle Initialize put there. */
bool inSession(const ControlBlock *cb, Reply &r) {
  if (session.phase == Phase::Closed)
    return r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "no session: db2ACSInitialize first");
  if (cb != session.cb || cb->handle != session.handle)
    return r.say(DB2ACS_RC_INV_DEV_HANDLE, "not the control block of session %u",
                 session.handle);
  return true;
}

bool inOperation(const ControlBlock *cb, uint32_t kind, const char *what, Reply &r) {
  if (!inSession(cb, r)) return false;
  if (session.phase != Phase::InOperation || (session.op & kOperationMask) != kind)
    return r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "%s outside a %s operation", what,
                 kind == DB2ACS_OP_CREATE ? "CREATE" : kind == DB2ACS_OP_READ ? "READ" : "DELETE");
  if (session.inQuery)
    return r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "%s while a query is open", what);
  return true;
}

bool present(const void *p, const char *what, Reply &r) {
  return p ? true : r.say(DB2ACS_RC_INV_ACTION, "no %s given", what);
}

/* The example keeps snapshots only: a backup creates one, and reading or
 * deleting may name snapshots or all types. */
bool operationKnown(db2acs::Operation op) {
  uint32_t kind = op & kOperationMask, type = op & ~kOperationMask;
  if (kind == DB2ACS_OP_CREATE) return type == DB2ACS_OBJTYPE_SNAPSHOT;
  if (kind == DB2ACS_OP_READ || kind == DB2ACS_OP_DELETE)
    return type == DB2ACS_OBJTYPE_SNAPSHOT || type == DB2ACS_OBJTYPE_ALL;
  return false;
}

template <size_t N>
bool textMatches(const char (&wanted)[N], const char (&kept)[N]) {
  return strcmp(wanted, db2acs::kAnyText) == 0 || strncmp(wanted, kept, N) == 0;
}

bool matches(const db2acs::QueryInput &q, const db2acs::ObjectInfo &o) {
  return (q.type == DB2ACS_OBJTYPE_ALL || q.type == o.type) &&
         (q.dbPartitionNum == db2acs::kAnyPartition || q.dbPartitionNum == o.dbPartitionNum) &&
         textMatches(q.db, o.db) && textMatches(q.instance, o.instance) &&
         textMatches(q.host, o.host) && textMatches(q.owner, o.owner) &&
         textMatches(q.details.snapshot.imageTimestamp, o.details.snapshot.imageTimestamp);
}

void abandonBackup() {
  if (session.created) (void)object_remove(session.created);
  session.created = 0;
}

void beginOperation(db2acs::Operation op, ControlBlock *cb, Reply &r) {
  if (!inSession(cb, r)) return;
  if (session.phase != Phase::Open) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "an operation is already in progress");
  } else if (!operationKnown(op)) {
    r.say(DB2ACS_RC_INV_ACTION, "operation 0x%08x: this back end keeps snapshots only", op);
  } else {
    session.phase = Phase::InOperation;
    session.op = op;
    session.partitioned = session.prepared = false;
    session.created = 0;
    r.say(DB2ACS_RC_OK, "%s begun", db2acs::operationName(op));
  }
}

void endOperation(db2acs::EndAction end, ControlBlock *cb, Reply &r) {
  if (!inSession(cb, r)) return;
  if (session.phase != Phase::InOperation)
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "no operation to end");
  else if (session.inQuery)
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "the query was not ended");
  else if (!db2acs::endActionName(end))
    r.say(DB2ACS_RC_INV_ACTION, "end action %u is neither COMMIT nor ABORT", end);
  if (!r.ok()) return;
  if (end == DB2ACS_END_ABORT) abandonBackup();
  r.say(DB2ACS_RC_OK, "%s %s", db2acs::operationName(session.op),
        end == DB2ACS_END_COMMIT ? "committed" : "aborted");
  session.phase = Phase::Open;
  session.created = 0;
}

void partition(db2acs::PathList *paths, db2acs::CreateObjectInfo *create,
                                ControlBlock *cb, Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_CREATE, "Partition", r)) return;
  if (session.partitioned) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "Partition twice in one backup");
    return;
  }
  if (!present(paths, "path list", r) || !present(create, "create-object info", r)) return;
  if (paths->numEntries == 0 || !paths->entries) {
    r.say(DB2ACS_RC_INV_ACTION, "an empty path list");
    return;
  }
  for (uint32_t i = 0; i < paths->numEntries; ++i) {
    if (paths->entries[i].path[0] != '/') {
      r.say(DB2ACS_RC_INV_ACTION, "path %u is not absolute", i);
      return;
    }
    paths->entries[i].groupID = kGroup;
  }
  session.record.object = create->object;
  session.partitioned = true;
  r.say(DB2ACS_RC_OK, "%u path%s in group %u", paths->numEntries,
        paths->numEntries == 1 ? "" : "s", kGroup);
}

void prepare(db2acs::GroupList *groups, ControlBlock *cb, Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_CREATE, "Prepare", r)) return;
  if (!session.partitioned || session.prepared) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "Prepare %s", session.prepared ? "twice" : "before Partition");
    return;
  }
  if (!present(groups, "group list", r)) return;
  if (groups->numGroupIDs == 0 || !groups->id) {
    r.say(DB2ACS_RC_INV_ACTION, "an empty group list");
    return;
  }
  for (uint32_t i = 0; i < groups->numGroupIDs; ++i) {
    if (groups->id[i] != kGroup) {
      r.say(DB2ACS_RC_INV_ACTION, "group %u was not handed out by Partition", groups->id[i]);
      return;
    }
  }
  session.prepared = true;
  r.say(DB2ACS_RC_OK, "group %u prepared", kGroup);
}

void writeSnapshot(Reply &r) {
  if (!session.prepared || session.created) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "Snapshot %s", session.created ? "twice" : "before Prepare");
    return;
  }
  int32_t result = object_create(&session.created);
  if (result != DB2ACS_RC_OK) {
    r.say(result, "no new object in the catalogue (QXACS_EXAMPLE_DIR)");
    return;
  }
  session.record.created = (uint64_t)time(nullptr);
  result = snapshot_write(session.created, session.record);
  r.say(result, "snapshot object %llu %s", (unsigned long long)session.created,
        result == DB2ACS_RC_OK ? "written" : "could not be recorded");
}

/* No data moves here: a restore succeeds when the object is there and was
 * taken of the database, instance and partition this session is about. */
void readSnapshot(ObjectId id, const ControlBlock *cb, Reply &r) {
  SnapshotRecord kept;
  int32_t result = snapshot_read(id, kept);
  if (result != DB2ACS_RC_OK) {
    r.say(result, "no snapshot object %llu", (unsigned long long)id);
    return;
  }
  const db2acs::SessionInfo &s = cb->session;
  bool same = strncmp(kept.object.db, s.db, sizeof s.db) == 0 &&
              strncmp(kept.object.instance, s.instance, sizeof s.instance) == 0 &&
              kept.object.dbPartitionNum == s.dbPartitionNum;
  // The object exists, but it is of another database, instance or
  // partition than this restore is about: it is outside what this session
  // may read. OBJ_NOT_FOUND would send DB2 looking for an object that is
  // there, and INV_ACTION would blame an action that is valid.
  if (!same) {
    r.say(DB2ACS_RC_OBJ_OUT_OF_SCOPE,
          "object %llu is a snapshot of %s/%s partition %d, not of %.*s/%.*s partition %d",
          (unsigned long long)id, kept.object.db, kept.object.instance, kept.object.dbPartitionNum,
          (int)sizeof s.db, s.db, (int)sizeof s.instance, s.instance, s.dbPartitionNum);
    return;
  }
  r.say(DB2ACS_RC_OK, "snapshot object %llu restored", (unsigned long long)id);
}

void snapshot(db2acs::SnapshotAction action, ObjectId id, ControlBlock *cb,
                               Reply &r) {
  if (!inSession(cb, r)) return;
  uint32_t kind = session.op & kOperationMask;
  if (session.phase != Phase::InOperation || session.inQuery || kind == DB2ACS_OP_DELETE) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "Snapshot outside a CREATE or READ operation");
  } else if (kind == DB2ACS_OP_CREATE) {
    if (action != DB2ACS_ACTION_WRITE) r.say(DB2ACS_RC_INV_ACTION, "a backup writes (action 0)");
    else writeSnapshot(r);
  } else if (action != DB2ACS_ACTION_READ_BY_OBJECT) {
    r.say(DB2ACS_RC_INV_ACTION, "reading by group is not supported");
  } else {
    readSnapshot(id, cb, r);
  }
}

void verify(db2acs::PostObjectInfo *post, ControlBlock *cb, Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_CREATE, "Verify", r)) return;
  if (!session.created) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "Verify before Snapshot");
    return;
  }
  if (!present(post, "post-object info", r)) return;
  session.record.post = *post;
  int32_t result = snapshot_write(session.created, session.record);
  r.say(result, "object %llu verified, first active log %u.%u",
        (unsigned long long)session.created, post->firstActiveLog.fileID,
        post->firstActiveLog.chainID);
}

void storeMetaData(db2acs::MetaData *meta, ControlBlock *cb, Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_CREATE, "StoreMetaData", r)) return;
  if (!session.created) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "StoreMetaData before Snapshot");
    return;
  }
  if (!present(meta, "metadata", r) || (meta->size && !present(meta->data, "metadata data", r)))
    return;
  int32_t result = object_write(session.created, meta->data, (size_t)meta->size);
  r.say(result, "%llu bytes of metadata %s with object %llu", (unsigned long long)meta->size,
        result == DB2ACS_RC_OK ? "kept" : "not kept", (unsigned long long)session.created);
}

void retrieveMetaData(db2acs::MetaData *meta, ObjectId id, ControlBlock *cb,
                                       Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_READ, "RetrieveMetaData", r)) return;
  if (!present(meta, "metadata", r) || !present(meta->data, "metadata buffer", r)) return;
  size_t size = 0;
  int32_t result = object_read(id, meta->data, (size_t)meta->size, &size);
  if (result == DB2ACS_RC_BUFF_SIZE) {
    r.say(result, "object %llu has %zu bytes of metadata, the buffer %llu",
          (unsigned long long)id, size, (unsigned long long)meta->size);
    return;
  }
  if (result == DB2ACS_RC_OK) meta->size = size;
  r.say(result, result == DB2ACS_RC_OK ? "%zu bytes of metadata of object %llu"
                                       : "no metadata (%zu) of object %llu",
        size, (unsigned long long)id);
}

void beginQuery(db2acs::QueryInput *query, ControlBlock *cb, Reply &r) {
  if (!inSession(cb, r)) return;
  if (session.phase != Phase::InOperation || session.inQuery) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "BeginQuery %s",
          session.inQuery ? "while a query is open" : "outside an operation");
    return;
  }
  if (!present(query, "query input", r)) return;
  int32_t result = storage_prepare();
  if (result != DB2ACS_RC_OK) {
    r.say(result, "the catalogue (QXACS_EXAMPLE_DIR) cannot be made");
    return;
  }
  session.query = *query;
  session.position = 0;
  session.inQuery = true;
  r.say(DB2ACS_RC_OK, "query open");
}

void nextObject(db2acs::QueryOutput *out, ControlBlock *cb, Reply &r) {
  if (!inSession(cb, r)) return;
  if (!session.inQuery) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "GetNextObject without BeginQuery");
    return;
  }
  if (!present(out, "query output", r)) return;
  for (;;) {
    ObjectId id = 0;
    int32_t result = object_at(session.position++, &id);
    if (result == DB2ACS_RC_END_OF_DATA) {
      r.say(result, "no more objects");
      return;
    }
    if (result != DB2ACS_RC_OK) {
      r.say(result, "the catalogue cannot be listed");
      return;
    }
    SnapshotRecord kept;
    uint64_t metaSize = 0;
    if (snapshot_read(id, kept) != DB2ACS_RC_OK || !matches(session.query, kept.object) ||
        object_size(id, &metaSize) != DB2ACS_RC_OK)
      continue;
    memset(out, 0, sizeof *out);
    out->objectID = id;
    out->object = kept.object;
    out->postInfo = kept.post;
    out->db2ID = cb->session.db2ID;
    out->status.bytesCompleted = out->status.bytesTotal = metaSize;
    out->objectSize = metaSize;
    out->metaDataSize = metaSize;
    out->createTime = kept.created;
    r.say(DB2ACS_RC_OK, "object %llu", (unsigned long long)id);
    return;
  }
}

void endQuery(ControlBlock *cb, Reply &r) {
  if (!inSession(cb, r)) return;
  if (!session.inQuery) {
    r.say(DB2ACS_RC_INV_CALL_SEQUENCE, "EndQuery without BeginQuery");
    return;
  }
  session.inQuery = false;
  r.say(DB2ACS_RC_OK, "query closed");
}

void deleteObject(ObjectId id, ControlBlock *cb, Reply &r) {
  if (!inOperation(cb, DB2ACS_OP_DELETE, "Delete", r)) return;
  int32_t result = object_remove(id);
  r.say(result, result == DB2ACS_RC_OK ? "object %llu deleted" : "object %llu not deleted",
        (unsigned long long)id);
}

}  // namespace

/* Each entry point: the work, the record, the journal line, the code. */
#define QXACS_FINISH(rc, reply, journal, ...)      \
  do {                                             \
    fill(rc, reply);                               \
    char line[QXACS_JOURNAL_LINE_MAX];             \
    journal(line, sizeof line, __VA_ARGS__, rc, (reply).code); \
    return finish(reply, line);                \
  } while (0)

QXACS_EXPORT int32_t db2ACSInitializepp(ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  if (present(cb, "control block", r)) {
    // A new Initialize opens a new session; whatever the old one left
    // unfinished is abandoned.
    if (session.phase == Phase::InOperation) abandonBackup();
    session = Session{};
    int32_t prepared = storage_prepare();
    if (prepared != DB2ACS_RC_OK) {
      r.say(DB2ACS_RC_INIT_FAILED, "the catalogue (QXACS_EXAMPLE_DIR) cannot be made");
    } else {
      session.phase = Phase::Open;
      session.cb = cb;
      session.handle = kHandleBase + ++sessionsOpened;
      cb->handle = session.handle;
      cb->vendorInfo.vendorCB = &session;
      cb->vendorInfo.version = 1;
      snprintf(cb->vendorInfo.signature, sizeof cb->vendorInfo.signature, "qxacs example");
      r.say(DB2ACS_RC_OK, "session %u for database %.*s", session.handle,
            (int)sizeof cb->session.db, cb->session.db);
    }
  }
  QXACS_FINISH(rc, r, qxacs_journal_initialize, cb);
}

QXACS_EXPORT int32_t db2ACSTerminatepp(ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  if (inSession(cb, r)) {
    // Terminate may come at any point of a session: DB2 ends a failed
    // operation this way too.
    if (session.phase == Phase::InOperation) abandonBackup();
    r.say(DB2ACS_RC_OK, "session %u closed", session.handle);
    session.phase = Phase::Closed;
  }
  QXACS_FINISH(rc, r, qxacs_journal_terminate, cb);
}

QXACS_EXPORT int32_t db2ACSBeginOperationpp(db2acs::Operation op, ControlBlock *cb,
                                            ReturnCode *rc) {
  Reply r;
  beginOperation(op, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_begin_operation, op, cb);
}

QXACS_EXPORT int32_t db2ACSEndOperationpp(db2acs::EndAction end, ControlBlock *cb,
                                          ReturnCode *rc) {
  Reply r;
  endOperation(end, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_end_operation, end, cb);
}

QXACS_EXPORT int32_t db2ACSPreparepp(db2acs::GroupList *groups, ControlBlock *cb,
                                     ReturnCode *rc) {
  Reply r;
  prepare(groups, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_prepare, groups, cb);
}

QXACS_EXPORT int32_t db2ACSPartitionpp(db2acs::PathList *paths, db2acs::CreateObjectInfo *create,
                                       ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  partition(paths, create, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_partition, paths, create, cb);
}

QXACS_EXPORT int32_t db2ACSBeginQuerypp(db2acs::QueryInput *query, ControlBlock *cb,
                                        ReturnCode *rc) {
  Reply r;
  beginQuery(query, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_begin_query, query, cb);
}

QXACS_EXPORT int32_t db2ACSGetNextObjectpp(db2acs::QueryOutput *out, ControlBlock *cb,
                                           ReturnCode *rc) {
  Reply r;
  nextObject(out, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_get_next_object, out, cb);
}

QXACS_EXPORT int32_t db2ACSEndQuerypp(ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  endQuery(cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_end_query, cb);
}

QXACS_EXPORT int32_t db2ACSSnapshotpp(db2acs::SnapshotAction action, ObjectId id,
                                      db2acs::ReadList *read, ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  snapshot(action, id, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_snapshot, action, id, read, cb);
}

QXACS_EXPORT int32_t db2ACSVerifypp(db2acs::PostObjectInfo *post, ControlBlock *cb,
                                    ReturnCode *rc) {
  Reply r;
  verify(post, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_verify, post, cb);
}

QXACS_EXPORT int32_t db2ACSDeletepp(ObjectId id, ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  deleteObject(id, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_delete, id, cb);
}

QXACS_EXPORT int32_t db2ACSStoreMetaDatapp(db2acs::MetaData *meta, ControlBlock *cb,
                                           ReturnCode *rc) {
  Reply r;
  storeMetaData(meta, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_store_metadata, meta, cb);
}

QXACS_EXPORT int32_t db2ACSRetrieveMetaDatapp(db2acs::MetaData *meta, ObjectId id,
                                              ControlBlock *cb, ReturnCode *rc) {
  Reply r;
  retrieveMetaData(meta, id, cb, r);
  QXACS_FINISH(rc, r, qxacs_journal_retrieve_metadata, meta, id, cb);
}
