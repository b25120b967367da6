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
#include "zorvan/trace_texts.h"

namespace {

const char kTag[] = ZORVAN_TAG_SCAN;
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
  SqluvErrorLog(kTag, ZORVAN_TEXT_NO_DEFAULT_AGENT, probe);
  return false;
}

// "<qxReg>/Zorvan/<entry>" and its agent marker path, built on the
// instances directory path once per scan: each entry only appends.
struct EntryPaths {
  char instanceDir[ZORVAN_PATH_MAX];
  char agent[ZORVAN_PATH_MAX];
  size_t prefixLength;  // of "<qxReg>/Zorvan/"

  explicit EntryPaths(const char *instancesDir) {
    size_t length = strlen(instancesDir);  // fits: formatPath said so
    memcpy(instanceDir, instancesDir, length);
    instanceDir[length] = '/';
    prefixLength = length + 1;
  }
};

// The three tests of one directory entry, each failure traced in words.
// The entry is looked at through the open directory, by its name: the
// same file its full path names (the directory was opened by that path
// moments ago), without walking that path again for each test.
bool entryQualifies(int dirFd, EntryPaths &paths, const struct dirent *entry) {
  static const char kAgent[] = "/Db2Agent";
  const char *name = entry->d_name;
  size_t nameLength = strlen(name);
  // The paths must fit in ZORVAN_PATH_MAX bytes, as snprintf would say.
  if (paths.prefixLength + nameLength >= ZORVAN_PATH_MAX) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_ENTRY_TOO_LONG, name, ZORVAN_PATH_MAX);
    return false;
  }
  char *instanceDir = paths.instanceDir;
  memcpy(instanceDir + paths.prefixLength, name, nameLength + 1);
  size_t instanceLength = paths.prefixLength + nameLength;
  bool agentFits = instanceLength + sizeof kAgent - 1 < ZORVAN_PATH_MAX;
  char *agent = paths.agent;
  if (agentFits) {
    memcpy(agent, instanceDir, instanceLength);
    memcpy(agent + instanceLength, kAgent, sizeof kAgent);
  }
  const char *agentInDir = agent + paths.prefixLength;  // "<entry>/Db2Agent"
  struct stat st;

  // An entry that is itself a directory can be answered by its marker
  // alone: the marker found, or missing with ENOENT, means the lookup went
  // through the entry as a directory, so the stat of the entry would have
  // succeeded and shown a directory; the outcome and the trace are those
  // of the three tests (an entry removed meanwhile gives what they give
  // when it goes between them). Anything else takes the tests one by one.
  if (entry->d_type == DT_DIR && agentFits) {
    if (fstatat(dirFd, agentInDir, &st, 0) == 0) return true;
    if (errno == ENOENT) {
      SqluvErrorLog(kTag, ZORVAN_TEXT_NO_AGENT, agent, instanceDir);
      return false;
    }
  }

  if (fstatat(dirFd, name, &st, 0) != 0) {
    int error = errno;
    SqluvErrorLog(kTag, ZORVAN_TEXT_ENTRY_STAT_FAILED, instanceDir, error);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_NOT_A_DIR, name);
    return false;
  }
  if (!agentFits) {
    SqluvErrorLog(kTag, "Skipping %s: its agent marker path does not fit in %d bytes\n", name,
                  ZORVAN_PATH_MAX);
    return false;
  }
  if (fstatat(dirFd, agentInDir, &st, 0) != 0) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_NO_AGENT, agent, instanceDir);
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
    SqluvErrorLog(kTag, ZORVAN_TEXT_SCAN_OPEN_FAILED, instancesDir, error);
    return -1;
  }

  int result = -1;
  if (probeDefaultInstance(instancesDir)) {
    takeName(name, size, kDefaultInstance);
    result = 0;
  } else {
    EntryPaths paths(instancesDir);
    int dirFd = dirfd(dir);
    while (const struct dirent *entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      if (!entryQualifies(dirFd, paths, entry)) continue;
      takeName(name, size, entry->d_name);
      SqluvErrorLog(kTag, ZORVAN_TEXT_GOT_INSTANCE, name);
      result = 0;
      break;
    }
  }
  closedir(dir);
  return result;
}

}  // namespace

extern "C" int get_first_zorvan_instname(char *name, size_t size) {
  SqluvErrorLog(kTag, ZORVAN_TEXT_ENTERED);
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
