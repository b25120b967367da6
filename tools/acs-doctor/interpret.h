// The one reader of what the library did: its trace messages ("tag:
// message", texts from zorvan/trace_texts.h) read as facts and a stage.
// The live check reads the lines of its own GetZorvanBaseDir call, the
// trace explainer those of a db2ACSInitialize in a trace log.
#ifndef ACS_DOCTOR_INTERPRET_H
#define ACS_DOCTOR_INTERPRET_H

#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

Facts interpret(const std::vector<std::string> &messages);

// A format's fixed text before its first conversion.
std::string textBefore(const char *format);
bool startsWith(const std::string &text, const std::string &head);

}  // namespace doctor

#endif
