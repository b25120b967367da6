// Binding: resolve the base directory, move the process into it, open
// libqxacsint.so by its full path and fill the entry-point table.
#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

#include "entry_table.h"
#include "zorvan/backend.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace {

const char kLoadTag[] = ZORVAN_TAG_LOADER;
const char kUnloadTag[] = ZORVAN_TAG_UNLOADER;

// Appends as much of text as fits in the first 1023 bytes of path.
void appendBounded(char (&path)[ZORVAN_PATH_MAX], size_t &length, const char *text) {
  size_t room = ZORVAN_PATH_MAX - 1 - length;
  size_t take = strnlen(text, room);
  memcpy(path + length, text, take);
  length += take;
  path[length] = '\0';
}

// "<base>/libqxacsint.so", never longer than 1023 characters: a base
// directory too long for the whole file name gets what still fits.
void buildLibraryPath(char (&path)[ZORVAN_PATH_MAX], const char *baseDir) {
  size_t length = 0;
  path[0] = '\0';
  appendBounded(path, length, baseDir);
  appendBounded(path, length, "/");
  appendBounded(path, length, ZORVAN_BACKEND_LIBRARY);
}

void currentDirectory(char (&cwd)[ZORVAN_PATH_MAX]) {
  if (getcwd(cwd, sizeof cwd) == nullptr) strcpy(cwd, "(unreadable)");
}

// Looks up every slot; all found gives 1, otherwise the diagnostics of
// every slot, found or not, and 0. A failed open leaves every slot null:
// looking the names up in the process's global scope instead could bind
// some other library's functions to DB2's calls.
int resolveEntryPoints(void *handle) {
  bool complete = true;
  for (size_t i = 0; i < zorvan::kEntrySlotCount; ++i) {
    const zorvan::EntrySlot &slot = zorvan::kEntrySlots[i];
    void *symbol = handle != nullptr ? dlsym(handle, slot.symbol) : nullptr;
    zorvan::setSlotValue(slot, symbol);
    complete = complete && symbol != nullptr;
  }
  if (complete) return 1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (size_t i = 0; i < zorvan::kEntrySlotCount; ++i)
    SqluvErrorLog(kLoadTag, zorvan::kEntrySlots[i].label, zorvan::slotValue(zorvan::kEntrySlots[i]));
#pragma GCC diagnostic pop
  return 0;
}

int bindBackend(const db2ACS_CB *cb) {
  char baseDir[ZORVAN_PATH_MAX];
  if (GetZorvanBaseDir(baseDir, sizeof baseDir, cb) != 0) {
    SqluvErrorLog(kLoadTag, ZORVAN_TEXT_BASE_DIR_FAILED);
    return 0;
  }
  SqluvErrorLog(kLoadTag, ZORVAN_TEXT_LOADER_BASE_DIR_OK);
  SqluvErrorLog(kLoadTag, "Changing to base dir: \"%s\".", baseDir);
  // Not undone, and a failure is not fatal: the back end is opened by its
  // full path either way, and it expects to run in its base directory.
  if (chdir(baseDir) != 0) {
  }

  char path[ZORVAN_PATH_MAX];
  buildLibraryPath(path, baseDir);
  SqluvErrorLog(kLoadTag, ZORVAN_TEXT_LIBRARY_TO_LOAD, path);

  // The handle is published only once every pointer is stored: a thread
  // that sees it (with acquire ordering) sees the whole table, so no
  // forwarder finds the handle set and its own pointer not yet filled in.
  void *handle = dlopen(path, RTLD_LAZY);
  const char *openError = handle == nullptr ? dlerror() : nullptr;
  char cwd[ZORVAN_PATH_MAX];
  currentDirectory(cwd);
  if (handle == nullptr)
    SqluvErrorLog(kLoadTag, ZORVAN_TEXT_DLOPEN_FAILED, path,
                  openError != nullptr ? openError : "", cwd);
  else
    SqluvErrorLog(kLoadTag, "dlopen succeeded. Current dir: \"%s\", loaded: \"%s\"", cwd, path);
  SqluvErrorLog(kLoadTag, "After dlopen: db2ACS_handle is:%p", handle);

  int result = resolveEntryPoints(handle);
  __atomic_store_n(&db2ACS_handle, handle, __ATOMIC_RELEASE);
  return result;
}

}  // namespace

extern "C" int initializeFptrs(const db2ACS_CB *cb) {
  // A bound handle is taken as it is, complete or not: binding is not retried.
  int result = __atomic_load_n(&db2ACS_handle, __ATOMIC_ACQUIRE) != nullptr ? 1 : bindBackend(cb);
  SqluvErrorLog(kLoadTag, ZORVAN_TEXT_LEAVING_RESULT, result);
  return result;
}

extern "C" int unInitializeFptrs(void) {
  SqluvErrorLog(kUnloadTag, ZORVAN_TEXT_ENTERED);
  void *handle = __atomic_load_n(&db2ACS_handle, __ATOMIC_ACQUIRE);
  SqluvErrorLog(kUnloadTag, "db2ACS_handle is:%p", handle);
  if (handle != nullptr) {
    int closed = dlclose(handle);
    if (closed == 0) {
      __atomic_store_n(&db2ACS_handle, nullptr, __ATOMIC_RELEASE);
      f_db2ACSQueryApiVersion = nullptr;
      for (size_t i = 0; i < zorvan::kEntrySlotCount; ++i)
        zorvan::setSlotValue(zorvan::kEntrySlots[i], nullptr);
    } else {
      const char *reason = dlerror();
      SqluvErrorLog(kUnloadTag, "dlclose() returned failure, non-zero return code: %d, reason:\"%s\"",
                    closed, reason != nullptr ? reason : "");
    }
  }
  SqluvErrorLog(kUnloadTag, ZORVAN_TEXT_LEAVING_RESULT, 1);
  return 1;
}
