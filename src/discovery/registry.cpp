// The registry directory: taken from QXREG the first time it is needed,
// the default when QXREG is unset or empty, and never changed after.
#include <stdlib.h>

#include "zorvan/discovery.h"

extern "C" {
const char *qxReg = nullptr;

void fixRegistryDir(void) {
  if (qxReg != nullptr && qxReg[0] != '\0') return;
  qxReg = getenv("QXREG");
  if (qxReg == nullptr || qxReg[0] == '\0') qxReg = ZORVAN_DEFAULT_REGISTRY;
}
}
