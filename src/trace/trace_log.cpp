// The trace log: one line per call appended to /tmp/db2acstrace.log while
// that file exists and is writable for the real user.
//
// The path lies in a world-writable directory, so the file is treated as
// hostile until proven otherwise: it is never created, a symbolic link is
// never followed, a FIFO or device never blocks us, and a file owned by
// another user never receives DB2's trace (it carries vendor-option values
// and paths). Each line leaves in a single write(2) on an O_APPEND
// descriptor, so lines of processes tracing at once never interleave.
#include "zorvan/trace.h"
#include "zorvan/trace_sink.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// Each formatting stage gets 2047 of its 2048 bytes, so at most 2046
// characters survive a stage; trace readers rely on that cut.
constexpr size_t kStageBuffer = 2048;
constexpr size_t kStageLimit = kStageBuffer - 1;
// "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss " + message + "\n" with room to spare.
constexpr size_t kLineBuffer = kStageBuffer + 128;

bool mayReceiveTrace(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) return false;
  return st.st_uid == 0 || st.st_uid == getuid();
}

ZorvanTraceSink gSink = nullptr;
void *gSinkContext = nullptr;

// Both formatting stages; message receives "tag: <expanded format>".
void formatMessage(char (&message)[kStageBuffer], const char *tag, const char *format,
                   va_list values) {
  char joined[kStageBuffer];
  joined[0] = '\0';
  message[0] = '\0';
  snprintf(joined, kStageLimit, "%s: %s", tag, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  // The tag becomes part of the format; every tag is a fixed function name
  // without '%'. The caller's values are expanded once, never re-read.
  vsnprintf(message, kStageLimit, joined, values);
#pragma GCC diagnostic pop
}

// One line, one write(2). Never creates the file: tracing is switched on
// only by creating it by hand.
void appendLine(const char *message) {
  int fd = open(ZORVAN_TRACE_PATH,
                O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  time_t now = time(nullptr);
  struct tm local;
  if (mayReceiveTrace(fd) && localtime_r(&now, &local) != nullptr) {
    char line[kLineBuffer];
    int length = snprintf(line, sizeof line, "LIBDB2ACS-%d: %02d/%02d/%02d %02d:%02d:%02d %s\n",
                          static_cast<int>(getpid()), local.tm_mon + 1, local.tm_mday,
                          local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec,
                          message);
    if (length > 0) {
      size_t size = static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length)
                                                              : sizeof line - 1;
      ssize_t written = write(fd, line, size);
      (void)written;  // tracing never fails its caller
    }
  }
  close(fd);
}

}  // namespace

extern "C" void zorvanSetTraceSink(ZorvanTraceSink sink, void *context) {
  gSink = sink;
  gSinkContext = context;
}

extern "C" void SqluvErrorLog(const char *tag, const char *format, ...) {
  // The one test a call costs while tracing is off.
  if (gSink == nullptr && access(ZORVAN_TRACE_PATH, W_OK) != 0) return;

  char message[kStageBuffer];
  va_list values;
  va_start(values, format);
  formatMessage(message, tag, format, values);
  va_end(values);

  if (gSink != nullptr)
    gSink(message, gSinkContext);
  else
    appendLine(message);
}
