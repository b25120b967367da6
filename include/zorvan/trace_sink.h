/* An in-process receiver for trace messages, for tools that explain what
 * the library does (acs-doctor) without writing the trace file. Internal:
 * not part of the shared object's interface, never set inside DB2. */
#ifndef ZORVAN_TRACE_SINK_H
#define ZORVAN_TRACE_SINK_H

#ifdef __cplusplus
extern "C" {
#endif

/* Receives "tag: message" exactly as it would stand in a trace line. */
typedef void (*ZorvanTraceSink)(const char *message, void *context);

/* While a sink is set, every trace message goes to it and the trace file
 * is left alone; null restores the file. */
void zorvanSetTraceSink(ZorvanTraceSink sink, void *context);

#ifdef __cplusplus
}
#endif

#endif
