// The one fake back end of the suite, the benchmarks and the doctor's
// checks: the fourteen entry points of zorvan/entry_points.def, each
// storing 0 in its record and returning 0. Which of them it exports comes
// from one list (the version script zorvan_fake_backend writes); what it
// does while it loads, and what it needs, are variants of this source:
//   FAKE_ABORTS      aborts while being loaded, as a failing constructor
//   FAKE_HANGS       never finishes loading
//   FAKE_FORKS       leaves a helper process, its pid in $FAKE_HELPER_PID
//   FAKE_NEEDS_DEP   needs libqxdep.so (its db2ACSInitializepp calls it)
//   FAKE_UNDEFINED   db2ACSVerifypp calls a function defined nowhere: it
//                    loads only where the loader binds lazily
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "zorvan/db2acs.h"

extern "C" int qxdep_value();
extern "C" int definedNowhere();

namespace {

#ifdef FAKE_ABORTS
__attribute__((constructor)) void failWhileLoading() { abort(); }
#endif
#ifdef FAKE_HANGS
__attribute__((constructor)) void waitWhileLoading() {
  for (;;) pause();
}
#endif
#ifdef FAKE_FORKS
__attribute__((constructor)) void startHelper() {
  pid_t pid = fork();
  if (pid == 0)
    for (;;) pause();
  const char *file = getenv("FAKE_HELPER_PID");
  if (FILE *f = file != nullptr ? fopen(file, "w") : nullptr) {
    fprintf(f, "%d\n", static_cast<int>(pid));
    fclose(f);
  }
}
#endif

db2ACS_RC answer(const char *name, db2ACS_ReturnCode *rc) {
  if (rc != nullptr) rc->returnCode = 0;
#ifdef FAKE_NEEDS_DEP
  if (strcmp(name, "Initialize") == 0) return qxdep_value();
#endif
#ifdef FAKE_UNDEFINED
  if (strcmp(name, "Verify") == 0) return definedNowhere();
#endif
  return name != nullptr ? 0 : 1;
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define FAKE_ENTRY(Name, Code, Label, Calling, Params, Args) \
  extern "C" db2ACS_RC db2ACS##Name##pp Params { return answer(#Name, rc); }
#define ACS_INITIALIZE_ENTRY FAKE_ENTRY
#define ACS_FORWARDER_ENTRY FAKE_ENTRY
#include "zorvan/entry_points.def"
#pragma GCC diagnostic pop
