// Discovery and unbinding when the C library lets them down: allocation,
// putenv and getenv failing while a scanned instance name is published,
// dlclose refusing to close the back end, an instances directory the
// caller cannot read, and a properties path that names a directory. The
// library's static build is linked with the wrappers of tests/fault.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installation.h"
#include "libc_faults.h"
#include "test_support.h"
#include "zorvan/backend.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"

using testsupport::traceLines;
using testsupport::traceMessagesOf;
using Lines = std::vector<std::string>;

namespace {

const char kBaseTag[] = "GetZorvanBaseDir";
const char kUnloadTag[] = "unInitializeFptrs()";
const std::string kScanned = "Instance001";
const std::string kAssignment = "ZORVAN_INST=" + kScanned;
const char kUntouched[] = "untouched-base-directory";

struct BaseDirCall {
  int result;
  std::string gpath;
};

BaseDirCall callBaseDir() {
  char gpath[ZORVAN_PATH_MAX];
  memset(gpath, 0, sizeof gpath);
  strcpy(gpath, kUntouched);
  fixRegistryDir();
  int result = GetZorvanBaseDir(gpath, sizeof gpath, nullptr);
  return {result, gpath};
}

// The lines every publication failure starts with.
Lines publicationStart() {
  return {"-----------Entered--------",
          "GetZorvanInstanceName failed, trying to get the name of the first zorvan instance name.",
          "Setting the env: " + kScanned + "..."};
}

Lines concat(Lines head, const Lines &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// ---------------------------------------------------------------------------
// Publishing the scanned instance name

TEST(PublishInstanceName, AllocationFailureIsTracedAndLeavesEverythingAsItWas) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::enableTrace();
  faults::failNextMallocOf(kAssignment.size() + 1);
  BaseDirCall call = callBaseDir();

  EXPECT_EQ(faults::refusedMallocs(), 1);
  EXPECT_EQ(call.result, -1);
  EXPECT_EQ(call.gpath, kUntouched);
  EXPECT_EQ(faults::realGetenv("ZORVAN_INST"), nullptr);
  EXPECT_EQ(traceMessagesOf(kBaseTag),
            concat(publicationStart(), {"malloc(" + std::to_string(kAssignment.size() + 1) +
                                            ")failed.",
                                        "-----------Leaving--------"}));
}

TEST(PublishInstanceName, RefusedPutenvIsTracedWithErrnoAndTheStringReleased) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::enableTrace();
  faults::refusePutenvOf("ZORVAN_INST=", ENOMEM);
  BaseDirCall call = callBaseDir();

  ASSERT_NE(faults::lastRefusedPutenv(), nullptr);
  EXPECT_TRUE(faults::wasFreed(faults::lastRefusedPutenv()))
      << "the refused environment string is never released";
  EXPECT_EQ(call.result, -1);
  EXPECT_EQ(call.gpath, kUntouched);
  EXPECT_EQ(faults::realGetenv("ZORVAN_INST"), nullptr);
  EXPECT_EQ(traceMessagesOf(kBaseTag),
            concat(publicationStart(),
                   {"putenv(" + kAssignment + ") failed with error: " + std::to_string(ENOMEM),
                    "-----------Leaving--------"}));
}

TEST(PublishInstanceName, VariableUnreadableAfterPutenvFailsTheCall) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::enableTrace();
  faults::hideAfterPutenv("ZORVAN_INST");
  BaseDirCall call = callBaseDir();

  EXPECT_EQ(call.result, -1);
  EXPECT_EQ(call.gpath, kUntouched);
  EXPECT_EQ(traceMessagesOf(kBaseTag),
            concat(publicationStart(), {"Setting the env: " + kAssignment + " succeeded",
                                        "Environment variable (ZORVAN_INST) is not set",
                                        "-----------Leaving--------"}));
}

// ---------------------------------------------------------------------------
// Unbinding

// The handle and the fifteen back-end pointers, as addresses.
std::vector<void *> entryTable() {
  std::vector<void *> table{db2ACS_handle};
  void *p;
  memcpy(&p, &f_db2ACSQueryApiVersion, sizeof p);
  table.push_back(p);
#define TABLE_SLOT(Name, Code, Label, Calling, Params, Args) \
  memcpy(&p, &f_db2ACS##Name, sizeof p);                     \
  table.push_back(p);
#define ACS_INITIALIZE_ENTRY TABLE_SLOT
#define ACS_FORWARDER_ENTRY TABLE_SLOT
#include "zorvan/entry_points.def"
#undef TABLE_SLOT
  return table;
}

std::string pointerText(const void *p) {
  char text[32];
  snprintf(text, sizeof text, "%p", p);
  return text;
}

TEST(Unbinding, FailedDlcloseIsTracedWithTheLoaderReasonAndKeepsTheTable) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  testsupport::setEnv("ZORVAN_INST", kScanned);
  fixRegistryDir();
  ASSERT_EQ(initializeFptrs(nullptr), 1);
  void *handle = db2ACS_handle;
  ASSERT_NE(handle, nullptr);
  std::vector<void *> bound = entryTable();

  testsupport::enableTrace();
  faults::failDlclose();
  EXPECT_EQ(unInitializeFptrs(), 1);

  EXPECT_EQ(faults::lastDlcloseHandle(), handle);
  EXPECT_EQ(entryTable(), bound);
  EXPECT_EQ(traceMessagesOf(kUnloadTag),
            (Lines{"-----------Entered--------", "db2ACS_handle is:" + pointerText(handle),
                   "dlclose() returned failure, non-zero return code: -1, reason:\"" +
                       std::string(faults::kMissingLibrary) +
                       ": cannot open shared object file: No such file or directory\"",
                   "-----------Leaving, returning 1--------"}));
  // The back end is still usable through the table that was kept.
  db2ACS_ReturnCode rc{-1};
  EXPECT_EQ(f_db2ACSTerminate(nullptr, &rc), 0);
  EXPECT_EQ(rc.returnCode, 0);
}

// ---------------------------------------------------------------------------
// Unusable discovery paths

TEST(DiscoveryPaths, UnreadableInstancesDirectoryFailsTheScanWithErrno13) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  const std::string instances = in.registry() + "/Zorvan";
  ASSERT_EQ(chmod(instances.c_str(), 0), 0);
  testsupport::enableTrace();

  int result = testsupport::runUnprivileged([] {
    char gpath[ZORVAN_PATH_MAX] = "kept";
    fixRegistryDir();
    int rc = GetZorvanBaseDir(gpath, sizeof gpath, nullptr);
    return rc == -1 && strcmp(gpath, "kept") == 0 ? 0 : 1;
  });
  EXPECT_EQ(result, 0);

  EXPECT_EQ(traceMessagesOf("get_first_zorvan_instname"),
            (Lines{"-----------Entered--------",
                   "open(" + instances + ") failed with errno: 13",
                   "-----------Leaving--------"}));
  // The message's own newline leaves an empty line behind it in the file.
  Lines lines = traceLines();
  const std::string openLine = "get_first_zorvan_instname: open(" + instances + ") failed with errno: 13";
  bool followedByEmptyLine = false;
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].size() >= openLine.size() &&
        lines[i].compare(lines[i].size() - openLine.size(), openLine.size(), openLine) == 0)
      followedByEmptyLine = lines[i + 1].empty();
  EXPECT_TRUE(followedByEmptyLine);
  EXPECT_EQ(traceMessagesOf(kBaseTag).back(), "-----------Leaving--------");
  EXPECT_EQ(traceMessagesOf(kBaseTag).end()[-2],
            "get_first_zorvan_instname() failed as well, returning error.");
}

TEST(DiscoveryPaths, PropertiesPathThatIsADirectoryYieldsNoHome) {
  testsupport::HealthyInstallation in(ZORVAN_FAKE_BACKEND);
  const std::string properties = in.instanceDir(kScanned) + "/Base/.properties";
  ASSERT_EQ(unlink(properties.c_str()), 0);
  ASSERT_EQ(mkdir(properties.c_str(), 0755), 0);
  testsupport::setEnv("ZORVAN_INST", kScanned);
  testsupport::enableTrace();

  BaseDirCall call = callBaseDir();
  EXPECT_EQ(call.result, -1);
  EXPECT_EQ(call.gpath, kUntouched);
  // glibc opens a directory for reading; the first read fails, so no key
  // line is found and the library path stays empty.
  EXPECT_EQ(traceMessagesOf(kBaseTag),
            (Lines{"-----------Entered--------", "path for .properties is: " + properties,
                   "QXZrDb2IKA DB2 Library  not accessible", "-----------Leaving--------"}));
}

}  // namespace
