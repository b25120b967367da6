// A back end that does nothing: every entry point returns 0 at once. Bound
// where what is measured or counted must be the front end's own work only
// (the no-allocation test, the forwarding benchmarks).
#include <stdint.h>

#include "zorvan/db2acs.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define NULL_ENTRY(Name, Code, Label, Calling, Params, Args) \
  extern "C" __attribute__((visibility("default"))) db2ACS_RC db2ACS##Name##pp Params { return 0; }
#define ACS_INITIALIZE_ENTRY NULL_ENTRY
#define ACS_FORWARDER_ENTRY NULL_ENTRY
#include "zorvan/entry_points.def"
#pragma GCC diagnostic pop
