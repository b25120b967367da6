/* The example back end's catalogue: a directory holding journal.log, a
 * next_id counter, objects/<id> files (each holds the metadata DB2 stored
 * with the object) and snapshots/<id> files (what the backup of <id> was
 * of). Ids are DB2's 64-bit object ids, in decimal, growing with time.
 * The directory is looked up on every call, so a test may point
 * QXACS_EXAMPLE_DIR elsewhere between calls. Results are DB2's codes. */
#ifndef QXACS_STORAGE_H
#define QXACS_STORAGE_H

#include <stddef.h>
#include <stdint.h>

#include "db2acs_protocol.h"

/* What a backup was of, kept in snapshots/<id> as "key value" lines:
 * type, partition, db, instance, host, owner, image, log, created. */
struct SnapshotRecord {
  db2acs::ObjectInfo object;
  db2acs::PostObjectInfo post;
  uint64_t created;  // seconds since the epoch
};

/* Creates the directory, objects/ and snapshots/ when missing.
 * DB2ACS_RC_OK or DB2ACS_RC_IO_ERROR. */
int32_t storage_prepare(void);

/* Appends line and a newline to the journal; a journal that cannot be
 * written is skipped rather than failing the call it records. */
void journal_append(const char *line);

/* A new, empty object; its id goes to *id. */
int32_t object_create(db2acs::ObjectId *id);

/* DB2ACS_RC_OK when the object exists, else DB2ACS_RC_OBJ_NOT_FOUND. */
int32_t object_check(db2acs::ObjectId id);

/* Replaces an existing object's metadata. */
int32_t object_write(db2acs::ObjectId id, const void *data, size_t size);

/* Reads an object's metadata into data[capacity]; *size gets its length,
 * also when it does not fit (DB2ACS_RC_BUFF_SIZE). */
int32_t object_read(db2acs::ObjectId id, void *data, size_t capacity, size_t *size);

/* The length of an object's metadata. */
int32_t object_size(db2acs::ObjectId id, uint64_t *size);

/* Removes the object and its snapshot record. */
int32_t object_remove(db2acs::ObjectId id);

int32_t snapshot_write(db2acs::ObjectId id, const SnapshotRecord &record);

/* DB2ACS_RC_OBJ_NOT_FOUND without a record; DB2ACS_RC_IO_ERROR for one
 * that cannot be read as one. */
int32_t snapshot_read(db2acs::ObjectId id, SnapshotRecord &record);

/* The position-th object, newest first, into *id. DB2ACS_RC_END_OF_DATA
 * past the end. */
int32_t object_at(uint32_t position, db2acs::ObjectId *id);

#endif
