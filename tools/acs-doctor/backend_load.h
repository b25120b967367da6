// --load: opens the back end the way the library does and looks up its
// fourteen entry points.
#ifndef ACS_DOCTOR_BACKEND_LOAD_H
#define ACS_DOCTOR_BACKEND_LOAD_H

#include <string>
#include <vector>

#include "findings.h"
#include "wire.h"

namespace doctor {

// The back-end symbols, in the library's resolution order.
const std::vector<std::string> &backendSymbols();

// dlopen(path, RTLD_LAZY | RTLD_LOCAL) from the back end's own directory,
// as DB2's process would be, then dlsym for each entry point. Runs in the
// checking child: the back end's constructors never run in the parent.
BackendLoad loadBackend(const std::string &path);

// For carrying a load from the checking child back to the parent.
void encodeLoad(Wire &out, const BackendLoad &load);
bool decodeLoad(WireReader &in, BackendLoad &load);

}  // namespace doctor

#endif
