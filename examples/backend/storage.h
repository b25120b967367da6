/* The example back end's catalogue: a directory holding journal.log, a
 * next_id counter, objects/<id> files (each holds the object's metadata
 * text) and snapshots/<id> files (what the backup of <id> was given).
 * The directory is looked up on every call, so a test may point
 * QXACS_EXAMPLE_DIR elsewhere between calls. */
#ifndef QXACS_STORAGE_H
#define QXACS_STORAGE_H

#include <stddef.h>
#include <stdint.h>

/* Creates the directory and objects/ when missing. QXACS_OK or
 * QXACS_ERR_STORAGE. */
int32_t storage_prepare(void);

/* Appends line and a newline to the journal; a journal that cannot be
 * written is skipped rather than failing the call it records. */
void journal_append(const char *line);

/* Creates a new object holding text; its id goes to id[id_size]. */
int32_t object_create(const char *text, char *id, size_t id_size);

/* QXACS_OK when the object exists, else QXACS_ERR_NOT_FOUND (or
 * QXACS_ERR_ARGUMENT for an id that is not a plain file name). */
int32_t object_check(const char *id);

/* Replaces an existing object's metadata. */
int32_t object_write(const char *id, const char *data, size_t size);

/* Reads an object's metadata into data[capacity]; *size gets its length. */
int32_t object_read(const char *id, char *data, size_t capacity, size_t *size);

/* Removes the object and its snapshot record. */
int32_t object_remove(const char *id);

/* Keeps text as the record of what the backup of id was given. */
int32_t snapshot_record(const char *id, const char *text);

/* QXACS_OK when the record of id holds exactly text, QXACS_ERR_MISMATCH
 * when it holds anything else, QXACS_ERR_NOT_FOUND without a record. */
int32_t snapshot_matches(const char *id, const char *text);

/* The position-th object, newest first, of those matching only_id (all
 * when only_id is empty), into id[id_size]. QXACS_NO_MORE_OBJECTS past
 * the end. */
int32_t object_at(const char *only_id, uint32_t position, char *id, size_t id_size);

#endif
