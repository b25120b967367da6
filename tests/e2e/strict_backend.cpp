// A strict back end, built as its own libqxacsint.so for the tests: it
// knows nothing but DB2's published protocol and checks every argument it
// gets against it. Any deviation fails the call loudly: a published code,
// reason 9000 + the check's number and "strict: <what>" in the record.
// It keeps its objects in $QXACS_EXAMPLE_DIR/strict: <id>.meta holds the
// metadata stored with object <id>.
#include <dirent.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "db2acs_protocol.h"

#define STRICT_EXPORT extern "C" __attribute__((visibility("default")))

using namespace db2acs;

// The offsets this back end reads, checked against the published facts
// by hand rather than by the shared declarations' own asserts.
static_assert(offsetof(ControlBlock, session) == 96, "session after the vendor info");
static_assert(offsetof(ReturnCode, description) == 8, "description after two ints");
static_assert(offsetof(ObjectInfo, details) == 532, "object details");
static_assert(offsetof(PathEntry, groupID) == 1036, "groupID ends the path entry");

namespace {

constexpr uint32_t kHandle = 0x53545231u;
constexpr uint32_t kGroup = 7;

struct State {
  const ControlBlock *cb = nullptr;
  bool open = false;
  Operation op = 0;
  bool inOperation = false, inQuery = false, listingEnded = false;
  bool partitioned = false, prepared = false, written = false;
  ObjectId created = 0;
  std::vector<ObjectId> listed;
  size_t next = 0;
} s;

struct Verdict {
  int32_t code = DB2ACS_RC_OK;
  int reason = 0;
  char text[512] = "";
  // Records the first deviation; returns whether the call may go on.
  bool check(bool ok, int32_t failCode, int number, const char *format, ...)
      __attribute__((format(printf, 5, 6)));
  bool ok() const { return code == DB2ACS_RC_OK; }
};

bool Verdict::check(bool good, int32_t failCode, int number, const char *format, ...) {
  if (good || !ok()) return ok();
  code = failCode;
  reason = 9000 + number;
  int n = snprintf(text, sizeof text, "strict: ");
  va_list args;
  va_start(args, format);
  vsnprintf(text + n, sizeof text - (size_t)n, format, args);
  va_end(args);
  return false;
}

int32_t answer(ReturnCode *rc, const Verdict &v) {
  if (!rc) return DB2ACS_RC_INV_ACTION;
  memset(rc, 0, sizeof *rc);
  rc->returnCode = v.code;
  rc->reasonCode = v.reason;
  snprintf(rc->description, sizeof rc->description, "%s", v.text[0] ? v.text : "strict: ok");
  return v.code;
}

template <size_t N>
bool text(const char (&field)[N]) {
  size_t len = strnlen(field, N);
  return len > 0 && len < N;
}

std::string dir() {
  const char *d = getenv("QXACS_EXAMPLE_DIR");
  std::string path = std::string(d && *d ? d : ".") + "/strict";
  mkdir(std::string(d && *d ? d : ".").c_str(), 0755);
  mkdir(path.c_str(), 0755);
  return path;
}

std::string metaPath(ObjectId id) { return dir() + "/" + std::to_string(id) + ".meta"; }

std::vector<ObjectId> objects() {
  std::vector<ObjectId> ids;
  DIR *d = opendir(dir().c_str());
  while (dirent *e = d ? readdir(d) : nullptr) {
    unsigned long long id = 0;
    char tail[8] = "";
    if (sscanf(e->d_name, "%llu.%7s", &id, tail) == 2 && !strcmp(tail, "meta")) ids.push_back(id);
  }
  if (d) closedir(d);
  return ids;
}

bool listed(ObjectId id) {
  for (ObjectId l : s.listed)
    if (l == id) return true;
  return false;
}

// Every call after Initialize: the session's block, its handle, and the
// operation info DB2 attached.
bool session(const ControlBlock *cb, Verdict &v) {
  if (!v.check(s.open, DB2ACS_RC_INV_CALL_SEQUENCE, 1, "no session open")) return false;
  if (!v.check(cb == s.cb, DB2ACS_RC_INV_DEV_HANDLE, 2, "a control block other than Initialize's"))
    return false;
  if (!v.check(cb->handle == kHandle, DB2ACS_RC_INV_DEV_HANDLE, 3, "handle %u, not the one set", cb->handle))
    return false;
  if (!s.inOperation) return true;
  const OperationInfo *o = cb->operation;
  v.check(o && o->partitions && o->partitions->entries, DB2ACS_RC_INV_OPTIONS, 4, "no operation info with a partition list");
  if (!v.ok()) return false;
  const PartitionList &p = *o->partitions;
  v.check(p.numPartsInDB >= 1 && p.numPartsInOper >= 1 && p.numPartsInOper <= p.numPartsInDB,
          DB2ACS_RC_INV_OPTIONS, 5, "partition counts %llu of %llu", (unsigned long long)p.numPartsInOper,
          (unsigned long long)p.numPartsInDB);
  v.check(p.entries[0].num == cb->session.dbPartitionNum && text(p.entries[0].host),
          DB2ACS_RC_INV_OPTIONS, 6, "partition entry is not the session's partition");
  v.check(o->syncMode >= DB2ACS_SYNC_NONE && o->syncMode <= DB2ACS_SYNC_PARALLEL,
          DB2ACS_RC_INV_OPTIONS, 7, "sync mode %d", o->syncMode);
  return v.ok();
}

bool inOperation(const ControlBlock *cb, uint32_t kind, Verdict &v) {
  if (!session(cb, v)) return false;
  return v.check(s.inOperation && (s.op & 0xF0000000u) == kind && !s.inQuery,
                 DB2ACS_RC_INV_CALL_SEQUENCE, 8, "call outside its operation (0x%08x)", s.op);
}

}  // namespace

STRICT_EXPORT int32_t db2ACSInitializepp(ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (v.check(cb != nullptr, DB2ACS_RC_INV_ACTION, 10, "no control block")) {
    const SessionInfo &ss = cb->session;
    v.check(!s.open, DB2ACS_RC_INV_CALL_SEQUENCE, 11, "Initialize twice");
    v.check(cb->handle == 0, DB2ACS_RC_INV_DEV_HANDLE, 12, "a handle before Initialize set one");
    v.check(text(ss.db) && text(ss.instance) && text(ss.host) && text(ss.user),
            DB2ACS_RC_INV_OPTIONS, 13, "session names no database, instance, host or user");
    v.check(ss.db2ID.version > 0 && text(ss.db2ID.signature), DB2ACS_RC_INV_OPTIONS, 14, "no DB2 id");
    v.check(strnlen(ss.libraryName, kPathLen) < kPathLen && strnlen(ss.password, kPasswordLen) < kPasswordLen,
            DB2ACS_RC_INV_OPTIONS, 15, "unterminated session field");
    if (v.ok()) {
      s = State{};
      s.cb = cb;
      s.open = true;
      cb->handle = kHandle;
    }
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSTerminatepp(ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v)) {
    v.check(!s.inOperation, DB2ACS_RC_INV_CALL_SEQUENCE, 20, "Terminate inside an operation");
    s.open = false;
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSBeginOperationpp(Operation op, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v) &&
      v.check(!s.inOperation, DB2ACS_RC_INV_CALL_SEQUENCE, 21, "BeginOperation twice") &&
      v.check(op == (DB2ACS_OP_CREATE | DB2ACS_OBJTYPE_SNAPSHOT) ||
                  op == (DB2ACS_OP_READ | DB2ACS_OBJTYPE_SNAPSHOT) ||
                  op == (DB2ACS_OP_DELETE | DB2ACS_OBJTYPE_SNAPSHOT),
              DB2ACS_RC_INV_ACTION, 22, "operation 0x%08x is no snapshot operation", op)) {
    s.op = op;
    s.inOperation = true;
    s.partitioned = s.prepared = s.written = false;
    s.listed.clear();
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSEndOperationpp(EndAction end, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v) && v.check(s.inOperation && !s.inQuery, DB2ACS_RC_INV_CALL_SEQUENCE, 23, "no operation to end") &&
      v.check(end == DB2ACS_END_COMMIT || end == DB2ACS_END_ABORT, DB2ACS_RC_INV_ACTION, 24, "end action %u", end)) {
    if ((s.op & 0xF0000000u) == DB2ACS_OP_CREATE && end == DB2ACS_END_COMMIT)
      v.check(s.written && s.created, DB2ACS_RC_COMMIT_FAILED, 25, "COMMIT of a backup that stored no metadata");
    s.inOperation = false;
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSPartitionpp(PathList *paths, CreateObjectInfo *create, ControlBlock *cb,
                                        ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_CREATE, v) && v.check(!s.partitioned, DB2ACS_RC_INV_CALL_SEQUENCE, 30, "Partition twice") &&
      v.check(paths && create && paths->numEntries > 0 && paths->entries, DB2ACS_RC_INV_OPTIONS, 31, "no path list or create info")) {
    for (uint32_t i = 0; i < paths->numEntries && v.ok(); ++i) {
      PathEntry &e = paths->entries[i];
      struct stat st;
      v.check(text(e.path) && e.path[0] == '/' && stat(e.path, &st) == 0 && S_ISDIR(st.st_mode),
              DB2ACS_RC_INV_OPTIONS, 32, "path %u is no absolute directory", i);
      e.groupID = kGroup;
    }
    const ObjectInfo &o = create->object;
    const char *image = o.details.snapshot.imageTimestamp;
    v.check(o.type == DB2ACS_OBJTYPE_SNAPSHOT && o.dbPartitionNum == cb->session.dbPartitionNum &&
                !strncmp(o.db, cb->session.db, kDbNameLen) && text(o.owner),
            DB2ACS_RC_INV_OPTIONS, 33, "create-object info is not a snapshot of this session's database");
    v.check(strnlen(image, kTimestampLen) == 14 && strspn(image, "0123456789") == 14,
            DB2ACS_RC_INV_OPTIONS, 34, "image timestamp is not YYYYMMDDhhmmss");
    s.partitioned = v.ok();
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSPreparepp(GroupList *groups, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_CREATE, v) &&
      v.check(s.partitioned && !s.prepared, DB2ACS_RC_INV_CALL_SEQUENCE, 40, "Prepare out of order") &&
      v.check(groups && groups->numGroupIDs == 1 && groups->id && groups->id[0] == kGroup,
              DB2ACS_RC_INV_OPTIONS, 41, "group list is not the group Partition handed out"))
    s.prepared = true;
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSSnapshotpp(SnapshotAction action, ObjectId id, ReadList *read,
                                       ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (!session(cb, v) || !v.check(s.inOperation && !s.inQuery, DB2ACS_RC_INV_CALL_SEQUENCE, 50, "Snapshot outside an operation") ||
      !v.check(read != nullptr, DB2ACS_RC_INV_OPTIONS, 51, "no read list"))
    return answer(rc, v);
  if ((s.op & 0xF0000000u) == DB2ACS_OP_CREATE) {
    if (v.check(s.prepared && !s.written, DB2ACS_RC_INV_CALL_SEQUENCE, 52, "Snapshot before Prepare") &&
        v.check(action == DB2ACS_ACTION_WRITE && id == 0, DB2ACS_RC_INV_ACTION, 53, "a backup writes a new object"))
      s.written = true;
  } else {
    v.check((s.op & 0xF0000000u) == DB2ACS_OP_READ && action == DB2ACS_ACTION_READ_BY_OBJECT,
            DB2ACS_RC_INV_ACTION, 54, "a restore reads by object");
    v.check(listed(id), DB2ACS_RC_INV_OPTIONS, 55, "object %llu was not listed", (unsigned long long)id);
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSVerifypp(PostObjectInfo *post, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_CREATE, v))
    v.check(s.written && post != nullptr, DB2ACS_RC_INV_CALL_SEQUENCE, 60, "Verify before Snapshot, or no post info");
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSStoreMetaDatapp(MetaData *meta, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_CREATE, v) &&
      v.check(s.written && !s.created, DB2ACS_RC_INV_CALL_SEQUENCE, 70, "StoreMetaData out of order") &&
      v.check(meta && meta->size > 0 && meta->data, DB2ACS_RC_INV_OPTIONS, 71, "no metadata")) {
    ObjectId id = 1;
    for (ObjectId known : objects()) id = known >= id ? known + 1 : id;
    FILE *f = fopen(metaPath(id).c_str(), "wb");
    bool stored = f && fwrite(meta->data, 1, (size_t)meta->size, f) == meta->size;
    if (f) fclose(f);
    if (v.check(stored, DB2ACS_RC_IO_ERROR, 72, "metadata not stored")) s.created = id;
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSBeginQuerypp(QueryInput *q, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v) && v.check(s.inOperation && !s.inQuery, DB2ACS_RC_INV_CALL_SEQUENCE, 80, "BeginQuery out of order") &&
      v.check(q != nullptr, DB2ACS_RC_INV_OPTIONS, 81, "no query input") &&
      v.check(q->type == DB2ACS_OBJTYPE_SNAPSHOT && q->dbPartitionNum == kAnyPartition &&
                  !strcmp(q->host, kAnyText) && !strcmp(q->owner, kAnyText) &&
                  !strcmp(q->details.snapshot.imageTimestamp, kAnyText) &&
                  !strncmp(q->db, cb->session.db, kDbNameLen),
              DB2ACS_RC_INV_OPTIONS, 82, "query input is not every snapshot of this database")) {
    s.inQuery = true;
    s.listingEnded = false;
    s.next = 0;
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSGetNextObjectpp(QueryOutput *out, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v) && v.check(s.inQuery, DB2ACS_RC_INV_CALL_SEQUENCE, 90, "GetNextObject outside a query") &&
      v.check(!s.listingEnded, DB2ACS_RC_INV_CALL_SEQUENCE, 91, "GetNextObject after END_OF_DATA") &&
      v.check(out != nullptr, DB2ACS_RC_INV_OPTIONS, 92, "no query output")) {
    std::vector<ObjectId> ids = objects();
    if (s.next >= ids.size()) {
      s.listingEnded = true;
      v.code = DB2ACS_RC_END_OF_DATA;
      snprintf(v.text, sizeof v.text, "strict: end of the listing");
    } else {
      ObjectId id = ids[s.next++];
      struct stat st;
      stat(metaPath(id).c_str(), &st);
      memset(out, 0, sizeof *out);
      out->objectID = id;
      out->object.type = DB2ACS_OBJTYPE_SNAPSHOT;
      out->object.dbPartitionNum = cb->session.dbPartitionNum;
      memcpy(out->object.db, cb->session.db, kDbNameLen);
      memcpy(out->object.instance, cb->session.instance, kInstanceLen);
      // The image is the one named in the stored metadata's last word.
      FILE *f = fopen(metaPath(id).c_str(), "rb");
      char kept[1024] = "";
      size_t n = f ? fread(kept, 1, sizeof kept - 1, f) : 0;
      if (f) fclose(f);
      kept[n] = '\0';
      const char *image = strstr(kept, "image ");
      if (image) snprintf(out->object.details.snapshot.imageTimestamp, kTimestampLen, "%.14s", image + 6);
      out->metaDataSize = out->objectSize = (uint64_t)st.st_size;
      s.listed.push_back(id);
    }
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSEndQuerypp(ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (session(cb, v) && v.check(s.inQuery, DB2ACS_RC_INV_CALL_SEQUENCE, 100, "EndQuery without a query"))
    s.inQuery = false;
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSRetrieveMetaDatapp(MetaData *meta, ObjectId id, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_READ, v) &&
      v.check(listed(id), DB2ACS_RC_INV_OPTIONS, 110, "object %llu was not listed", (unsigned long long)id) &&
      v.check(meta && meta->data, DB2ACS_RC_INV_OPTIONS, 111, "no metadata buffer")) {
    FILE *f = fopen(metaPath(id).c_str(), "rb");
    std::vector<char> kept(65536);
    size_t n = f ? fread(kept.data(), 1, kept.size(), f) : 0;
    if (f) fclose(f);
    if (v.check(n <= meta->size, DB2ACS_RC_BUFF_SIZE, 112, "buffer of %llu for %zu bytes",
                (unsigned long long)meta->size, n)) {
      memcpy(meta->data, kept.data(), n);
      meta->size = n;
    }
  }
  return answer(rc, v);
}

STRICT_EXPORT int32_t db2ACSDeletepp(ObjectId id, ControlBlock *cb, ReturnCode *rc) {
  Verdict v;
  if (inOperation(cb, DB2ACS_OP_DELETE, v) &&
      v.check(remove(metaPath(id).c_str()) == 0, DB2ACS_RC_OBJ_NOT_FOUND, 120, "no object %llu",
              (unsigned long long)id)) {
  }
  return answer(rc, v);
}
