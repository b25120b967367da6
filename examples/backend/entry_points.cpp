/* The fourteen entry points of the example back end. Each checks its
 * arguments, does its small piece of catalogue work, stores the result in
 * the record's first field, journals the call and returns the result.
 *
 * A test build can leave out one entry point with -DQXACS_OMIT_<symbol>
 * (see BackendVariants.cmake), to exercise a front end that meets a back
 * end lacking a symbol. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "qxacs_example.h"
#include "qxacs_journal.h"
#include "storage.h"

#define QXACS_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef QXACS_CALL_UNDEFINED
/* Defined nowhere: the variant that calls it (BackendVariants.cmake,
 * UNDEFINED_CALL) loads only with lazy binding. */
extern "C" int32_t qxacs_defined_nowhere(void);
#endif

/* The one field of DB2's return-code record this back end touches. */
struct AcsRecord {
  int32_t returnCode;
};

namespace {

template <typename T>
T *of_kind(void *p, uint32_t magic) {
  return static_cast<T *>(const_cast<void *>(qxacs_struct_of_kind(p, magic)));
}

qxacs_operation *as_operation(void *p) {
  return of_kind<qxacs_operation>(p, QXACS_OPERATION_MAGIC);
}
qxacs_partition *as_partition(void *p) {
  return of_kind<qxacs_partition>(p, QXACS_PARTITION_MAGIC);
}
qxacs_object *as_object(void *p) { return of_kind<qxacs_object>(p, QXACS_OBJECT_MAGIC); }
qxacs_query *as_query(void *p) { return of_kind<qxacs_query>(p, QXACS_QUERY_MAGIC); }

/* An id field copied out with a terminator, since the host's field need
 * not carry one. */
struct IdText {
  char text[QXACS_ID_MAX + 1];
};

IdText id_of(const char (&field)[QXACS_ID_MAX]) {
  IdText id;
  memcpy(id.text, field, QXACS_ID_MAX);
  id.text[QXACS_ID_MAX] = '\0';
  return id;
}

/* Stores, journals and returns the result of one call. */
int32_t finish(AcsRecord *rc, int32_t result, const char *line) {
  if (rc) rc->returnCode = result;
  journal_append(line);
  return result;
}

/* What a snapshot is taken of, in words: the partition it was given. */
struct SnapshotText {
  char text[QXACS_HOST_MAX + 64];
};

[[maybe_unused]] SnapshotText snapshot_text(const qxacs_partition *part) {
  SnapshotText out;
  char host[QXACS_HOST_MAX + 1];
  memcpy(host, part->host, QXACS_HOST_MAX);
  host[QXACS_HOST_MAX] = '\0';
  snprintf(out.text, sizeof out.text, "snapshot of partition %u on %s\n", part->number, host);
  return out;
}

[[maybe_unused]] int32_t new_backup(const qxacs_partition *part, qxacs_object *obj) {
  SnapshotText what = snapshot_text(part);
  int32_t result = object_create(what.text, obj->id, sizeof obj->id);
  return result == QXACS_OK ? snapshot_record(obj->id, what.text) : result;
}

/* No data moves here: a restore succeeds when the object is there and
 * asks for the partition its backup was given. */
[[maybe_unused]] int32_t restore(const qxacs_partition *part, qxacs_object *obj) {
  IdText id = id_of(obj->id);
  int32_t result = object_check(id.text);
  return result == QXACS_OK ? snapshot_matches(id.text, snapshot_text(part).text) : result;
}

[[maybe_unused]] int32_t snapshot(uint32_t action, const qxacs_partition *part, qxacs_object *obj) {
  if (action == QXACS_ACTION_BACKUP) return new_backup(part, obj);
  if (action == QXACS_ACTION_RESTORE) return restore(part, obj);
  return QXACS_ERR_ARGUMENT;
}

[[maybe_unused]] int32_t retrieve(qxacs_object *obj) {
  size_t size = 0;
  int32_t result = object_read(id_of(obj->id).text, obj->metadata, sizeof obj->metadata, &size);
  if (result == QXACS_OK) obj->metadata_size = (uint32_t)size;
  return result;
}

[[maybe_unused]] int32_t next_object(qxacs_query *query, qxacs_object *obj) {
  char id[QXACS_ID_MAX];
  int32_t result = object_at(id_of(query->id).text, query->position, id, sizeof id);
  if (result != QXACS_OK) return result;
  qxacs_copy_text(obj->id, sizeof obj->id, id);
  obj->metadata_size = 0; /* RetrieveMetaData fetches the metadata */
  ++query->position;
  return QXACS_OK;
}

}  // namespace

#ifndef QXACS_OMIT_db2ACSInitializepp
QXACS_EXPORT int32_t db2ACSInitializepp(void *cb, AcsRecord *rc) {
  int32_t result = (cb && rc) ? storage_prepare() : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_initialize(line, sizeof line, cb, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSTerminatepp
QXACS_EXPORT int32_t db2ACSTerminatepp(void *op, AcsRecord *rc) {
  int32_t result = (as_operation(op) && rc) ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_terminate(line, sizeof line, op, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSBeginOperationpp
QXACS_EXPORT int32_t db2ACSBeginOperationpp(uint32_t code, void *op, AcsRecord *rc) {
  bool known = code >= QXACS_OP_BACKUP && code <= QXACS_OP_QUERY;
  int32_t result = (known && as_operation(op) && rc) ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_begin_operation(line, sizeof line, code, op, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSEndOperationpp
QXACS_EXPORT int32_t db2ACSEndOperationpp(uint32_t end, void *op, AcsRecord *rc) {
  bool known = end == QXACS_END_COMMIT || end == QXACS_END_ABORT;
  int32_t result = (known && as_operation(op) && rc) ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_end_operation(line, sizeof line, end, op, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSPreparepp
QXACS_EXPORT int32_t db2ACSPreparepp(void *op, void *obj, AcsRecord *rc) {
  int32_t result = (as_operation(op) && as_object(obj) && rc) ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_prepare(line, sizeof line, op, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSPartitionpp
QXACS_EXPORT int32_t db2ACSPartitionpp(void *op, void *part, void *obj, AcsRecord *rc) {
  bool valid = as_operation(op) && as_partition(part) && as_object(obj) && rc;
  int32_t result = valid ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_partition(line, sizeof line, op, part, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSBeginQuerypp
QXACS_EXPORT int32_t db2ACSBeginQuerypp(void *op, void *query, AcsRecord *rc) {
  qxacs_query *q = as_query(query);
  int32_t result = QXACS_ERR_ARGUMENT;
  if (as_operation(op) && q && rc) {
    q->position = 0;
    result = storage_prepare();
  }
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_begin_query(line, sizeof line, op, query, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSGetNextObjectpp
QXACS_EXPORT int32_t db2ACSGetNextObjectpp(void *query, void *obj, AcsRecord *rc) {
  qxacs_query *q = as_query(query);
  qxacs_object *o = as_object(obj);
  int32_t result = (q && o && rc) ? next_object(q, o) : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_get_next_object(line, sizeof line, query, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSEndQuerypp
QXACS_EXPORT int32_t db2ACSEndQuerypp(void *query, AcsRecord *rc) {
  int32_t result = (as_query(query) && rc) ? QXACS_OK : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_end_query(line, sizeof line, query, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSSnapshotpp
QXACS_EXPORT int32_t db2ACSSnapshotpp(uint32_t action, void *op, void *part, void *obj,
                                      AcsRecord *rc) {
  qxacs_partition *p = as_partition(part);
  qxacs_object *o = as_object(obj);
  bool valid = as_operation(op) && p && o && rc;
  int32_t result = valid ? snapshot(action, p, o) : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_snapshot(line, sizeof line, action, op, part, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSVerifypp
QXACS_EXPORT int32_t db2ACSVerifypp(void *op, void *obj, AcsRecord *rc) {
#ifdef QXACS_CALL_UNDEFINED
  if (rc) return qxacs_defined_nowhere();
#endif
  qxacs_object *o = as_object(obj);
  int32_t result =
      (as_operation(op) && o && rc) ? object_check(id_of(o->id).text) : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_verify(line, sizeof line, op, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSDeletepp
QXACS_EXPORT int32_t db2ACSDeletepp(void *op, void *obj, AcsRecord *rc) {
  qxacs_object *o = as_object(obj);
  int32_t result =
      (as_operation(op) && o && rc) ? object_remove(id_of(o->id).text) : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_delete(line, sizeof line, op, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSStoreMetaDatapp
QXACS_EXPORT int32_t db2ACSStoreMetaDatapp(void *op, void *obj, AcsRecord *rc) {
  qxacs_object *o = as_object(obj);
  int32_t result = QXACS_ERR_ARGUMENT;
  if (as_operation(op) && o && rc && o->metadata_size <= sizeof o->metadata)
    result = object_write(id_of(o->id).text, o->metadata, o->metadata_size);
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_store_metadata(line, sizeof line, op, obj, rc, result);
  return finish(rc, result, line);
}
#endif

#ifndef QXACS_OMIT_db2ACSRetrieveMetaDatapp
QXACS_EXPORT int32_t db2ACSRetrieveMetaDatapp(void *op, void *part, void *obj, AcsRecord *rc) {
  qxacs_object *o = as_object(obj);
  bool valid = as_operation(op) && as_partition(part) && o && rc;
  int32_t result = valid ? retrieve(o) : QXACS_ERR_ARGUMENT;
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_retrieve_metadata(line, sizeof line, op, part, obj, rc, result);
  return finish(rc, result, line);
}
#endif
