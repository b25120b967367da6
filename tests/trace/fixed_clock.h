// A clock the test sets: this test binary defines time() itself, so the
// library's trace code, linked in statically, reads the instant the test
// chose (the shared object DB2 loads is untouched by it).
#ifndef ZORVAN_TEST_FIXED_CLOCK_H
#define ZORVAN_TEST_FIXED_CLOCK_H

#include <time.h>

namespace testclock {

// From now on time() answers t; until the first call, the real clock.
void fixAt(time_t t);

}  // namespace testclock

#endif
