// A million forwarded calls through the dlopen'ed library with tracing
// off: every call reaches the back end and succeeds, and the host does
// not grow while they run.
#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "installation.h"
#include "loaded_library.h"
#include "test_support.h"

namespace {

constexpr long kTotalCalls = 1000000;
constexpr long kWarmUpCalls = 10000;
// Room for the odd page the C library touches late.
constexpr long kPagesOfSlack = 4;

long residentPages() {
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  long size = 0, resident = -1;
  if (fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = -1;
  fclose(statm);
  return resident;
}

struct Usage {
  long pages;
  size_t heapInUse;
};

// mallinfo2 came with glibc 2.33; mallinfo's int fields do for the heap
// a test process uses.
size_t heapInUse() {
#if __GLIBC_PREREQ(2, 33)
  return mallinfo2().uordblks;
#else
  return static_cast<size_t>(mallinfo().uordblks);
#endif
}

Usage usage() { return {residentPages(), heapInUse()}; }

struct HostReport {
  long failures = -1;
  Usage warm{};
  Usage last{};
};

// One host: binds the back end through db2ACSInitialize, then alternates
// BeginOperation and EndOperation.
HostReport runHost() {
  HostReport report;
  testsupport::LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  auto begin = lib.fn<db2ACSBeginOperation_fn>("db2ACSBeginOperation");
  auto end = lib.fn<db2ACSEndOperation_fn>("db2ACSEndOperation");
  db2ACS_ReturnCode rc{-1};
  if (initialize(nullptr, &rc) != 0 || lib.variable<void *>("db2ACS_handle") == nullptr)
    return report;

  // The measurement's own first runs (stdio buffers, malloc's statistics)
  // touch memory too; they happen before anything is compared.
  usage();
  usage();
  report.failures = 0;
  for (long call = 0; call < kTotalCalls; call += 2) {
    rc.returnCode = -1;
    if (begin(static_cast<uint32_t>(call), nullptr, &rc) != 0 || rc.returnCode != 0)
      ++report.failures;
    rc.returnCode = -1;
    if (end(static_cast<uint32_t>(call), nullptr, &rc) != 0 || rc.returnCode != 0)
      ++report.failures;
    if (call + 2 == kWarmUpCalls) report.warm = usage();
  }
  report.last = usage();
  return report;
}

TEST(ForwardingLoad, MillionCallsSucceedWithFlatMemory) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::setEnv("ZORVAN_INST", "Instance001");
  ASSERT_FALSE(testsupport::exists(testsupport::kTracePath));

  HostReport report = runHost();
  ASSERT_GE(report.failures, 0) << "db2ACSInitialize did not bind the back end";
  EXPECT_EQ(report.failures, 0);
  ASSERT_GT(report.warm.pages, 0);
  EXPECT_LE(report.last.pages - report.warm.pages, kPagesOfSlack)
      << "resident pages after " << kWarmUpCalls << " calls: " << report.warm.pages << ", after "
      << kTotalCalls << ": " << report.last.pages;
  EXPECT_EQ(report.last.heapInUse, report.warm.heapInUse);
  EXPECT_FALSE(testsupport::exists(testsupport::kTracePath)) << "tracing was switched on";
}

}  // namespace
