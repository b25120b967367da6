// acs-doctor's command line.
#ifndef ACS_DOCTOR_OPTIONS_H
#define ACS_DOCTOR_OPTIONS_H

#include <sys/types.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace doctor {

constexpr int kExitBinds = 0;
constexpr int kExitDoesNotBind = 1;
constexpr int kExitUsage = 2;

// The vmName field of the vendor-options record is 18 bytes, NUL included.
constexpr std::size_t kVmNameMax = 17;

struct Options {
  bool help = false;
  bool json = false;
  bool brief = false;
  bool load = false;
  bool verbose = false;
  bool haveVmName = false;
  std::string vmName;
  std::string asUser;
  std::string pid;
  std::string traceFile;  // --trace: explain this trace log instead
};

// 0 on success, else kExitUsage after a message on stderr.
int parseOptions(int argc, char **argv, Options &out);
void printUsage(const char *program);

// The installation check: whom to check as, the checking process, and the
// verdict with its exit status. The report it renders is the checking
// process's own JSON, with the verdict added.
int checkInstallation(const Options &options);

// acs-doctor --trace FILE: explains a captured trace log.
// Prints each process's calls, the first failure and its cause. Returns
// 0 when no call failed, 1 when one did, 2 when the file cannot be read or
// holds no trace line.
int explainTraceFile(const std::string &path, bool json, std::FILE *out, std::FILE *err);
// A trace log's bytes read as what --trace --json prints; null when they
// hold no trace line. owner: the trace file's owner, whose login files the
// fixes name.
nlohmann::json readTrace(const std::string &bytes, uid_t owner);

}  // namespace doctor

#endif
