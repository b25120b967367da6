// The trace log: one line per call appended to /tmp/db2acstrace.log while
// that file exists and is writable for the real user.
//
// The path lies in a world-writable directory, so the file is treated as
// hostile until proven otherwise: it is never created, a symbolic link is
// never followed, a FIFO or device never blocks us, and a file owned by
// another user never receives DB2's trace (it carries vendor-option values
// and paths). Each line leaves in a single write(2) on an O_APPEND
// descriptor, so lines of processes tracing at once never interleave.
#include "zorvan/tmp_rules.h"
#include "zorvan/trace.h"
#include "zorvan/trace_sink.h"
#include "zorvan/trace_texts.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
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
// Room for the prefix in front of the message: at most 40 characters.
constexpr size_t kPrefixRoom = 48;

bool mayReceiveTrace(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  // A file of root's is accepted whoever we are; only another owner costs
  // a line the getuid system call.
  return zorvan::traceFileAccepts(st, st.st_uid == 0 ? 0 : getuid());
}

ZorvanTraceSink gSink = nullptr;
void *gSinkContext = nullptr;

// Both formatting stages; message (kStageBuffer bytes) receives
// "tag: <expanded format>".
void formatInStages(char *message, const char *tag, const char *format, va_list values) {
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

// The text of both stages in one pass, whenever the first stage would cut
// nothing and the tag holds no '%': then the joined format is "tag: "
// followed by the caller's format, so the message is "tag: " followed by
// the caller's format expanded, cut where the second stage cuts. A format
// without '%' expands to itself. (No format the library traces with uses
// %n, the one conversion that would count the tag.) Returns the length.
size_t formatMessage(char *message, const char *tag, const char *format, va_list values) {
  size_t tagLength = strlen(tag);
  size_t formatLength = strlen(format);
  if (tagLength + 2 + formatLength >= kStageLimit || strchr(tag, '%') != nullptr) {
    formatInStages(message, tag, format, values);
    return strlen(message);
  }
  memcpy(message, tag, tagLength);
  message[tagLength] = ':';
  message[tagLength + 1] = ' ';
  char *text = message + tagLength + 2;
  if (strchr(format, '%') == nullptr) {
    memcpy(text, format, formatLength + 1);
    return tagLength + 2 + formatLength;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(text, kStageLimit - tagLength - 2, format, values);
#pragma GCC diagnostic pop
  // A value may carry a NUL (%c); the message ends there, as it always has.
  return tagLength + 2 + strlen(text);
}

char *twoDigits(char *out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss " as "%d" and "%02d" print it, into
// prefix; 0 when a field lies outside 0..99 or the pid is negative, where
// the line is left to snprintf.
size_t formatPrefix(char (&prefix)[kPrefixRoom], int pid, const struct tm &local) {
  const int fields[6] = {local.tm_mon + 1, local.tm_mday, local.tm_year % 100,
                         local.tm_hour,    local.tm_min,  local.tm_sec};
  const char after[6] = {'/', '/', ' ', ':', ':', ' '};
  for (int field : fields)
    if (field < 0 || field > 99) return 0;
  if (pid < 0) return 0;

  char *out = prefix;
  memcpy(out, ZORVAN_TRACE_LINE_PREFIX, sizeof ZORVAN_TRACE_LINE_PREFIX - 1);
  out += sizeof ZORVAN_TRACE_LINE_PREFIX - 1;
  char digits[12];
  size_t count = 0;
  unsigned value = static_cast<unsigned>(pid);
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  *out++ = ':';
  *out++ = ' ';
  for (size_t i = 0; i < 6; ++i) {
    out = twoDigits(out, fields[i]);
    *out++ = after[i];
  }
  return static_cast<size_t>(out - prefix);
}

// One line, one write(2). Never creates the file: tracing is switched on
// only by creating it by hand. The message has kPrefixRoom bytes free in
// front of it and one byte free after it.
void appendLine(char *message, size_t length) {
  int fd = open(ZORVAN_TRACE_PATH,
                O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  time_t now = time(nullptr);
  struct tm local;
  if (mayReceiveTrace(fd) && localtime_r(&now, &local) != nullptr) {
    int pid = static_cast<int>(getpid());
    char prefix[kPrefixRoom];
    size_t prefixLength = formatPrefix(prefix, pid, local);
    ssize_t written;
    if (prefixLength > 0) {
      // At most 40 + 2046 + 1 characters: never cut.
      char *line = message - prefixLength;
      memcpy(line, prefix, prefixLength);
      message[length] = '\n';
      written = write(fd, line, prefixLength + length + 1);
    } else {
      char line[kLineBuffer];
      int lineLength = snprintf(line, sizeof line, ZORVAN_TRACE_LINE_FORMAT,
                                pid, local.tm_mon + 1, local.tm_mday, local.tm_year % 100,
                                local.tm_hour, local.tm_min, local.tm_sec, message);
      written = 0;
      if (lineLength > 0)
        written = write(fd, line,
                        static_cast<size_t>(lineLength) < sizeof line
                            ? static_cast<size_t>(lineLength)
                            : sizeof line - 1);
    }
    (void)written;  // tracing never fails its caller
  }
  close(fd);
}

struct ErrnoKeeper {
  int saved = errno;
  ~ErrnoKeeper() { errno = saved; }
};

}  // namespace

extern "C" void zorvanSetTraceSink(ZorvanTraceSink sink, void *context) {
  gSink = sink;
  gSinkContext = context;
}

extern "C" void SqluvErrorLog(const char *tag, const char *format, ...) {
  // Tracing reports nothing back, errno included: the leaving line of a
  // forwarded call is written after the back end has set it.
  ErrnoKeeper keepCallersErrno;
  // The one test a call costs while tracing is off.
  if (gSink == nullptr && access(ZORVAN_TRACE_PATH, W_OK) != 0) return;

  char buffer[kPrefixRoom + kStageBuffer];
  char *message = buffer + kPrefixRoom;
  va_list values;
  va_start(values, format);
  size_t length = formatMessage(message, tag, format, values);
  va_end(values);

  if (gSink != nullptr)
    gSink(message, gSinkContext);
  else
    appendLine(message, length);
}
