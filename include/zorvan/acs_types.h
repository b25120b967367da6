/* The few DB2 ACS API types this library relies on.
 *
 * The library never looks inside DB2's records beyond what is declared
 * here: the first 32-bit field of the return-code record, and two items of
 * the control block at fixed offsets (read by instance-name resolution).
 * Everything else is passed through as an opaque pointer, so these
 * declarations are deliberately minimal and are not DB2's own headers. */
#ifndef ZORVAN_ACS_TYPES_H
#define ZORVAN_ACS_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* DB2 ACS return code: a signed 32-bit value. */
typedef int32_t db2ACS_RC;

/* ACS return-code record. Host-owned; the library writes returnCode, and
 * nothing else, and only when it fails a call itself. */
typedef struct db2ACS_ReturnCode {
  int32_t returnCode;
  /* further host-owned fields follow; never touched */
} db2ACS_ReturnCode;

/* DB2's control block: opaque. */
typedef struct db2ACS_CB db2ACS_CB;

/* Byte offsets of the two control-block items that instance-name
 * resolution reads (64-bit layout): options.size and the options data
 * pointer. A host must make the block at least ACS_CB_MIN_SIZE bytes. */
enum {
  ACS_CB_OPTIONS_SIZE_OFFSET = 1736,
  ACS_CB_OPTIONS_DATA_OFFSET = 1744,
  ACS_CB_MIN_SIZE = 1752
};

/* Vendor-options record Db2VendorOptions_t: 344 bytes of character fields
 * at fixed, mostly odd, offsets. Field widths run up to the next field. */
enum {
  ACS_VENDOR_OPTIONS_SIZE = 344,
  ACS_VO_INSTANCE_NAME = 44,
  ACS_VO_VERSION = 53,
  ACS_VO_BUILD = 62,
  ACS_VO_VENDOR_ID = 71,
  ACS_VO_VM_NAME = 95,
  ACS_VO_JM_TOKEN = 113,
  ACS_VO_SERVER_ID = 177,
  ACS_VO_DB_INSTANCE_NAME = 305
};

#ifdef __cplusplus
}
#endif

#endif
