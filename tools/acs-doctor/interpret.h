// Reads a discovery run: which way the instance name was found, what the
// scan passed over and why, and where resolution stopped. Everything here
// comes from the library's return values and its trace messages.
#ifndef ACS_DOCTOR_INTERPRET_H
#define ACS_DOCTOR_INTERPRET_H

#include <string>

#include "findings.h"

namespace doctor {

Facts interpret(const DiscoveryRun &run);

// The message of "tag: message" when the tag matches, trailing newlines
// removed; false for another tag.
bool messageOf(const std::string &line, const char *tag, std::string &message);

}  // namespace doctor

#endif
