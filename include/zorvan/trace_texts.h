/* The fixed texts of the trace log that tools read back: the line prefix,
 * the entry-point frame, initialisation and the loader's verdict lines.
 * The library writes them from here and acs-doctor --trace matches them
 * from here, so the two cannot drift apart. Format strings keep their
 * conversions; a reader matches the text around them. The per-entry-point
 * texts (tags, markers, calling lines, diagnostic labels) live in
 * entry_points.def. */
#ifndef ZORVAN_TRACE_TEXTS_H
#define ZORVAN_TRACE_TEXTS_H

/* Every line: prefix, pid, ": ", mm/dd/yy hh:mm:ss, blank, "tag: message". */
#define ZORVAN_TRACE_LINE_PREFIX "LIBDB2ACS-"
#define ZORVAN_TRACE_LINE_FORMAT ZORVAN_TRACE_LINE_PREFIX "%d: %02d/%02d/%02d %02d:%02d:%02d %s\n"

/* The entry-point frame. */
#define ZORVAN_TEXT_ENTERED "-----------Entered--------"
#define ZORVAN_TEXT_HOLD "-----------Will wait if %s exists --------"
#define ZORVAN_TEXT_LEAVING_RESULT "-----------Leaving, returning %d--------"
#define ZORVAN_TEXT_NOT_BOUND "db2ACS_handle or function pointer is NULL. Returning error"

/* db2ACSInitialize and the loader. */
#define ZORVAN_TEXT_QXREG "-----------QXREG= [%s]"
#define ZORVAN_TEXT_BINDING_FAILED "initializeFptrs() failed, returning error."
#define ZORVAN_TEXT_BASE_DIR_FAILED "GetZorvanBaseDir failed, returning error."
#define ZORVAN_TEXT_LIBRARY_TO_LOAD "Library to be loaded: \"%s\"."
#define ZORVAN_TEXT_DLOPEN_FAILED "dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\""

/* Base-directory resolution. */
#define ZORVAN_TEXT_PROPERTIES_PATH "path for .properties is: %s"
#define ZORVAN_TEXT_NO_PROPERTIES "Could not open file %s"
#define ZORVAN_TEXT_NOT_ACCESSIBLE "QXZrDb2IKA DB2 Library %s not accessible"
#define ZORVAN_TEXT_SCAN_FAILED "get_first_zorvan_instname() failed as well, returning error."

/* The first-instance scan. */
#define ZORVAN_TEXT_SCAN_OPEN_FAILED "open(%s) failed with errno: %d\n"

#endif
