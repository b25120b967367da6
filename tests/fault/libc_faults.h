// Link-time wrappers around a few C library calls, for test binaries that
// link with -Wl,--wrap=malloc,--wrap=free,--wrap=putenv,--wrap=getenv,
// --wrap=dlclose (see tests/reliability.cmake). Every wrapper passes the
// call through until a test arms it. Only calls made from the objects of
// the test's own link are wrapped, which is where the library's static
// build lives; the C library's internal calls are not.
#ifndef ZORVAN_TEST_LIBC_FAULTS_H
#define ZORVAN_TEST_LIBC_FAULTS_H

#include <stddef.h>

namespace faults {

// malloc: refuses the next call asking for exactly `bytes` (ENOMEM).
void failNextMallocOf(size_t bytes);
// How many allocations the armed malloc refused.
int refusedMallocs();

// putenv: refuses every string that starts with `prefix` (errno `error`),
// remembering the last string refused.
void refusePutenvOf(const char *prefix, int error);
const void *lastRefusedPutenv();
// Whether `p` has since been passed to free().
bool wasFreed(const void *p);

// getenv: once a putenv of "name=..." has gone through, getenv(name)
// answers null as if the variable had vanished.
void hideAfterPutenv(const char *name);

// dlclose: fails without closing, leaving dlerror() with `reason`-like
// text from a failed dlopen of a path that does not exist.
void failDlclose();
// The handle the last dlclose call received (armed or not).
void *lastDlcloseHandle();
// The path the failing dlclose makes dlerror() report about.
extern const char kMissingLibrary[];

// The real calls, for checks that must not go through the wrappers.
char *realGetenv(const char *name);

}  // namespace faults

#endif
