/* The trace call. Lines go to /tmp/db2acstrace.log, and only while that
 * file exists and is writable; nothing is ever reported back. */
#ifndef ZORVAN_TRACE_H
#define ZORVAN_TRACE_H

#ifdef __cplusplus
extern "C" {
#endif

#define ZORVAN_TRACE_PATH "/tmp/db2acstrace.log"

/* tag: the caller's name (must hold no '%'); format and values as printf. */
void SqluvErrorLog(const char *tag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

#ifdef __cplusplus
}
#endif

#endif
