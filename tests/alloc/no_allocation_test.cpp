// Forwarded calls never touch the heap, bound or not, traced or not: DB2
// makes them from its own threads at any moment, and its memory is its own
// business. The test executable counts every allocator call made in the
// process (counting_allocator.cpp), the shared object's included.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "counting_allocator.h"
#include "installation.h"
#include "loaded_library.h"
#include "test_support.h"

using testsupport::callWithRecord;
using testsupport::LoadedLibrary;

namespace {

template <typename Fn>
Fn typed(void *symbol) {
  Fn fn;
  memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

struct Forwarder {
  const char *name;
  db2ACS_RC (*call)(void *symbol, db2ACS_ReturnCode *rc);
  void *symbol;
};

// The thirteen forwarders and the version query, resolved up front.
std::vector<Forwarder> forwarders(const LoadedLibrary &lib) {
  std::vector<Forwarder> all = {
#define ROW(Name, Code, Label, Calling, Params, Args)                           \
  {"db2ACS" #Name,                                                              \
   [](void *symbol, db2ACS_ReturnCode *rc) {                                    \
     return callWithRecord(typed<db2ACS##Name##_fn>(symbol), rc);               \
   },                                                                           \
   nullptr},
#define ACS_FORWARDER_ENTRY ROW
#include "zorvan/entry_points.def"
#undef ROW
      {"db2ACSQueryApiVersion",
       [](void *symbol, db2ACS_ReturnCode *) {
         return typed<db2ACSQueryApiVersion_fn>(symbol)();
       },
       nullptr},
  };
  for (Forwarder &f : all) f.symbol = lib.symbol(f.name);
  return all;
}

// Tracing switched with bare system calls, which allocate nothing.
void traceOn() {
  int fd = open(testsupport::kTracePath, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  fchmod(fd, 0666);
  close(fd);
}
void traceOff() { unlink(testsupport::kTracePath); }

unsigned long allocationsDuring(const std::function<void()> &body) {
  allocs::Counts before = allocs::counts();
  body();
  allocs::Counts after = allocs::counts();
  return (after.allocations - before.allocations) + (after.frees - before.frees);
}

// Every forwarder and the version query, once with the trace file absent
// and once with it present: neither round may touch the heap.
void expectNoAllocationTracedOrNot(const std::vector<Forwarder> &all, db2ACS_ReturnCode &rc) {
  unsigned long untraced = allocationsDuring([&] {
    traceOff();
    for (const Forwarder &f : all) f.call(f.symbol, &rc);
  });
  EXPECT_EQ(untraced, 0u);

  unsigned long traced = allocationsDuring([&] {
    traceOn();
    for (const Forwarder &f : all) f.call(f.symbol, &rc);
  });
  EXPECT_EQ(traced, 0u);
}

alignas(16) unsigned char gControlBlock[ACS_CB_MIN_SIZE];

void bind(const LoadedLibrary &lib) {
  db2ACS_ReturnCode rc{-1};
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ASSERT_EQ(initialize(reinterpret_cast<db2ACS_CB *>(gControlBlock), &rc), 0);
  ASSERT_NE(lib.variable<void *>("db2ACS_handle"), nullptr);
}

size_t traceLineCount() { return testsupport::traceLines().size(); }

TEST(NoAllocation, BoundForwardersTracedAndNot) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::setEnv("ZORVAN_INST", "Instance001");
  // Binding traces, and the first line a process writes makes glibc load
  // the time zone (once per process): that happens here, not below.
  testsupport::enableTrace();
  LoadedLibrary lib;
  bind(lib);
  std::vector<Forwarder> all = forwarders(lib);
  db2ACS_ReturnCode rc{0};

  expectNoAllocationTracedOrNot(all, rc);
  // Five lines per bound forwarder, two for the version query.
  EXPECT_EQ(traceLineCount(), 13u * 5u + 2u);
}

TEST(NoAllocation, UnboundForwardersTracedAndNot) {
  testsupport::enableTrace();
  LoadedLibrary lib;
  std::vector<Forwarder> all = forwarders(lib);
  db2ACS_ReturnCode rc{0};
  // The first line loads the time zone; see above.
  all.front().call(all.front().symbol, &rc);
  size_t before = traceLineCount();

  expectNoAllocationTracedOrNot(all, rc);
  EXPECT_GT(traceLineCount(), before);
}

// The count is not blind to the shared object: binding through the scan
// opens the properties file and hands putenv a string of its own.
TEST(NoAllocation, CountSeesAllocationsInsideTheLibrary) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::unsetEnv("ZORVAN_INST");
  LoadedLibrary lib;
  unsigned long binding = allocationsDuring([&] { bind(lib); });
  EXPECT_GT(binding, 0u);
  ASSERT_NE(getenv("ZORVAN_INST"), nullptr);
  EXPECT_STREQ(getenv("ZORVAN_INST"), "Instance001");
}

// The trace keeps the process id between lines; a child forked after its
// parent traced must still write its own.
TEST(TracedProcessId, ChildForkedAfterTracingWritesItsOwn) {
  testsupport::enableTrace();
  LoadedLibrary lib;
  auto query = lib.fn<db2ACSQueryApiVersion_fn>("db2ACSQueryApiVersion");
  query();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    query();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  query();

  // Two lines per query: parent, child, parent.
  std::vector<std::string> lines = testsupport::traceLines();
  ASSERT_EQ(lines.size(), 6u);
  const std::string parent = "LIBDB2ACS-" + std::to_string(getpid()) + ": ";
  const std::string forked = "LIBDB2ACS-" + std::to_string(child) + ": ";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &expected = i / 2 == 1 ? forked : parent;
    EXPECT_EQ(lines[i].compare(0, expected.size(), expected), 0) << lines[i];
  }
}

}  // namespace
