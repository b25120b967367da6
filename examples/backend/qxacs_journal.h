/* The example back end's journal line, one per call, in
 * <dir>/journal.log. The same formatter is used by the back end (after it
 * handled a call) and by a host that wants to write down what it passed
 * (acs-host --args-log), so the two files can be compared line by line to
 * prove that arguments arrived unchanged.
 *
 *   <symbol> <key>=<value> ... rc=<record pointer> result=<code>
 *
 * Keys per symbol, in order:
 *   db2ACSInitializepp       cb cb.optsize cb.options cb.vm
 *   db2ACSTerminatepp        op op.label
 *   db2ACSBeginOperationpp   code op op.label
 *   db2ACSEndOperationpp     end op op.label
 *   db2ACSPreparepp          op op.label obj obj.id
 *   db2ACSPartitionpp        op op.label part part.number part.host obj obj.id
 *   db2ACSBeginQuerypp       op op.label query query.id
 *   db2ACSGetNextObjectpp    query query.id obj obj.id
 *   db2ACSEndQuerypp         query query.id
 *   db2ACSSnapshotpp         action op op.label part part.number part.host obj obj.id
 *   db2ACSVerifypp           op op.label obj obj.id
 *   db2ACSDeletepp           op op.label obj obj.id
 *   db2ACSStoreMetaDatapp    op op.label obj obj.id obj.size
 *   db2ACSRetrieveMetaDatapp op op.label part part.number part.host obj obj.id obj.size
 *
 * Values: a pointer is 0x<lowercase hex> (0x0 when null); a uint32 is
 * decimal; a text field has every byte outside '!'..'~' shown as '?' and
 * is "-" when empty. A field read through a pointer (x.y) is "!" when that
 * pointer is null or points at a struct of another kind; cb.vm is "!"
 * when the control block carries no 344-byte vendor-options record.
 * Fields read through pointers are read after the call (so obj.id shows
 * the id a backup created). result is the code the back end returned and
 * stored in the record. */
#ifndef QXACS_JOURNAL_H
#define QXACS_JOURNAL_H

#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "qxacs_example.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Room for the longest line (three text fields of 64 bytes at most). */
#define QXACS_JOURNAL_LINE_MAX 1024

/* Control-block layout read by Initialize (64-bit layout). */
#define QXACS_CB_OPTIONS_SIZE_OFFSET 1736
#define QXACS_CB_OPTIONS_DATA_OFFSET 1744
#define QXACS_VENDOR_OPTIONS_SIZE 344u
#define QXACS_VO_VM_NAME_OFFSET 95
#define QXACS_VO_VM_NAME_WIDTH 18

typedef struct qxacs_line {
  char *text;
  size_t size;
  size_t used;
} qxacs_line;

static inline void qxacs_line_add(qxacs_line *line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static inline void qxacs_line_add(qxacs_line *line, const char *format, ...) {
  if (line->used >= line->size) return;
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line->text + line->used, line->size - line->used, format, args);
  va_end(args);
  if (n < 0) return;
  line->used += (size_t)n;
  if (line->used >= line->size) line->used = line->size - 1; /* cut, still terminated */
}

static inline void qxacs_line_pointer(qxacs_line *line, const char *key, const void *p) {
  qxacs_line_add(line, " %s=0x%" PRIxPTR, key, (uintptr_t)p);
}

static inline void qxacs_line_u32(qxacs_line *line, const char *key, uint32_t value) {
  qxacs_line_add(line, " %s=%" PRIu32, key, value);
}

/* A text field of at most width bytes; printable so one call stays one
 * whitespace-separated line. */
static inline void qxacs_line_text(qxacs_line *line, const char *key, const char *text,
                                   size_t width) {
  char shown[QXACS_HOST_MAX + 1];
  size_t len = strnlen(text, width < sizeof shown ? width : sizeof shown - 1);
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = (unsigned char)text[i];
    shown[i] = (c >= '!' && c <= '~') ? (char)c : '?';
  }
  shown[len] = '\0';
  qxacs_line_add(line, " %s=%s", key, len ? shown : "-");
}

static inline void qxacs_line_unreadable(qxacs_line *line, const char *key) {
  qxacs_line_add(line, " %s=!", key);
}

/* The struct behind p when it is one of the kind magic names, else null.
 * The magic is copied out so a misaligned pointer is not dereferenced as
 * a uint32_t. */
static inline const void *qxacs_struct_of_kind(const void *p, uint32_t magic) {
  uint32_t seen;
  if (!p) return 0;
  memcpy(&seen, p, sizeof seen);
  return seen == magic ? p : 0;
}

static inline void qxacs_line_operation(qxacs_line *line, const void *p) {
  const qxacs_operation *op =
      (const qxacs_operation *)qxacs_struct_of_kind(p, QXACS_OPERATION_MAGIC);
  qxacs_line_pointer(line, "op", p);
  if (op) qxacs_line_text(line, "op.label", op->label, sizeof op->label);
  else qxacs_line_unreadable(line, "op.label");
}

static inline void qxacs_line_partition(qxacs_line *line, const void *p) {
  const qxacs_partition *part =
      (const qxacs_partition *)qxacs_struct_of_kind(p, QXACS_PARTITION_MAGIC);
  qxacs_line_pointer(line, "part", p);
  if (part) {
    qxacs_line_u32(line, "part.number", part->number);
    qxacs_line_text(line, "part.host", part->host, sizeof part->host);
  } else {
    qxacs_line_unreadable(line, "part.number");
    qxacs_line_unreadable(line, "part.host");
  }
}

static inline void qxacs_line_object(qxacs_line *line, const void *p, int with_size) {
  const qxacs_object *obj = (const qxacs_object *)qxacs_struct_of_kind(p, QXACS_OBJECT_MAGIC);
  qxacs_line_pointer(line, "obj", p);
  if (obj) qxacs_line_text(line, "obj.id", obj->id, sizeof obj->id);
  else qxacs_line_unreadable(line, "obj.id");
  if (!with_size) return;
  if (obj) qxacs_line_u32(line, "obj.size", obj->metadata_size);
  else qxacs_line_unreadable(line, "obj.size");
}

static inline void qxacs_line_query(qxacs_line *line, const void *p) {
  const qxacs_query *query = (const qxacs_query *)qxacs_struct_of_kind(p, QXACS_QUERY_MAGIC);
  qxacs_line_pointer(line, "query", p);
  if (query) qxacs_line_text(line, "query.id", query->id, sizeof query->id);
  else qxacs_line_unreadable(line, "query.id");
}

/* The vendor-options vmName the control block carries, or "!" fields. */
static inline void qxacs_line_control_block(qxacs_line *line, const void *cb) {
  uint32_t optsize = 0;
  const unsigned char *options = 0;
  qxacs_line_pointer(line, "cb", cb);
  if (!cb) {
    qxacs_line_unreadable(line, "cb.optsize");
    qxacs_line_unreadable(line, "cb.options");
    qxacs_line_unreadable(line, "cb.vm");
    return;
  }
  memcpy(&optsize, (const unsigned char *)cb + QXACS_CB_OPTIONS_SIZE_OFFSET, sizeof optsize);
  memcpy(&options, (const unsigned char *)cb + QXACS_CB_OPTIONS_DATA_OFFSET, sizeof options);
  qxacs_line_u32(line, "cb.optsize", optsize);
  qxacs_line_pointer(line, "cb.options", options);
  if (optsize == QXACS_VENDOR_OPTIONS_SIZE && options)
    qxacs_line_text(line, "cb.vm", (const char *)options + QXACS_VO_VM_NAME_OFFSET,
                    QXACS_VO_VM_NAME_WIDTH);
  else
    qxacs_line_unreadable(line, "cb.vm");
}

/* Starts a line for symbol in text[size]. */
static inline qxacs_line qxacs_line_begin(char *text, size_t size, const char *symbol) {
  qxacs_line line = {text, size, 0};
  text[0] = '\0';
  qxacs_line_add(&line, "%s", symbol);
  return line;
}

/* Ends the line with the record pointer and the result; adds no newline. */
static inline void qxacs_line_end(qxacs_line *line, const void *rc, int32_t result) {
  qxacs_line_pointer(line, "rc", rc);
  qxacs_line_add(line, " result=%" PRId32, result);
}

/* One formatter per entry point: both sides call these, so the line for a
 * call is defined in exactly one place. */

static inline void qxacs_journal_initialize(char *text, size_t size, const void *cb,
                                            const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSInitializepp");
  qxacs_line_control_block(&line, cb);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_terminate(char *text, size_t size, const void *op,
                                           const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSTerminatepp");
  qxacs_line_operation(&line, op);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_begin_operation(char *text, size_t size, uint32_t code,
                                                 const void *op, const void *rc,
                                                 int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSBeginOperationpp");
  qxacs_line_u32(&line, "code", code);
  qxacs_line_operation(&line, op);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_end_operation(char *text, size_t size, uint32_t end,
                                               const void *op, const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSEndOperationpp");
  qxacs_line_u32(&line, "end", end);
  qxacs_line_operation(&line, op);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_prepare(char *text, size_t size, const void *op,
                                         const void *obj, const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSPreparepp");
  qxacs_line_operation(&line, op);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_partition(char *text, size_t size, const void *op,
                                           const void *part, const void *obj, const void *rc,
                                           int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSPartitionpp");
  qxacs_line_operation(&line, op);
  qxacs_line_partition(&line, part);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_begin_query(char *text, size_t size, const void *op,
                                             const void *query, const void *rc,
                                             int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSBeginQuerypp");
  qxacs_line_operation(&line, op);
  qxacs_line_query(&line, query);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_get_next_object(char *text, size_t size, const void *query,
                                                 const void *obj, const void *rc,
                                                 int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSGetNextObjectpp");
  qxacs_line_query(&line, query);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_end_query(char *text, size_t size, const void *query,
                                           const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSEndQuerypp");
  qxacs_line_query(&line, query);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_snapshot(char *text, size_t size, uint32_t action,
                                          const void *op, const void *part, const void *obj,
                                          const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSSnapshotpp");
  qxacs_line_u32(&line, "action", action);
  qxacs_line_operation(&line, op);
  qxacs_line_partition(&line, part);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_verify(char *text, size_t size, const void *op,
                                        const void *obj, const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSVerifypp");
  qxacs_line_operation(&line, op);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_delete(char *text, size_t size, const void *op,
                                        const void *obj, const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSDeletepp");
  qxacs_line_operation(&line, op);
  qxacs_line_object(&line, obj, 0);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_store_metadata(char *text, size_t size, const void *op,
                                                const void *obj, const void *rc,
                                                int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSStoreMetaDatapp");
  qxacs_line_operation(&line, op);
  qxacs_line_object(&line, obj, 1);
  qxacs_line_end(&line, rc, result);
}

static inline void qxacs_journal_retrieve_metadata(char *text, size_t size, const void *op,
                                                   const void *part, const void *obj,
                                                   const void *rc, int32_t result) {
  qxacs_line line = qxacs_line_begin(text, size, "db2ACSRetrieveMetaDatapp");
  qxacs_line_operation(&line, op);
  qxacs_line_partition(&line, part);
  qxacs_line_object(&line, obj, 1);
  qxacs_line_end(&line, rc, result);
}

#ifdef __cplusplus
}
#endif

#endif
