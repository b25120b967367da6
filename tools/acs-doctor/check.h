// The installation check: whom to check as, the checking process, and the
// verdict with its exit status. The report it renders is the checking
// process's own JSON, with the verdict added.
#ifndef ACS_DOCTOR_CHECK_H
#define ACS_DOCTOR_CHECK_H

#include "options.h"

namespace doctor {

int checkInstallation(const Options &options);

}  // namespace doctor

#endif
