#include "libc_faults.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

extern "C" {
void *__real_malloc(size_t size);
void __real_free(void *p);
int __real_putenv(char *assignment);
char *__real_getenv(const char *name);
int __real_dlclose(void *handle);
}

namespace faults {

const char kMissingLibrary[] = "/nonexistent-zorvan-test/libgone.so";

namespace {

// Plain data only: malloc is wrapped before any constructor runs.
size_t gFailBytes = 0;
bool gFailArmed = false;
int gRefused = 0;

char gPutenvPrefix[64] = "";
int gPutenvError = 0;
const void *gRefusedString = nullptr;
bool gRefusedFreed = false;

char gHiddenName[64] = "";
bool gHiddenNow = false;

bool gDlcloseFails = false;
void *gDlcloseHandle = nullptr;

void copyBounded(char (&to)[64], const char *from) {
  strncpy(to, from, sizeof to - 1);
  to[sizeof to - 1] = '\0';
}

}  // namespace

void failNextMallocOf(size_t bytes) {
  gFailBytes = bytes;
  gFailArmed = true;
}
int refusedMallocs() { return gRefused; }

void refusePutenvOf(const char *prefix, int error) {
  copyBounded(gPutenvPrefix, prefix);
  gPutenvError = error;
}
const void *lastRefusedPutenv() { return gRefusedString; }
bool wasFreed(const void *p) { return p != nullptr && p == gRefusedString && gRefusedFreed; }

void hideAfterPutenv(const char *name) { copyBounded(gHiddenName, name); }

void failDlclose() { gDlcloseFails = true; }
void *lastDlcloseHandle() { return gDlcloseHandle; }

char *realGetenv(const char *name) { return __real_getenv(name); }

}  // namespace faults

using namespace faults;

extern "C" void *__wrap_malloc(size_t size) {
  if (gFailArmed && size == gFailBytes) {
    gFailArmed = false;
    ++gRefused;
    errno = ENOMEM;
    return nullptr;
  }
  return __real_malloc(size);
}

extern "C" void __wrap_free(void *p) {
  if (p != nullptr && p == gRefusedString) gRefusedFreed = true;
  __real_free(p);
}

extern "C" int __wrap_putenv(char *assignment) {
  size_t prefix = strlen(gPutenvPrefix);
  if (prefix > 0 && strncmp(assignment, gPutenvPrefix, prefix) == 0) {
    gRefusedString = assignment;
    gRefusedFreed = false;
    errno = gPutenvError;
    return -1;
  }
  int result = __real_putenv(assignment);
  size_t hidden = strlen(gHiddenName);
  if (result == 0 && hidden > 0 && strncmp(assignment, gHiddenName, hidden) == 0 &&
      assignment[hidden] == '=')
    gHiddenNow = true;
  return result;
}

extern "C" char *__wrap_getenv(const char *name) {
  if (gHiddenNow && strcmp(name, gHiddenName) == 0) return nullptr;
  return __real_getenv(name);
}

extern "C" int __wrap_dlclose(void *handle) {
  gDlcloseHandle = handle;
  if (!gDlcloseFails) return __real_dlclose(handle);
  // Leaves a genuine loader message for dlerror() to return.
  void *none = dlopen(kMissingLibrary, RTLD_NOW);
  if (none != nullptr) __real_dlclose(none);
  return -1;
}
