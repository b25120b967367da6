// acs-host: a command-line stand-in for the DB2 server. Loads an ACS
// library, drives it through one operation's call sequence and prints
// what every call returned. See printUsage for the command line.
#include <cstdio>

#include "acs_api.h"
#include "options.h"
#include "sequences.h"
#include "session.h"

namespace {

constexpr int kExitLoad = 3;

}  // namespace

int main(int argc, char **argv) {
  HostOptions options;
  if (int status = parseOptions(argc, argv, options)) return status;
  if (options.help) {
    printUsage(argc > 0 ? argv[0] : "acs-host");
    return 0;
  }

  std::FILE *argsLog = nullptr;
  if (!options.argsLogPath.empty()) {
    argsLog = std::fopen(options.argsLogPath.c_str(), "w");
    if (!argsLog) {
      std::perror(options.argsLogPath.c_str());
      return kExitUsage;
    }
  }

  AcsApi api;
  if (!loadAcsApi(options.libraryPath, options.backendDirect, api)) {
    if (argsLog) std::fclose(argsLog);
    return kExitLoad;
  }

  printTableHeader(options.libraryPath, options.backendDirect, sequenceName(options.sequence));
  Session session(api, options.keepGoing, argsLog);
  runSequence(session, options);
  int status = session.finish();

  // Unloading runs the library's destructors: a crash there shows too.
  unloadAcsApi(api);
  if (argsLog) std::fclose(argsLog);
  return status;
}
