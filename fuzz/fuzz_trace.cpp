// The trace call with arbitrary values, long messages and arbitrary tags,
// through both of its ends: the in-process sink and the trace file at its
// fixed path (in the fuzzer's private /tmp). For the same call the file
// must hold exactly one "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss " prefix, the
// message the sink received, and a newline; with the file absent nothing
// may appear.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "zorvan/trace.h"
#include "zorvan/trace_sink.h"

namespace {

fuzzsupport::CheckingSink gSink;
std::string gPidPrefix;

struct Values {
  std::string tag, a, b, c;
  int n;
  long long big;
  const void *p;
};

// The formats the library traces with, each fed arbitrary values.
void trace(int format, const Values &v) {
  const char *tag = v.tag.c_str();
  switch (format) {
    case 0: SqluvErrorLog(tag, "%s", v.a.c_str()); break;
    case 1: SqluvErrorLog(tag, "-----------Entered--------"); break;
    case 2: SqluvErrorLog(tag, "malloc(%d)failed.", v.n); break;
    case 3: SqluvErrorLog(tag, "open(%s) failed with errno: %d\n", v.a.c_str(), v.n); break;
    case 4: SqluvErrorLog(tag, "db2ACS_handle is:%p, f_db2ACSInitialize is %p", v.p, v.p); break;
    case 5:
      SqluvErrorLog(tag, "dlopen failed when loading \"%s\", error = \"%s\", pwd=\"%s\"",
                    v.a.c_str(), v.b.c_str(), v.c.c_str());
      break;
    case 6:
      SqluvErrorLog(tag, "Properties path does not fit in %d bytes: registry directory %s, instance %s",
                    v.n, v.a.c_str(), v.b.c_str());
      break;
    default: SqluvErrorLog(tag, "%lld %s %lld", v.big, v.a.c_str(), v.big); break;
  }
}

std::string fileContent() {
  std::string out;
  int fd = open(ZORVAN_TRACE_PATH, O_RDONLY);
  if (fd < 0) return out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fd);
  return out;
}

bool digits(const std::string &s, size_t at, size_t count) {
  for (size_t i = at; i < at + count; ++i)
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  return true;
}

// "mm/dd/yy hh:mm:ss " after the pid prefix.
bool stampAt(const std::string &s, size_t at) {
  static const char kShape[] = "00/00/00 00:00:00 ";
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    if (at + i >= s.size()) return false;
    if (kShape[i] == '0' ? !digits(s, at + i, 1) : s[at + i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::privateTmp();
  gPidPrefix = "LIBDB2ACS-" + std::to_string(getpid()) + ": ";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int format = in.ConsumeIntegralInRange(0, 7);
  const bool fileExists = in.ConsumeBool();
  Values v;
  v.n = in.ConsumeIntegral<int>();
  v.big = in.ConsumeIntegral<long long>();
  v.p = reinterpret_cast<const void *>(in.ConsumeIntegral<uintptr_t>());
  v.tag = in.ConsumeRandomLengthString(64);
  // A tag is a function name: short, and never with %, as it becomes
  // part of the format.
  for (char &c : v.tag)
    if (c == '%') c = '_';
  v.b = in.ConsumeRandomLengthString(3000);
  v.c = in.ConsumeRandomLengthString(3000);
  v.a = in.ConsumeRemainingBytesAsString();

  gSink = {};
  zorvanSetTraceSink(fuzzsupport::checkMessage, &gSink);
  trace(format, v);
  zorvanSetTraceSink(nullptr, nullptr);
  if (gSink.count != 1) fuzzsupport::fail("the sink did not receive exactly one message");

  unlink(ZORVAN_TRACE_PATH);
  if (fileExists) {
    int fd = open(ZORVAN_TRACE_PATH, O_CREAT | O_WRONLY | O_TRUNC, 0666);
    if (fd < 0) fuzzsupport::fail("cannot create the trace file");
    close(fd);
  }
  trace(format, v);
  std::string content = fileContent();
  if (!fileExists) {
    struct stat st;
    if (lstat(ZORVAN_TRACE_PATH, &st) == 0) fuzzsupport::fail("the trace file was created");
    return 0;
  }
  const std::string &message = gSink.last;
  size_t stamp = gPidPrefix.size();
  const size_t kStamp = 18;
  if (content.compare(0, stamp, gPidPrefix) != 0 || !stampAt(content, stamp))
    fuzzsupport::fail("line prefix malformed");
  if (content.size() != stamp + kStamp + message.size() + 1 ||
      content.compare(stamp + kStamp, message.size(), message) != 0 || content.back() != '\n')
    fuzzsupport::fail("the file's line differs from the sink's message");
  return 0;
}
