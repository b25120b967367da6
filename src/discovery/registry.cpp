// The registry directory: taken from QXREG the first time it is needed,
// the default when QXREG is unset or empty, and never changed after. In a
// process with raised privileges QXREG counts only when nobody but root
// and the privileged user can change the directory it names.
#include <stdlib.h>

#include "raised_privileges.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

namespace {

const char kTag[] = ZORVAN_TAG_FIX_REGISTRY;

// Whether QXREG's value may decide the registry in this process; traces
// the refusal when it may not.
bool mayUse(const char *value) {
  if (!zorvan::raisedPrivileges()) return true;
  char reason[zorvan::kReasonMax];
  if (zorvan::trustedDirectoryChain(value, reason)) return true;
  SqluvErrorLog(kTag, ZORVAN_TEXT_QXREG_IGNORED, value, reason, ZORVAN_DEFAULT_REGISTRY);
  return false;
}

}  // namespace

extern "C" {
const char *qxReg = nullptr;

void fixRegistryDir(void) {
  if (qxReg != nullptr && qxReg[0] != '\0') return;
  qxReg = getenv("QXREG");
  if (qxReg == nullptr || qxReg[0] == '\0' || !mayUse(qxReg)) qxReg = ZORVAN_DEFAULT_REGISTRY;
}
}
