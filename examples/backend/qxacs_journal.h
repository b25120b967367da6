/* The example back end's journal line, one per call, in
 * <dir>/journal.log. The same formatter is used by the back end (after it
 * handled a call) and by a host that wants to write down what it passed
 * (acs-host --args-log), so the two files can be compared line by line to
 * prove that arguments arrived unchanged. Each formatter takes the call's
 * own arguments, in the call's order.
 *
 *   <symbol> <key>=<value> ... cb=<block> handle=<n> rc=<record> result=<code>
 *
 * Keys per symbol, before the common tail:
 *   db2ACSInitializepp       db instance host user optsize options vm
 *   db2ACSTerminatepp        -
 *   db2ACSBeginOperationpp   op
 *   db2ACSEndOperationpp     end
 *   db2ACSBeginQuerypp       query query.type query.part query.db query.host query.image
 *   db2ACSGetNextObjectpp    out out.id out.image out.meta
 *   db2ACSEndQuerypp         -
 *   db2ACSPartitionpp        paths paths.n paths.groups create create.image
 *   db2ACSPreparepp          groups groups.n groups.ids
 *   db2ACSSnapshotpp         action object read read.n
 *   db2ACSVerifypp           post post.log
 *   db2ACSDeletepp           object
 *   db2ACSStoreMetaDatapp    meta meta.size
 *   db2ACSRetrieveMetaDatapp meta meta.size object
 *
 * Values: a pointer is 0x<lowercase hex> (0x0 when null); a number is
 * decimal; op and end are DB2's names (CREATE|SNAPSHOT, COMMIT), or hex
 * for a value that has none; a text field has every byte outside '!'..'~'
 * shown as '?', is cut at 64 characters and is "-" when empty. A field
 * read through a null pointer is "!"; vm is "!" when the control block
 * carries no 344-byte vendor-options record. Fields are read after the
 * call (so out.id shows the object a query returned). result is the code
 * the call returned. */
#ifndef QXACS_JOURNAL_H
#define QXACS_JOURNAL_H

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "db2acs_protocol.h"

/* Room for the longest line (a dozen fields of 64 characters at most). */
#define QXACS_JOURNAL_LINE_MAX 1024

/* The vendor-options record (Db2VendorOptions_t) the control block may
 * point at, and its vmName field. */
#define QXACS_VENDOR_OPTIONS_SIZE 344u
#define QXACS_VO_VM_NAME_OFFSET 95
#define QXACS_VO_VM_NAME_WIDTH 18

struct qxacs_line {
  char *text;
  size_t size;
  size_t used;
};

inline void qxacs_line_add(qxacs_line *line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

inline void qxacs_line_add(qxacs_line *line, const char *format, ...) {
  if (line->used >= line->size) return;
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line->text + line->used, line->size - line->used, format, args);
  va_end(args);
  if (n < 0) return;
  line->used += (size_t)n;
  if (line->used >= line->size) line->used = line->size - 1; /* cut, still terminated */
}

inline void qxacs_line_pointer(qxacs_line *line, const char *key, const void *p) {
  qxacs_line_add(line, " %s=0x%" PRIxPTR, key, (uintptr_t)p);
}

inline void qxacs_line_number(qxacs_line *line, const char *key, uint64_t value) {
  qxacs_line_add(line, " %s=%" PRIu64, key, value);
}

inline void qxacs_line_signed(qxacs_line *line, const char *key, int64_t value) {
  qxacs_line_add(line, " %s=%" PRId64, key, value);
}

inline void qxacs_line_unreadable(qxacs_line *line, const char *key) {
  qxacs_line_add(line, " %s=!", key);
}

/* A text field of at most width bytes; printable so one call stays one
 * whitespace-separated line. */
inline void qxacs_line_text(qxacs_line *line, const char *key, const char *text,
                                   size_t width) {
  char shown[65];
  size_t len = strnlen(text, width < sizeof shown ? width : sizeof shown - 1);
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = (unsigned char)text[i];
    shown[i] = (c >= '!' && c <= '~') ? (char)c : '?';
  }
  shown[len] = '\0';
  qxacs_line_add(line, " %s=%s", key, len ? shown : "-");
}

#define QXACS_LINE_FIELD(line, key, record, field) \
  qxacs_line_text(line, key, (record)->field, sizeof (record)->field)

inline void qxacs_line_name(qxacs_line *line, const char *key, const char *name,
                                   uint32_t value) {
  if (name) qxacs_line_add(line, " %s=%s", key, name);
  else qxacs_line_add(line, " %s=0x%" PRIx32, key, value);
}

/* The ids of a group list, comma-separated ("-" for none), or "!". */
inline void qxacs_line_ids(qxacs_line *line, const char *key, const uint32_t *ids,
                                  uint32_t count) {
  if (count && !ids) return qxacs_line_unreadable(line, key);
  qxacs_line_add(line, " %s=", key);
  if (!count) qxacs_line_add(line, "-");
  for (uint32_t i = 0; i < count && i < 16; ++i)
    qxacs_line_add(line, "%s%" PRIu32, i ? "," : "", ids[i]);
}

inline qxacs_line qxacs_line_begin(char *text, size_t size, const char *symbol) {
  qxacs_line line = {text, size, 0};
  text[0] = '\0';
  qxacs_line_add(&line, "%s", symbol);
  return line;
}

/* The common tail: the control block, its handle, the record, the result. */
inline void qxacs_line_end(qxacs_line *line, const db2acs::ControlBlock *cb,
                                  const void *rc, int32_t result) {
  qxacs_line_pointer(line, "cb", cb);
  if (cb) qxacs_line_number(line, "handle", cb->handle);
  else qxacs_line_unreadable(line, "handle");
  qxacs_line_pointer(line, "rc", rc);
  qxacs_line_add(line, " result=%" PRId32, result);
}

/* One formatter per entry point: both sides call these, so the line for a
 * call is defined in exactly one place. */

inline void qxacs_journal_initialize(char *text, size_t size,
                                            const db2acs::ControlBlock *cb, const void *rc,
                                            int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSInitializepp");
  if (cb) {
    const db2acs::SessionInfo *s = &cb->session;
    QXACS_LINE_FIELD(&line, "db", s, db);
    QXACS_LINE_FIELD(&line, "instance", s, instance);
    QXACS_LINE_FIELD(&line, "host", s, host);
    QXACS_LINE_FIELD(&line, "user", s, user);
    qxacs_line_number(&line, "optsize", cb->options.size);
    qxacs_line_pointer(&line, "options", cb->options.data);
    if (cb->options.size == QXACS_VENDOR_OPTIONS_SIZE && cb->options.data)
      qxacs_line_text(&line, "vm", (const char *)cb->options.data + QXACS_VO_VM_NAME_OFFSET,
                      QXACS_VO_VM_NAME_WIDTH);
    else
      qxacs_line_unreadable(&line, "vm");
  } else {
    for (const char *key : {"db", "instance", "host", "user", "optsize", "options", "vm"})
      qxacs_line_unreadable(&line, key);
  }
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_terminate(char *text, size_t size,
                                           const db2acs::ControlBlock *cb, const void *rc,
                                           int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSTerminatepp");
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_begin_operation(char *text, size_t size, db2acs::Operation op,
                                                 const db2acs::ControlBlock *cb,
                                                 const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSBeginOperationpp");
  qxacs_line_name(&line, "op", db2acs::operationName(op), op);
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_end_operation(char *text, size_t size, db2acs::EndAction end,
                                               const db2acs::ControlBlock *cb, const void *rc,
                                               int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSEndOperationpp");
  qxacs_line_name(&line, "end", db2acs::endActionName(end), end);
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_begin_query(char *text, size_t size,
                                             const db2acs::QueryInput *query,
                                             const db2acs::ControlBlock *cb, const void *rc,
                                             int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSBeginQuerypp");
  qxacs_line_pointer(&line, "query", query);
  if (query) {
    qxacs_line_number(&line, "query.type", query->type);
    qxacs_line_signed(&line, "query.part", query->dbPartitionNum);
    QXACS_LINE_FIELD(&line, "query.db", query, db);
    QXACS_LINE_FIELD(&line, "query.host", query, host);
    QXACS_LINE_FIELD(&line, "query.image", query, details.snapshot.imageTimestamp);
  } else {
    for (const char *key : {"query.type", "query.part", "query.db", "query.host", "query.image"})
      qxacs_line_unreadable(&line, key);
  }
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_get_next_object(char *text, size_t size,
                                                 const db2acs::QueryOutput *out,
                                                 const db2acs::ControlBlock *cb,
                                                 const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSGetNextObjectpp");
  qxacs_line_pointer(&line, "out", out);
  if (out) {
    qxacs_line_number(&line, "out.id", out->objectID);
    QXACS_LINE_FIELD(&line, "out.image", out, object.details.snapshot.imageTimestamp);
    qxacs_line_number(&line, "out.meta", out->metaDataSize);
  } else {
    for (const char *key : {"out.id", "out.image", "out.meta"}) qxacs_line_unreadable(&line, key);
  }
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_end_query(char *text, size_t size,
                                           const db2acs::ControlBlock *cb, const void *rc,
                                           int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSEndQuerypp");
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_partition(char *text, size_t size,
                                           const db2acs::PathList *paths,
                                           const db2acs::CreateObjectInfo *create,
                                           const db2acs::ControlBlock *cb, const void *rc,
                                           int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSPartitionpp");
  qxacs_line_pointer(&line, "paths", paths);
  if (paths) {
    qxacs_line_number(&line, "paths.n", paths->numEntries);
    uint32_t groups[16];
    uint32_t n = paths->entries ? paths->numEntries : 0;
    for (uint32_t i = 0; i < n && i < 16; ++i) groups[i] = paths->entries[i].groupID;
    qxacs_line_ids(&line, "paths.groups", paths->entries ? groups : 0, paths->numEntries);
  } else {
    qxacs_line_unreadable(&line, "paths.n");
    qxacs_line_unreadable(&line, "paths.groups");
  }
  qxacs_line_pointer(&line, "create", create);
  if (create) QXACS_LINE_FIELD(&line, "create.image", create, object.details.snapshot.imageTimestamp);
  else qxacs_line_unreadable(&line, "create.image");
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_prepare(char *text, size_t size,
                                         const db2acs::GroupList *groups,
                                         const db2acs::ControlBlock *cb, const void *rc,
                                         int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSPreparepp");
  qxacs_line_pointer(&line, "groups", groups);
  if (groups) {
    qxacs_line_number(&line, "groups.n", groups->numGroupIDs);
    qxacs_line_ids(&line, "groups.ids", groups->id, groups->numGroupIDs);
  } else {
    qxacs_line_unreadable(&line, "groups.n");
    qxacs_line_unreadable(&line, "groups.ids");
  }
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_snapshot(char *text, size_t size, db2acs::SnapshotAction action,
                                          db2acs::ObjectId object, const db2acs::ReadList *read,
                                          const db2acs::ControlBlock *cb, const void *rc,
                                          int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSSnapshotpp");
  qxacs_line_number(&line, "action", action);
  qxacs_line_number(&line, "object", object);
  qxacs_line_pointer(&line, "read", read);
  if (read) qxacs_line_number(&line, "read.n", read->group.numGroupIDs);
  else qxacs_line_unreadable(&line, "read.n");
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_verify(char *text, size_t size,
                                        const db2acs::PostObjectInfo *post,
                                        const db2acs::ControlBlock *cb, const void *rc,
                                        int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSVerifypp");
  qxacs_line_pointer(&line, "post", post);
  if (post)
    qxacs_line_add(&line, " post.log=%" PRIu32 ".%" PRIu32, post->firstActiveLog.fileID,
                   post->firstActiveLog.chainID);
  else
    qxacs_line_unreadable(&line, "post.log");
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_delete(char *text, size_t size, db2acs::ObjectId object,
                                        const db2acs::ControlBlock *cb, const void *rc,
                                        int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSDeletepp");
  qxacs_line_number(&line, "object", object);
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_line_metadata(qxacs_line *line, const db2acs::MetaData *meta) {
  qxacs_line_pointer(line, "meta", meta);
  if (meta) qxacs_line_number(line, "meta.size", meta->size);
  else qxacs_line_unreadable(line, "meta.size");
}

inline void qxacs_journal_store_metadata(char *text, size_t size,
                                                const db2acs::MetaData *meta,
                                                const db2acs::ControlBlock *cb,
                                                const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSStoreMetaDatapp");
  qxacs_line_metadata(&line, meta);
  qxacs_line_end(&line, cb, rc, result);
}

inline void qxacs_journal_retrieve_metadata(char *text, size_t size,
                                                   const db2acs::MetaData *meta,
                                                   db2acs::ObjectId object,
                                                   const db2acs::ControlBlock *cb,
                                                   const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSRetrieveMetaDatapp");
  qxacs_line_metadata(&line, meta);
  qxacs_line_number(&line, "object", object);
  qxacs_line_end(&line, cb, rc, result);
}

#endif
