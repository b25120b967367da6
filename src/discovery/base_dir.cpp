// Base directory resolution: instance name, its .properties file, the
// home directory it names, and the execute test of the back-end library
// in "<home>/Base".
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bounded.h"
#include "properties.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace {

const char kTag[] = ZORVAN_TAG_BASE_DIR;
const char kInstanceVariable[] = "ZORVAN_INST";
constexpr int kSuccess = 0;
constexpr int kFailure = -1;

// Makes a name found by the scan the process's ZORVAN_INST, so that later
// bindings (and the back end) see the same instance. The string belongs to
// the environment from then on and is never released.
bool publishInstanceName(const char *instance) {
  char assignment[2 * ZORVAN_PATH_MAX];
  snprintf(assignment, sizeof assignment, "%s=%s", kInstanceVariable, instance);
  SqluvErrorLog(kTag, "Setting the env: %s...", instance);

  size_t bytes = strlen(assignment) + 1;
  char *entry = static_cast<char *>(malloc(bytes));
  if (entry == nullptr) {
    SqluvErrorLog(kTag, "malloc(%d)failed.", static_cast<int>(bytes));
    return false;
  }
  memcpy(entry, assignment, bytes);
  if (putenv(entry) != 0) {
    int error = errno;
    free(entry);  // refused, so still ours
    SqluvErrorLog(kTag, "putenv(%s) failed with error: %d", assignment, error);
    return false;
  }
  SqluvErrorLog(kTag, ZORVAN_TEXT_PUBLISHED, assignment);
  if (getenv(kInstanceVariable) == nullptr) {
    SqluvErrorLog(kTag, "Environment variable (%s) is not set", kInstanceVariable);
    return false;
  }
  return true;
}

bool resolveInstanceName(char (&instance)[ZORVAN_PATH_MAX], const db2ACS_CB *cb) {
  memset(instance, 0, sizeof instance);
  if (GetZorvanInstanceName(instance, sizeof instance, cb) != 0) return true;
  SqluvErrorLog(kTag,
                "GetZorvanInstanceName failed, trying to get the name of the first zorvan instance name.");
  if (get_first_zorvan_instname(instance, sizeof instance) != 0) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_SCAN_FAILED);
    return false;
  }
  return publishInstanceName(instance);
}

int resolve(char *gpath, size_t size, const db2ACS_CB *cb) {
  // db2ACSInitialize fixes the registry directory first; a tool calling in
  // directly gets the same rule rather than a null path.
  fixRegistryDir();
  char instance[ZORVAN_PATH_MAX];
  if (!resolveInstanceName(instance, cb)) return kFailure;

  char propertiesPath[ZORVAN_PATH_MAX];
  if (!zorvan::formatPath(propertiesPath, sizeof propertiesPath, "%s/Zorvan/%s/Base/.properties",
                          qxReg, instance)) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_PROPERTIES_PATH_TOO_LONG, ZORVAN_PATH_MAX, qxReg, instance);
    return kFailure;
  }
  SqluvErrorLog(kTag, ZORVAN_TEXT_PROPERTIES_PATH, propertiesPath);

  FILE *properties = fopen(propertiesPath, "re");
  if (properties == nullptr) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_NO_PROPERTIES, propertiesPath);
    return kFailure;
  }
  char home[zorvan::kHomeMax + 1] = "";
  zorvan::HomeLookup lookup = zorvan::readHomeDirectory(properties, home);
  fclose(properties);

  // Empty until the key line gives a value, so the execute test fails.
  char libraryPath[ZORVAN_PATH_MAX] = "";
  if (lookup == zorvan::HomeLookup::TooLong) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_HOME_TOO_LONG, propertiesPath,
                  static_cast<int>(zorvan::kHomeMax));
    return kFailure;
  }
  if (lookup == zorvan::HomeLookup::Found)
    snprintf(libraryPath, sizeof libraryPath, "%s/Base/%s", home, ZORVAN_BACKEND_LIBRARY);
  if (access(libraryPath, X_OK) != 0) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_NOT_ACCESSIBLE, libraryPath);
    return kFailure;
  }

  SqluvErrorLog(kTag, ZORVAN_TEXT_HOME, home);
  char baseDir[ZORVAN_PATH_MAX];
  snprintf(baseDir, sizeof baseDir, "%s/Base", home);
  gpath[size - 1] = '\0';
  strncpy(gpath, baseDir, size - 1);
  return kSuccess;
}

}  // namespace

extern "C" int GetZorvanBaseDir(char *gpath, size_t size, const db2ACS_CB *cb) {
  SqluvErrorLog(kTag, ZORVAN_TEXT_ENTERED);
  if (gpath == nullptr) {
    SqluvErrorLog(kTag, "-----------Leaving --- gpath-Input parameter is null --------");
    return kFailure;
  }
  int result;
  if (size == 0) {
    SqluvErrorLog(kTag, "The base directory buffer has size 0, returning error.");
    result = kFailure;
  } else {
    result = resolve(gpath, size, cb);
  }
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return result;
}
