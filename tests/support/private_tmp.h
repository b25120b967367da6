// A private /tmp for the calling process: its own mount namespace with a
// fresh tmpfs on /tmp, so the library's fixed paths (the trace file, the
// debug markers) are never the host's. Needs root.
#ifndef ZORVAN_TEST_PRIVATE_TMP_H
#define ZORVAN_TEST_PRIVATE_TMP_H

#include <string>

namespace testsupport {

// false, with the reason in why, when the namespace or the mount fails.
bool isolateTmp(std::string &why);

}  // namespace testsupport

#endif
