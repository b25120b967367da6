// A private /tmp for the calling process: its own mount namespace with a
// fresh tmpfs on /tmp, so the library's fixed paths (the trace file, the
// debug markers) are never the host's, and the host's default registry
// hidden. As root the mount namespace alone
// does; an ordinary user gets it inside a user namespace of its own, where
// it keeps its uid and gid and gives up the capabilities the namespace
// lent it once /tmp is mounted, so that it tests as that ordinary user.
#ifndef ZORVAN_TEST_PRIVATE_TMP_H
#define ZORVAN_TEST_PRIVATE_TMP_H

#include <string>

namespace testsupport {

// false, with the reason in why, when a namespace or the mount fails.
// Must be called while the process has a single thread.
bool isolateTmp(std::string &why);

}  // namespace testsupport

#endif
