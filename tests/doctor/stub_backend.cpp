// A back end with all fourteen entry points and nothing behind them, that
// needs libqxdep.so (STUB_NEEDS_DEP) or aborts while it is being loaded
// (STUB_ABORTS), as a back end whose constructor fails would, or never
// finishes loading (STUB_HANGS), as one whose constructor waits for good,
// or starts a helper process that stays (STUB_FORKS), as a back end's
// daemon would; its pid goes to the file STUB_HELPER_PID names.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef STUB_NEEDS_DEP
extern "C" int qxdep_value();
#define STUB_RESULT qxdep_value()
#else
#define STUB_RESULT 0
#endif

#ifdef STUB_ABORTS
__attribute__((constructor)) static void failWhileLoading() { abort(); }
#endif
#ifdef STUB_HANGS
__attribute__((constructor)) static void waitWhileLoading() {
  for (;;) pause();
}
#endif

#ifdef STUB_FORKS
__attribute__((constructor)) static void startHelper() {
  pid_t pid = fork();
  if (pid == 0)
    for (;;) pause();
  const char *file = getenv("STUB_HELPER_PID");
  if (FILE *f = file != nullptr ? fopen(file, "w") : nullptr) {
    fprintf(f, "%d\n", static_cast<int>(pid));
    fclose(f);
  }
}
#endif

#define ACS_ENTRY_STUB(Name, Code, Label, Calling, Params, Args) \
  extern "C" __attribute__((visibility("default"))) int db2ACS##Name##pp() { return STUB_RESULT; }
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_STUB
#define ACS_FORWARDER_ENTRY ACS_ENTRY_STUB
#include "zorvan/entry_points.def"
