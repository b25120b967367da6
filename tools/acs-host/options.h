// acs-host's command line.
#ifndef ACS_HOST_OPTIONS_H
#define ACS_HOST_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

enum class Sequence { Backup, Restore, Delete, Query };

struct HostOptions {
  std::string libraryPath;
  bool backendDirect = false;  // libraryPath is a back end, call its pp names
  Sequence sequence = Sequence::Backup;
  bool withVendorOptions = false;  // --vm-name or --options-size given
  std::string vmName;
  uint32_t optionsSize = 0;
  bool haveObject = false;  // --object given
  uint64_t objectId = 0;
  std::string database = "SAMPLE";
  std::vector<std::string> paths;  // absolute; the working directory by default
  bool keepGoing = false;
  std::string argsLogPath;
  bool help = false;
};

// Exit status for a usage error.
constexpr int kExitUsage = 2;

void printUsage(const char *program);

// Fills out from argv. Returns 0, or kExitUsage after printing why.
int parseOptions(int argc, char **argv, HostOptions &out);

const char *sequenceName(Sequence sequence);

#endif
