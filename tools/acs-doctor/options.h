// acs-doctor's command line.
#ifndef ACS_DOCTOR_OPTIONS_H
#define ACS_DOCTOR_OPTIONS_H

#include <string>

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

}  // namespace doctor

#endif
