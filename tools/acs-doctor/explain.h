// The one decision tree: where discovery stopped (or the load failed),
// turned into a cause and a fix from the table of causes, looking at the
// files involved to tell the possible reasons apart. The live check runs
// it in the checking process, as the subject; --trace in the doctor.
#ifndef ACS_DOCTOR_EXPLAIN_H
#define ACS_DOCTOR_EXPLAIN_H

#include <string>
#include <vector>

#include "causes.h"
#include "findings.h"
#include "login_files.h"

namespace doctor {

// The one reader of what the library did: its trace messages ("tag:
// message", texts from zorvan/trace_texts.h) read as facts and a stage.
// The live check reads the lines of its own GetZorvanBaseDir call, the
// trace explainer those of a db2ACSInitialize in a trace log.
Facts interpret(const std::vector<std::string> &messages);

// A format's fixed text before its first conversion.
std::string textBefore(const char *format);
bool startsWith(const std::string &text, const std::string &head);

struct Context {
  bool live = false;  // probes run as the user discovery ran as
  std::string user;   // that user (live), or the trace file's owner
  uid_t uid = 0;
  std::string registryOrigin;     // "QXREG from ...", "the default; ..."
  bool registryFromVariable = false;
  LoginFiles login;               // the user's login files, for fixes that set variables
};

std::vector<Problem> explainDiscovery(const Facts &facts, const Context &context);
// The load's problems (none when it loaded whole).
std::vector<Problem> explainLoad(const Facts &facts, const Context &context);

// "a\rb" shown as "a\\rb", control characters made visible.
std::string visible(const std::string &text);
std::string modeText(unsigned mode);

}  // namespace doctor

#endif
