/* The fixed texts of the trace log that tools read back: the line prefix,
 * the entry-point frame, initialisation and the loader's verdict lines.
 * The library writes them from here and acs-doctor --trace matches them
 * from here, so the two cannot drift apart. Format strings keep their
 * conversions; a reader matches the text around them. The per-entry-point
 * texts (tags, markers, calling lines, diagnostic labels) live in
 * entry_points.def. */
#ifndef ZORVAN_TRACE_TEXTS_H
#define ZORVAN_TRACE_TEXTS_H

/* The tags of the library's own functions. */
#define ZORVAN_TAG_FIX_REGISTRY "fixRegistryDir"
#define ZORVAN_TAG_INSTANCE_NAME "GetZorvanInstanceName"
#define ZORVAN_TAG_SCAN "get_first_zorvan_instname"
#define ZORVAN_TAG_BASE_DIR "GetZorvanBaseDir"
#define ZORVAN_TAG_LOADER "initializeFptrs()"
#define ZORVAN_TAG_UNLOADER "unInitializeFptrs()"

/* The spellings an entry-point row's Name gives (entry_points.def): its
 * trace tag, its debug-hold marker and its back-end symbol.
 * db2ACSQueryApiVersion has no row: it is answered by the library. */
#define ZORVAN_ENTRY_TAG(Name) "db2ACS" #Name "()"
#define ZORVAN_ENTRY_MARKER(Name) "/tmp/db2ACS" #Name "Debug"
#define ZORVAN_BACKEND_SYMBOL(Name) "db2ACS" #Name "pp"
#define ZORVAN_QUERY_API_TAG "db2ACSQueryApiVersion()"
#define ZORVAN_QUERY_API_MARKER "/tmp/db2ACSQueryApiVersion1"

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

#define ZORVAN_TEXT_PROPERTIES_PATH_TOO_LONG \
  "Properties path does not fit in %d bytes: registry directory %s, instance %s"
#define ZORVAN_TEXT_HOME_TOO_LONG "dZORVANHOME in %s is longer than %d characters, not used"
#define ZORVAN_TEXT_HOME "Home directory (dZORVANHOME) is %s"
#define ZORVAN_TEXT_PUBLISHED "Setting the env: %s succeeded"
#define ZORVAN_TEXT_LOADER_BASE_DIR_OK "GetZorvanBaseDir succeeded."

/* Instance name resolution. */
#define ZORVAN_TEXT_VENDOR_OPTIONS "GUI case: options.size == sizeof Db2VendorOptions_t, casting."
#define ZORVAN_TEXT_VM_NAME "vmName is %s"
#define ZORVAN_TEXT_INSTANCE_VARIABLE "ZORVAN_INST is set to %s"

/* The first-instance scan. */
#define ZORVAN_TEXT_SCAN_OPEN_FAILED "open(%s) failed with errno: %d\n"
#define ZORVAN_TEXT_NO_DEFAULT_AGENT "Instance001 doesnt have DB2 iKA installed. prop_dirname=[%s]"
#define ZORVAN_TEXT_NO_AGENT "stat(%s) failed, DB2 Agent is not installed under instance = %s\n"
#define ZORVAN_TEXT_ENTRY_STAT_FAILED "stat(%s) failed, errno: %d\n"
#define ZORVAN_TEXT_NOT_A_DIR "not a dir : %s\n"
#define ZORVAN_TEXT_ENTRY_TOO_LONG "Skipping %s: its path does not fit in %d bytes\n"
#define ZORVAN_TEXT_GOT_INSTANCE "Got instance name:  %s\n"

/* A process with raised privileges (set-user-ID, set-group-ID, or given
 * capabilities when started) refusing what its caller's environment names.
 * The QXREG line carries the value, one reason below and the registry used
 * instead; the ZORVAN_INST and vmName lines the name. */
#define ZORVAN_TEXT_QXREG_IGNORED \
  "QXREG=[%s] ignored in a process with raised privileges: %s; using %s"
#define ZORVAN_TEXT_NOT_ABSOLUTE "it is not an absolute path"
#define ZORVAN_TEXT_PATH_TOO_LONG "it is longer than %d characters"
#define ZORVAN_TEXT_CANNOT_EXAMINE "%s cannot be examined (errno %d)"
#define ZORVAN_TEXT_SYMLINK_IN_CHAIN "%s is a symbolic link"
#define ZORVAN_TEXT_NOT_DIRECTORY "%s is not a directory"
#define ZORVAN_TEXT_FOREIGN_OWNER "%s is owned by uid %u, neither root nor the effective user"
#define ZORVAN_TEXT_CALLER_OWNER "%s is owned by uid %u, the user who started the process"
#define ZORVAN_TEXT_WORLD_WRITABLE "%s is writable by others"
#define ZORVAN_TEXT_GROUP_WRITABLE "%s is writable by its group (gid %u)"
#define ZORVAN_PLAIN_NAME_REFUSAL                                                \
  "] ignored in a process with raised privileges: an instance "                \
  "name must be a plain directory name (not empty, no '/', not \".\" or \"..\"); " \
  "looking for the first instance"
#define ZORVAN_TEXT_ZORVAN_INST_IGNORED "ZORVAN_INST=[%s" ZORVAN_PLAIN_NAME_REFUSAL
#define ZORVAN_TEXT_VM_NAME_IGNORED "vmName=[%s" ZORVAN_PLAIN_NAME_REFUSAL

#endif
