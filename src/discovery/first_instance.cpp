// The first-instance scan: "Instance001" when its DB2 agent marker exists,
// otherwise the first entry of the instances directory, in directory
// order, that is a directory holding the marker.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "bounded.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"

namespace {

const char kTag[] = "get_first_zorvan_instname";
const char kDefaultInstance[] = "Instance001";

void takeName(char *name, size_t size, const char *found) {
  memset(name, 0, size);
  zorvan::copyName(name, size, found);
}

bool probeDefaultInstance(const char *instancesDir) {
  char probe[ZORVAN_PATH_MAX];
  struct stat st;
  if (zorvan::formatPath(probe, sizeof probe, "%s/%s/Db2Agent", instancesDir, kDefaultInstance)) {
    if (stat(probe, &st) == 0) return true;
  } else {
    SqluvErrorLog(kTag, "Default instance path does not fit in %d bytes, not probed: %s",
                  ZORVAN_PATH_MAX, probe);
  }
  SqluvErrorLog(kTag, "Instance001 doesnt have DB2 iKA installed. prop_dirname=[%s]", probe);
  return false;
}

// The three tests of one directory entry, each failure traced in words.
bool entryQualifies(const char *entry) {
  char instanceDir[ZORVAN_PATH_MAX];
  if (!zorvan::formatPath(instanceDir, sizeof instanceDir, "%s/Zorvan/%s", qxReg, entry)) {
    SqluvErrorLog(kTag, "Skipping %s: its path does not fit in %d bytes\n", entry, ZORVAN_PATH_MAX);
    return false;
  }
  struct stat st;
  if (stat(instanceDir, &st) != 0) {
    int error = errno;
    SqluvErrorLog(kTag, "stat(%s) failed, errno: %d\n", instanceDir, error);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SqluvErrorLog(kTag, "not a dir : %s\n", entry);
    return false;
  }
  char agent[ZORVAN_PATH_MAX];
  if (!zorvan::formatPath(agent, sizeof agent, "%s/Db2Agent", instanceDir)) {
    SqluvErrorLog(kTag, "Skipping %s: its agent marker path does not fit in %d bytes\n", entry,
                  ZORVAN_PATH_MAX);
    return false;
  }
  if (stat(agent, &st) != 0) {
    SqluvErrorLog(kTag, "stat(%s) failed, DB2 Agent is not installed under instance = %s\n", agent,
                  instanceDir);
    return false;
  }
  return true;
}

int scan(char *name, size_t size) {
  // Exported, so another module may call it before db2ACSInitialize has
  // fixed the registry directory.
  fixRegistryDir();
  char instancesDir[ZORVAN_PATH_MAX];
  if (!zorvan::formatPath(instancesDir, sizeof instancesDir, "%s/Zorvan", qxReg)) {
    SqluvErrorLog(kTag, "Instances directory path does not fit in %d bytes: registry directory %s",
                  ZORVAN_PATH_MAX, qxReg);
    return -1;
  }
  DIR *dir = opendir(instancesDir);
  if (dir == nullptr) {
    int error = errno;
    SqluvErrorLog(kTag, "open(%s) failed with errno: %d\n", instancesDir, error);
    return -1;
  }

  int result = -1;
  if (probeDefaultInstance(instancesDir)) {
    takeName(name, size, kDefaultInstance);
    result = 0;
  } else {
    while (const struct dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      if (!entryQualifies(entry->d_name)) continue;
      takeName(name, size, entry->d_name);
      SqluvErrorLog(kTag, "Got instance name:  %s\n", name);
      result = 0;
      break;
    }
  }
  closedir(dir);
  return result;
}

}  // namespace

extern "C" int get_first_zorvan_instname(char *name, size_t size) {
  SqluvErrorLog(kTag, "-----------Entered--------");
  int result;
  if (name == nullptr || size == 0) {
    SqluvErrorLog(kTag, "Invalid arguments \n");
    result = -1;
  } else {
    result = scan(name, size);
  }
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return result;
}
