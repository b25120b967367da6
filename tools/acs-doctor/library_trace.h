// The one reader of what the library did: its trace lines ("tag: message",
// texts from zorvan/trace_texts.h) read as facts and the stage where
// discovery stopped. The live check reads the lines of its own
// GetZorvanBaseDir call, the trace reader those of a db2ACSInitialize in a
// trace log; both then name causes from the same facts.
#ifndef ACS_DOCTOR_LIBRARY_TRACE_H
#define ACS_DOCTOR_LIBRARY_TRACE_H

#include <string>
#include <vector>

#include "zorvan/trace_texts.h"

namespace doctor {

// Every ACS entry point as the library's trace shows it: first
// db2ACSQueryApiVersion, which the library answers itself, then the rows
// of zorvan/entry_points.def in resolution order.
struct EntryPoint {
  const char *function;  // "db2ACSInitialize"
  const char *tag;       // its trace tag, "db2ACSInitialize()"
  const char *marker;    // the debug marker that holds it
  const char *label;     // the loader's "f_db2ACS... = %p" line; null for the first
  const char *calling;   // the line written just before the back end runs; null for the first
  const char *symbol;    // the back end's symbol; null for the first
};

inline constexpr EntryPoint kEntryPoints[] = {
    {"db2ACSQueryApiVersion", ZORVAN_QUERY_API_TAG, ZORVAN_QUERY_API_MARKER, nullptr, nullptr, nullptr},
#define ACS_ENTRY_POINT(Name, Code, Label, Calling, Params, Args) \
  {"db2ACS" #Name, ZORVAN_ENTRY_TAG(Name), ZORVAN_ENTRY_MARKER(Name), Label, Calling, ZORVAN_BACKEND_SYMBOL(Name)},
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_POINT
#define ACS_FORWARDER_ENTRY ACS_ENTRY_POINT
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_POINT
};

struct ScanEntry {
  std::string name;
  bool chosen = false;
  std::string reason;  // why it was passed over
};

// Where discovery stopped. The JSON names (stageName) are an interface.
enum class Stage {
  Bound,          // GetZorvanBaseDir succeeded
  NoInstance,     // no name, and the scan found nothing
  PathTooLong,    // the properties path did not fit
  NoProperties,   // the properties file could not be opened
  NoHome,         // the properties file gave no dZORVANHOME value
  HomeTooLong,    // dZORVANHOME longer than the library takes
  NotAccessible,  // the back end failed the execute test
  Other
};
const char *stageName(Stage stage);
Stage stageNamed(const std::string &name);

// One discovery (and, from a trace, one binding) as its trace lines show it.
struct Facts {
  std::string registry;
  std::string instance;
  std::string instanceOrigin;  // "vendor options", "ZORVAN_INST", "first-instance scan" or ""

  bool scanRan = false;
  std::string instancesDir;
  bool scanOpened = true;
  int scanOpenErrno = 0;
  bool defaultProbeHit = false;
  std::vector<ScanEntry> scan;

  // What a process with raised privileges did not take from its
  // environment: QXREG's value and the reason, the instance name refused
  // and where it came from ("ZORVAN_INST" or "vendor options").
  std::string qxregIgnored, qxregReason, qxregFaultDir, instanceIgnored, instanceIgnoredFrom;

  std::string propertiesPath;
  std::string home;
  std::string baseDir;
  std::string libraryPath;  // empty when the properties gave no home
  Stage stage = Stage::Other;

  // The load: from the loader's lines of a trace, or from --load.
  bool loadTried = false;
  bool loaded = false;
  std::string loadError;             // dlerror() text
  std::vector<std::string> missing;  // back-end symbols not found
};

Facts interpret(const std::vector<std::string> &messages);

// A format's fixed text before its first conversion.
std::string textBefore(const char *format);
bool startsWith(const std::string &text, const std::string &head);

}  // namespace doctor

#endif
