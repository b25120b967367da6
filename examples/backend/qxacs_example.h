/* Argument structs and result codes shared by the example back end
 * (libqxacsint.so built from examples/backend) and by whatever drives it
 * (acs-host, tests).
 *
 * These are this example's own types, NOT DB2's. A real DB2 server passes
 * its own records through the 64-bit ACS arguments; the front-end library
 * forwards every argument untouched and never looks inside them, so the
 * host and the example back end are free to agree on these instead.
 *
 * Argument order, for every entry point: operation first, then partition
 * where there is one, then object; the record is always last.
 *   db2ACSInitializepp       (cb, rc)
 *   db2ACSTerminatepp        (qxacs_operation*, rc)
 *   db2ACSBeginOperationpp   (QXACS_OP_*, qxacs_operation*, rc)
 *   db2ACSEndOperationpp     (QXACS_END_*, qxacs_operation*, rc)
 *   db2ACSPreparepp          (qxacs_operation*, qxacs_object*, rc)
 *   db2ACSPartitionpp        (qxacs_operation*, qxacs_partition*, qxacs_object*, rc)
 *   db2ACSBeginQuerypp       (qxacs_operation*, qxacs_query*, rc)
 *   db2ACSGetNextObjectpp    (qxacs_query*, qxacs_object*, rc)
 *   db2ACSEndQuerypp         (qxacs_query*, rc)
 *   db2ACSSnapshotpp         (QXACS_ACTION_*, qxacs_operation*, qxacs_partition*, qxacs_object*, rc)
 *   db2ACSVerifypp           (qxacs_operation*, qxacs_object*, rc)
 *   db2ACSDeletepp           (qxacs_operation*, qxacs_object*, rc)
 *   db2ACSStoreMetaDatapp    (qxacs_operation*, qxacs_object*, rc)
 *   db2ACSRetrieveMetaDatapp (qxacs_operation*, qxacs_partition*, qxacs_object*, rc)
 *
 * cb is DB2's control block: at least 1752 bytes, with options.size (a
 * uint32) at byte 1736 and the options pointer at byte 1744; Initialize
 * journals the vendor-options vmName when options.size is 344.
 *
 * Every pointer must be null or point at a real struct of the named kind:
 * the back end reads through it (to journal its fields), so a made-up
 * pointer value would crash it. A null pointer or a struct of the wrong
 * kind (wrong magic) is refused with QXACS_ERR_ARGUMENT. */
#ifndef QXACS_EXAMPLE_H
#define QXACS_EXAMPLE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where the back end keeps its catalogue and journal: $QXACS_EXAMPLE_DIR,
 * else ./qxacs-example relative to the working directory. */
#define QXACS_EXAMPLE_DIR_ENV "QXACS_EXAMPLE_DIR"
#define QXACS_EXAMPLE_DEFAULT_DIR "./qxacs-example"
#define QXACS_JOURNAL_FILE "journal.log"
#define QXACS_OBJECTS_SUBDIR "objects"
#define QXACS_NEXT_ID_FILE "next_id"
/* snapshots/<id>: what the backup of <id> was given, checked at restore. */
#define QXACS_SNAPSHOTS_SUBDIR "snapshots"

/* Result codes, returned and stored in the record's first field. The
 * failures stay clear of the front end's own fixed codes (4 and 11) so a
 * reader can tell which side failed a call. */
enum {
  QXACS_OK = 0,
  QXACS_NO_MORE_OBJECTS = 1, /* GetNextObject: the query is exhausted */
  QXACS_ERR_ARGUMENT = 20,   /* null/wrong-kind pointer or unknown code */
  QXACS_ERR_NOT_FOUND = 21,  /* no object with that id */
  QXACS_ERR_STORAGE = 22,    /* the catalogue directory failed us */
  QXACS_ERR_MISMATCH = 23    /* a restore asked for other than was backed up */
};

/* The result codes in words, for hosts that print them; null for a code
 * this back end never returns. */
static inline const char *qxacs_result_text(int rc) {
  switch (rc) {
    case QXACS_OK: return "QXACS_OK";
    case QXACS_NO_MORE_OBJECTS: return "QXACS_NO_MORE_OBJECTS: the query has no more objects";
    case QXACS_ERR_ARGUMENT: return "QXACS_ERR_ARGUMENT: a null or wrong-kind pointer, or an unknown code";
    case QXACS_ERR_NOT_FOUND: return "QXACS_ERR_NOT_FOUND: no object with that id";
    case QXACS_ERR_STORAGE: return "QXACS_ERR_STORAGE: the catalogue directory (QXACS_EXAMPLE_DIR) failed";
    default: return 0;
  }
}

/* BeginOperation's uint32. */
enum {
  QXACS_OP_BACKUP = 1,
  QXACS_OP_RESTORE = 2,
  QXACS_OP_DELETE = 3,
  QXACS_OP_QUERY = 4
};

/* EndOperation's uint32. */
enum { QXACS_END_COMMIT = 0, QXACS_END_ABORT = 1 };

/* Snapshot's uint32. */
enum { QXACS_ACTION_BACKUP = 1, QXACS_ACTION_RESTORE = 2 };

/* Object ids are "obj-NNNNNN", increasing; listing is newest first. */
#define QXACS_ID_MAX 64
#define QXACS_LABEL_MAX 32
#define QXACS_HOST_MAX 64
#define QXACS_METADATA_MAX 1024

/* Each struct opens with a magic of its own, so an argument of the wrong
 * kind (a front end that swapped or shifted two arguments) is refused
 * rather than quietly misread. */
#define QXACS_OPERATION_MAGIC 0x5158504fu /* "QXPO" */
#define QXACS_PARTITION_MAGIC 0x51585041u /* "QXPA" */
#define QXACS_OBJECT_MAGIC 0x5158424fu    /* "QXBO" */
#define QXACS_QUERY_MAGIC 0x51585551u     /* "QXUQ" */

/* One per session; the back end only reads it. */
typedef struct qxacs_operation {
  uint32_t magic;
  char label[QXACS_LABEL_MAX]; /* host's name for the session */
} qxacs_operation;

/* The database partition an operation is about; read only. */
typedef struct qxacs_partition {
  uint32_t magic;
  uint32_t number;
  char host[QXACS_HOST_MAX];
} qxacs_partition;

/* A snapshot object. Snapshot(backup) and GetNextObject fill id;
 * StoreMetaData reads metadata[0..metadata_size); RetrieveMetaData fills
 * metadata and metadata_size. */
typedef struct qxacs_object {
  uint32_t magic;
  uint32_t metadata_size;
  char id[QXACS_ID_MAX];
  char metadata[QXACS_METADATA_MAX];
} qxacs_object;

/* A listing. BeginQuery rewinds position; GetNextObject advances it.
 * An empty id lists every object, a non-empty one only that object. */
typedef struct qxacs_query {
  uint32_t magic;
  uint32_t position;
  char id[QXACS_ID_MAX];
} qxacs_query;

/* Copies text into a fixed field, cut to fit and always NUL-terminated
 * (strncpy would leave a full field unterminated). */
static inline void qxacs_copy_text(char *field, size_t size, const char *text) {
  size_t len = strnlen(text, size - 1);
  memcpy(field, text, len);
  field[len] = '\0';
}

static inline void qxacs_operation_init(qxacs_operation *op, const char *label) {
  memset(op, 0, sizeof *op);
  op->magic = QXACS_OPERATION_MAGIC;
  qxacs_copy_text(op->label, sizeof op->label, label);
}

static inline void qxacs_partition_init(qxacs_partition *part, uint32_t number,
                                        const char *host) {
  memset(part, 0, sizeof *part);
  part->magic = QXACS_PARTITION_MAGIC;
  part->number = number;
  qxacs_copy_text(part->host, sizeof part->host, host);
}

static inline void qxacs_object_init(qxacs_object *obj, const char *id) {
  memset(obj, 0, sizeof *obj);
  obj->magic = QXACS_OBJECT_MAGIC;
  qxacs_copy_text(obj->id, sizeof obj->id, id);
}

static inline void qxacs_query_init(qxacs_query *query, const char *id) {
  memset(query, 0, sizeof *query);
  query->magic = QXACS_QUERY_MAGIC;
  qxacs_copy_text(query->id, sizeof query->id, id);
}

#ifdef __cplusplus
}
#endif

#endif
