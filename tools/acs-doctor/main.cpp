// acs-doctor: tells whether DB2 would find, accept and load the ACS back
// end on this host, and why not; or, with --trace, reads what a DB2
// process wrote. The check runs in a checking process that is the subject
// (acs-doctor re-executed as that user, with its environment), using the
// library's own discovery linked in statically, its trace going to an
// in-process sink; the trace file, the markers and the caller's
// environment are left alone.
#include <cstring>

#include "doctor.h"
#include "zorvan/trace_sink.h"

int main(int argc, char **argv) {
  using namespace doctor;
  // Nothing acs-doctor calls may write the trace file.
  zorvanSetTraceSink(discardTrace, nullptr);
  if (argc == 3 && std::strcmp(argv[1], kCheckerFlag) == 0) runChecker(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], kLoadFlag) == 0) runLoadProcess(argv[2], argv[3]);
  Options o;
  if (int status = parseOptions(argc, argv, o)) return status;
  if (o.help) {
    printUsage(argc > 0 ? argv[0] : "acs-doctor");
    return kExitBinds;
  }
  if (!o.traceFile.empty()) return explainTraceFile(o.traceFile, o.json, stdout, stderr);
  return checkInstallation(o);
}
