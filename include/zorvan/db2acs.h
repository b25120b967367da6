/* The library's exported interface: the fifteen DB2 ACS API functions, the
 * first-instance scan, and the back-end entry-point table. This header is
 * the one place that marks symbols for export; everything else in the
 * library is built hidden. */
#ifndef ZORVAN_DB2ACS_H
#define ZORVAN_DB2ACS_H

#include <stddef.h>
#include <stdint.h>

#include "zorvan/acs_types.h"

#define ZORVAN_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Pointer types of the back-end entry points, one per row of the table. */
#define ACS_ENTRY_TYPE(Name, Code, Label, Calling, Params, Args) \
  typedef db2ACS_RC(*db2ACS##Name##_fn) Params;
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_TYPE
#define ACS_FORWARDER_ENTRY ACS_ENTRY_TYPE
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_TYPE
typedef db2ACS_RC (*db2ACSQueryApiVersion_fn)(void);

/* The exported ACS functions. */
ZORVAN_EXPORT db2ACS_RC db2ACSQueryApiVersion(void);
#define ACS_ENTRY_DECL(Name, Code, Label, Calling, Params, Args) \
  ZORVAN_EXPORT db2ACS_RC db2ACS##Name Params;
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_DECL
#define ACS_FORWARDER_ENTRY ACS_ENTRY_DECL
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_DECL

/* The back-end entry-point table: the back end's dlopen handle and one
 * pointer per ACS function. All null until the back end is bound;
 * f_db2ACSQueryApiVersion has no back-end counterpart and stays null. */
ZORVAN_EXPORT extern void *db2ACS_handle;
ZORVAN_EXPORT extern db2ACSQueryApiVersion_fn f_db2ACSQueryApiVersion;
#define ACS_ENTRY_PTR(Name, Code, Label, Calling, Params, Args) \
  ZORVAN_EXPORT extern db2ACS##Name##_fn f_db2ACS##Name;
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_PTR
#define ACS_FORWARDER_ENTRY ACS_ENTRY_PTR
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_PTR

/* Names the first registered instance with the DB2 agent installed:
 * "Instance001" when it qualifies, otherwise the first qualifying entry of
 * the instances directory in directory order. 0 on success, -1 otherwise. */
ZORVAN_EXPORT int get_first_zorvan_instname(char *name, size_t size);

#ifdef __cplusplus
}
#endif

#endif
