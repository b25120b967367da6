// What the library takes from its environment in a process with raised
// privileges: a set-user-ID or set-group-ID program, or one given
// capabilities when it was started. The caller chose that environment,
// but the back end the library loads runs with privileges the caller
// lacks, so a path or name from it is used only when nobody but root and
// the privileged user could have chosen what it leads to.
#ifndef ZORVAN_DISCOVERY_RAISED_PRIVILEGES_H
#define ZORVAN_DISCOVERY_RAISED_PRIVILEGES_H

#include <stddef.h>

namespace zorvan {

// The kernel's own verdict on this process (AT_SECURE, the test the C
// library's secure_getenv makes). Asked afresh each time and never
// overridable: nothing a caller or a test sets changes it, short of
// starting a program that really has raised privileges.
bool raisedPrivileges();

// Room for any reason trustedDirectoryChain gives.
constexpr size_t kReasonMax = 1024 + 128;

// Whether nobody but root and the privileged user can change what the
// absolute path names: it and every directory above it, "/" first, is a
// directory (not a symbolic link) owned by root or by the privileged user
// and writable by neither its group nor others. The privileged user is
// the effective user when the process was raised to it; in a process whose
// effective user is the one who started it (set-group-ID, or given
// capabilities) only root counts. False, with the reason (naming the
// directory at fault) in reason, otherwise.
bool trustedDirectoryChain(const char *path, char (&reason)[kReasonMax]);

// An instance name that stays inside the instances directory: not empty,
// no '/', and neither "." nor "..".
bool plainInstanceName(const char *name);

}  // namespace zorvan

#endif
