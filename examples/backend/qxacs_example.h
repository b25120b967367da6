/* What is the example back end's own, for hosts and tests that look at
 * what it keeps: where its catalogue and journal are, and their names.
 * The calls and records it takes are DB2's published ones
 * (tools/common/db2acs_protocol.h); its codes are DB2's too
 * (tools/common/acs_return_codes.h). */
#ifndef QXACS_EXAMPLE_H
#define QXACS_EXAMPLE_H

/* Where the back end keeps its catalogue and journal: $QXACS_EXAMPLE_DIR,
 * else ./qxacs-example relative to the working directory. */
#define QXACS_EXAMPLE_DIR_ENV "QXACS_EXAMPLE_DIR"
#define QXACS_EXAMPLE_DEFAULT_DIR "./qxacs-example"
#define QXACS_JOURNAL_FILE "journal.log"
#define QXACS_NEXT_ID_FILE "next_id"
/* objects/<id>: the metadata DB2 stored with object <id>. */
#define QXACS_OBJECTS_SUBDIR "objects"
/* snapshots/<id>: what the backup of <id> was of, one "key value" line
 * per item (see storage.h), checked at restore. */
#define QXACS_SNAPSHOTS_SUBDIR "snapshots"

#endif
