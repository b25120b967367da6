// Shared by the fuzz targets: a private /tmp, and a trace sink that holds
// every message to the limits the trace promises.
#ifndef ZORVAN_FUZZ_SUPPORT_H
#define ZORVAN_FUZZ_SUPPORT_H

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>

#include <string>

namespace fuzzsupport {

// The library's fixed paths live in /tmp; a fuzzer never touches the
// host's. Enters a mount namespace of its own with a fresh tmpfs on /tmp
// (needs root), or stops.
inline void privateTmp() {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
    fprintf(stderr, "cannot give the fuzzer a private /tmp: %s (run as root)\n", strerror(errno));
    abort();
  }
}

// Each formatting stage keeps at most 2046 characters.
constexpr size_t kMessageMax = 2046;

// A sink that checks every message: bounded, and led by its tag.
struct CheckingSink {
  std::string tag;
  std::string last;
  size_t count = 0;
};

inline void checkMessage(const char *message, void *context) {
  CheckingSink &sink = *static_cast<CheckingSink *>(context);
  size_t length = strlen(message);
  if (length > kMessageMax) {
    fprintf(stderr, "trace message of %zu characters\n", length);
    abort();
  }
  if (!sink.tag.empty() && strncmp(message, sink.tag.c_str(), sink.tag.size()) != 0) {
    fprintf(stderr, "trace message without its tag: %s\n", message);
    abort();
  }
  sink.last.assign(message, length);
  ++sink.count;
}

[[noreturn]] inline void fail(const char *what) {
  fprintf(stderr, "%s\n", what);
  abort();
}

}  // namespace fuzzsupport

#endif
