#include "bounded.h"

#include <stdarg.h>
#include <stdio.h>

namespace zorvan {

bool formatPath(char *buffer, size_t size, const char *format, ...) {
  va_list values;
  va_start(values, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int length = vsnprintf(buffer, size, format, values);
#pragma GCC diagnostic pop
  va_end(values);
  return length >= 0 && static_cast<size_t>(length) < size;
}

}  // namespace zorvan
