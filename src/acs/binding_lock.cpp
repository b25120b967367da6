// A mutex of one word on the kernel's futex. Not pthread_mutex_lock: on C
// libraries before 2.34 it lives in libpthread, which the library must not
// pull into DB2's process (it depends on libc alone). A waiter sleeps in
// the kernel rather than spinning: binding runs discovery and dlopen, and
// up to one thread per database may wait for it.
#include "binding_lock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorvan {

namespace {

// 0 free, 1 held, 2 held and someone may be asleep on it.
int gBindingLock = 0;

void futexCall(int op, int value) {
  syscall(SYS_futex, &gBindingLock, op, value, nullptr, nullptr, 0);
}

}  // namespace

void lockBinding() {
  int seen = 0;
  if (__atomic_compare_exchange_n(&gBindingLock, &seen, 1, false, __ATOMIC_ACQUIRE,
                                  __ATOMIC_RELAXED))
    return;
  // Contended: mark the lock as having sleepers, and sleep until it is
  // handed over free. The wait returns at once when the word is no longer
  // 2, so a release between the exchange and the wait is not missed.
  if (seen != 2) seen = __atomic_exchange_n(&gBindingLock, 2, __ATOMIC_ACQUIRE);
  while (seen != 0) {
    futexCall(FUTEX_WAIT_PRIVATE, 2);
    seen = __atomic_exchange_n(&gBindingLock, 2, __ATOMIC_ACQUIRE);
  }
}

void unlockBinding() {
  if (__atomic_exchange_n(&gBindingLock, 0, __ATOMIC_RELEASE) == 2) futexCall(FUTEX_WAKE_PRIVATE, 1);
}

}  // namespace zorvan
