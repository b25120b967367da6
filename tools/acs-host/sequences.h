// DB2's call sequences for backup, restore, delete and query, as acs-host
// drives them.
#ifndef ACS_HOST_SEQUENCES_H
#define ACS_HOST_SEQUENCES_H

#include "options.h"
#include "session.h"

// Runs the sequence the options name. Every sequence opens with
// QueryApiVersion (when the library has it) and Initialize, and closes
// with EndOperation and Terminate. A failing QueryApiVersion or Initialize
// ends it at once, as in DB2; any later failure skips ahead to
// EndOperation (abort) and Terminate. --keep-going makes every call.
void runSequence(Session &session, const HostOptions &options);

#endif
