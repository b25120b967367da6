// Bounded text helpers shared by the discovery functions.
#ifndef ZORVAN_DISCOVERY_BOUNDED_H
#define ZORVAN_DISCOVERY_BOUNDED_H

#include <stddef.h>
#include <string.h>

namespace zorvan {

// Copies src into a caller's name buffer the way strncpy does with the
// bound size - 1: the last byte is never written. A size of 0 writes nothing.
inline void copyName(char *name, size_t size, const char *src) {
  if (size > 0) strncpy(name, src, size - 1);
}

// snprintf that reports whether the whole text fit; a path that does not
// fit is never used, since a cut path names a different file.
bool formatPath(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace zorvan

#endif
