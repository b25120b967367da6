/* Back-end binding: loads libqxacsint.so from the base directory and fills
 * the back-end entry-point table. */
#ifndef ZORVAN_BACKEND_H
#define ZORVAN_BACKEND_H

#include "zorvan/acs_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the back end is bound (or a handle was already bound), 0 on failure. */
int initializeFptrs(const db2ACS_CB *cb);

/* Closes the back end and clears the table when dlclose succeeds; always 1. */
int unInitializeFptrs(void);

#ifdef __cplusplus
}
#endif

#endif
