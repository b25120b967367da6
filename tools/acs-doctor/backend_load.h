// --load: opens the back end the way the library does and looks up its
// fourteen entry points.
#ifndef ACS_DOCTOR_BACKEND_LOAD_H
#define ACS_DOCTOR_BACKEND_LOAD_H

#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

// The back-end symbols, in the library's resolution order.
const std::vector<std::string> &backendSymbols();

// dlopen(path, RTLD_LAZY | RTLD_LOCAL) from the back end's own directory,
// as DB2's process would be, then dlsym for each entry point. The back end
// stays loaded (its constructors have run in this process).
BackendLoad loadBackend(const std::string &path);

}  // namespace doctor

#endif
