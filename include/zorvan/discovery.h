/* Installation discovery: the registry directory, the instance name and
 * the base directory that holds the back-end library. */
#ifndef ZORVAN_DISCOVERY_H
#define ZORVAN_DISCOVERY_H

#include <stddef.h>

#include "zorvan/acs_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of every path and name buffer in discovery and binding. */
#define ZORVAN_PATH_MAX 1024

#define ZORVAN_DEFAULT_REGISTRY "/etc/OstravaneRegistry"
#define ZORVAN_BACKEND_LIBRARY "libqxacsint.so"

/* The registry directory; null until fixed, then fixed for the process. */
extern const char *qxReg;

/* Fixes qxReg from QXREG (unset or empty: the default) unless it already
 * holds a non-empty path. */
void fixRegistryDir(void);

/* Instance name from the vendor-options record in the control block, or
 * from ZORVAN_INST. 1 when a name was copied into name, 0 otherwise. */
int GetZorvanInstanceName(char *name, size_t size, const db2ACS_CB *cb);

/* Base directory of the installation ("<home>/Base", holding an executable
 * libqxacsint.so) into gpath. 0 on success, -1 on failure (gpath unchanged). */
int GetZorvanBaseDir(char *gpath, size_t size, const db2ACS_CB *cb);

#ifdef __cplusplus
}
#endif

#endif
