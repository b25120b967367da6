// initializeFptrs and unInitializeFptrs on their own: the base directory
// comes from the test (GetZorvanBaseDir below replaces the library's own,
// which the static library then does not link in), the back ends are
// variants of the example back end installed under /tmp.
#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding_support.h"
#include "test_support.h"
#include "zorvan/backend.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"

using binding::diagnosticLines;
using binding::kEntryPointCount;
using binding::pointerText;
using testsupport::traceMessages;
using testsupport::traceMessagesOf;

namespace {

// What the replacement GetZorvanBaseDir hands out and what it was given.
struct BaseDirStandIn {
  std::string base;
  int result = 0;
  int calls = 0;
  size_t size = 0;
  const db2ACS_CB *cb = nullptr;
} standIn;

}  // namespace

// Writes the configured base even when failing, so that a loader that
// went on after a failure would visibly use it.
extern "C" int GetZorvanBaseDir(char *gpath, size_t size, const db2ACS_CB *cb) {
  ++standIn.calls;
  standIn.size = size;
  standIn.cb = cb;
  snprintf(gpath, size, "%s", standIn.base.c_str());
  return standIn.result;
}

namespace {

const char kLoad[] = "initializeFptrs()";
const char kUnload[] = "unInitializeFptrs()";

// The loader's fourteen pointers in resolution order.
void *const kPointerVariables[kEntryPointCount] = {
    &f_db2ACSInitialize, &f_db2ACSTerminate,    &f_db2ACSBeginOperation,
    &f_db2ACSEndOperation, &f_db2ACSBeginQuery, &f_db2ACSGetNextObject,
    &f_db2ACSEndQuery,   &f_db2ACSPartition,    &f_db2ACSPrepare,
    &f_db2ACSSnapshot,   &f_db2ACSVerify,       &f_db2ACSDelete,
    &f_db2ACSStoreMetaData, &f_db2ACSRetrieveMetaData};

void *pointerValue(size_t i) {
  void *value;
  memcpy(&value, kPointerVariables[i], sizeof value);
  return value;
}

// Every pointer equals the back end's own symbol (null where it has none).
void expectPointersOf(const std::string &path) {
  for (size_t i = 0; i < kEntryPointCount; ++i)
    EXPECT_EQ(pointerValue(i), binding::symbolOf(path, binding::kEntryPoints[i].symbol))
        << binding::kEntryPoints[i].symbol;
}

void expectTableEmpty() {
  EXPECT_EQ(db2ACS_handle, nullptr);
  EXPECT_EQ(f_db2ACSQueryApiVersion, nullptr);
  for (size_t i = 0; i < kEntryPointCount; ++i)
    EXPECT_EQ(pointerValue(i), nullptr) << binding::kEntryPoints[i].symbol;
}

// A base directory holding a copy of the variant as libqxacsint.so.
std::string installBase(const char *variant) {
  std::string base = testsupport::makeTempDir("home") + "/Base";
  testsupport::makeDirs(base);
  binding::copyFile(variant, base + "/libqxacsint.so");
  standIn.base = base;
  return base;
}

std::vector<std::string> withLeaving(std::vector<std::string> lines, int result) {
  lines.push_back("-----------Leaving, returning " + std::to_string(result) + "--------");
  return lines;
}

// The loader's lines up to and including the dlopen outcome, for a base
// whose library opens.
std::vector<std::string> openedLines(const std::string &base, const std::string &path) {
  return {"GetZorvanBaseDir succeeded.",
          "Changing to base dir: \"" + base + "\".",
          "Library to be loaded: \"" + path + "\".",
          "dlopen succeeded. Current dir: \"" + base + "\", loaded: \"" + path + "\"",
          "After dlopen: db2ACS_handle is:" + pointerText(db2ACS_handle)};
}

// A second load that bound the library at path afresh: the base directory
// resolved again, the process moved into it, every pointer from the new
// library, and the loader's whole trace.
void expectBoundAfresh(const std::string &base, const std::string &path) {
  EXPECT_EQ(standIn.calls, 2);
  EXPECT_EQ(binding::currentDir(), base);
  EXPECT_EQ(db2ACS_handle, binding::loadedHandle(path));
  expectPointersOf(path);
  EXPECT_EQ(traceMessagesOf(kLoad), withLeaving(openedLines(base, path), 1));
}

// dlerror's text for a file that does not open, as the loader met it.
std::string openErrorOf(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle != nullptr) {
    dlclose(handle);
    return "(it opened)";
  }
  return dlerror();
}

std::vector<std::string> failedOpenLines(const std::string &base, const std::string &cwd) {
  std::string path = base + "/libqxacsint.so";
  std::vector<std::string> lines = {
      "GetZorvanBaseDir succeeded.",
      "Changing to base dir: \"" + base + "\".",
      "Library to be loaded: \"" + path + "\".",
      "dlopen failed when loading \"" + path + "\", error = \"" + openErrorOf(path) +
          "\", pwd=\"" + cwd + "\"",
      "After dlopen: db2ACS_handle is:(nil)"};
  for (const std::string &line : diagnosticLines("")) lines.push_back(line);
  return withLeaving(lines, 0);
}

std::vector<std::string> unloadLines(const void *handle) {
  return {"-----------Entered--------", "db2ACS_handle is:" + pointerText(handle),
          "-----------Leaving, returning 1--------"};
}

void bindPartly(const char *variant) {
  installBase(variant);
  ASSERT_EQ(initializeFptrs(nullptr), 0);
  ASSERT_NE(db2ACS_handle, nullptr);
}

int fakeQueryApiVersion() { return 1; }

// ---------------------------------------------------------------- load

TEST(Load, CompleteBackEndIsBoundFromTheBaseDirectory) {
  testsupport::enableTrace();
  std::string base = installBase(BACKEND_FULL);
  std::string path = base + "/libqxacsint.so";
  alignas(8) unsigned char block[ACS_CB_MIN_SIZE] = {};
  const db2ACS_CB *cb = reinterpret_cast<const db2ACS_CB *>(block);

  EXPECT_EQ(initializeFptrs(cb), 1);

  EXPECT_EQ(standIn.calls, 1);
  EXPECT_EQ(standIn.cb, cb);
  EXPECT_EQ(standIn.size, 1024u);
  EXPECT_EQ(binding::currentDir(), base);
  ASSERT_NE(db2ACS_handle, nullptr);
  EXPECT_EQ(db2ACS_handle, binding::loadedHandle(path));
  expectPointersOf(path);
  for (size_t i = 0; i < kEntryPointCount; ++i) EXPECT_NE(pointerValue(i), nullptr);
  // Only the loader speaks, and it has no entry line.
  EXPECT_EQ(traceMessages().size(), traceMessagesOf(kLoad).size());
  EXPECT_EQ(traceMessagesOf(kLoad), withLeaving(openedLines(base, path), 1));
}

TEST(Load, SetHandleIsTakenAsItIsWithoutLookingAnythingUp) {
  std::string base = installBase(BACKEND_FULL);
  testsupport::enableTrace();
  int marker = 0;
  db2ACS_handle = &marker;

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  EXPECT_EQ(standIn.calls, 0);
  EXPECT_NE(binding::currentDir(), base);
  EXPECT_EQ(db2ACS_handle, &marker);
  EXPECT_EQ(binding::loadedHandle(base + "/libqxacsint.so"), nullptr);
  EXPECT_EQ(traceMessages(),
            std::vector<std::string>{"initializeFptrs(): -----------Leaving, returning 1--------"});
  db2ACS_handle = nullptr;
}

TEST(Load, BaseDirectoryFailureLoadsNothing) {
  std::string base = installBase(BACKEND_FULL);
  standIn.result = -1;
  std::string before = binding::currentDir();
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 0);

  EXPECT_EQ(standIn.calls, 1);
  EXPECT_EQ(binding::currentDir(), before);
  expectTableEmpty();
  EXPECT_EQ(binding::loadedHandle(base + "/libqxacsint.so"), nullptr);
  EXPECT_EQ(traceMessages(), (std::vector<std::string>{
                                 "initializeFptrs(): GetZorvanBaseDir failed, returning error.",
                                 "initializeFptrs(): -----------Leaving, returning 0--------"}));
}

TEST(Load, BaseOf1008CharactersGivesAPathOfExactly1023) {
  std::string base = binding::makeDirOfLength(1008);
  binding::copyFile(BACKEND_FULL, base + "/libqxacsint.so");
  standIn.base = base;
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  std::string path = base + "/libqxacsint.so";
  ASSERT_EQ(path.size(), 1023u);
  EXPECT_EQ(db2ACS_handle, binding::loadedHandle(path));
  std::vector<std::string> lines = traceMessagesOf(kLoad);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "Library to be loaded: \"" + path + "\".");
}

TEST(Load, BaseOf1009CharactersLosesTheLastCharacterOfTheFileName) {
  std::string base = binding::makeDirOfLength(1009);
  // What the bounded path names: only a library there can be opened.
  std::string cut = base + "/libqxacsint.s";
  binding::copyFile(BACKEND_FULL, cut);
  standIn.base = base;
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  ASSERT_EQ(cut.size(), 1023u);
  EXPECT_EQ(binding::currentDir(), base);
  ASSERT_NE(db2ACS_handle, nullptr);
  EXPECT_EQ(db2ACS_handle, binding::loadedHandle(cut));
  std::vector<std::string> lines = traceMessagesOf(kLoad);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "Library to be loaded: \"" + cut + "\".");
}

// One entry point missing: diagnostics of all fourteen, 0, and the
// library stays bound with what was found.
void expectPartlyBound(const char *variant, size_t missing) {
  std::string base = installBase(variant);
  std::string path = base + "/libqxacsint.so";
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 0);

  ASSERT_NE(db2ACS_handle, nullptr);
  EXPECT_EQ(db2ACS_handle, binding::loadedHandle(path));
  EXPECT_EQ(binding::currentDir(), base);
  expectPointersOf(path);
  for (size_t i = 0; i < kEntryPointCount; ++i)
    EXPECT_EQ(pointerValue(i) == nullptr, i == missing) << binding::kEntryPoints[i].symbol;
  std::vector<std::string> expected = openedLines(base, path);
  for (const std::string &line : diagnosticLines(path)) expected.push_back(line);
  EXPECT_EQ(traceMessagesOf(kLoad), withLeaving(expected, 0));
  std::string label = binding::kEntryPoints[missing].label;
  label.replace(label.find("%p"), 2, "(nil)");
  std::vector<std::string> lines = traceMessagesOf(kLoad);
  ASSERT_EQ(lines.size(), 5 + kEntryPointCount + 1);
  EXPECT_EQ(lines[5 + missing], label);
}

TEST(Load, BackEndWithoutInitializeIsPartlyBound) { expectPartlyBound(BACKEND_NO_INITIALIZE, 0); }
TEST(Load, BackEndWithoutVerifyIsPartlyBound) { expectPartlyBound(BACKEND_NO_VERIFY, 10); }
TEST(Load, BackEndWithoutStoreMetaDataIsPartlyBound) {
  expectPartlyBound(BACKEND_NO_STORE, 12);
}

TEST(Load, UnloadableLibraryLeavesEveryPointerNull) {
  // The complete back end's names are in the global scope twice over (a
  // library opened RTLD_GLOBAL, and this executable's exports): a loader
  // that looked names up there after a failed open would find them.
  void *global = dlopen(BACKEND_FULL, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(global, nullptr) << dlerror();
  ASSERT_NE(dlsym(RTLD_DEFAULT, "db2ACSInitializepp"), nullptr);
  std::string base = installBase(BACKEND_FULL);
  testsupport::writeFile(base + "/libqxacsint.so", binding::kNotALibrary, 0755);
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 0);

  expectTableEmpty();
  EXPECT_EQ(binding::currentDir(), base);
  EXPECT_EQ(traceMessagesOf(kLoad), failedOpenLines(base, base));
}

TEST(Load, FailedChangeOfDirectoryDoesNotStopTheOpen) {
  std::string before = binding::currentDir();
  standIn.base = testsupport::makeTempDir("home") + "/NoSuchBase";
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 0);

  EXPECT_EQ(binding::currentDir(), before);
  EXPECT_EQ(traceMessagesOf(kLoad), failedOpenLines(standIn.base, before));
}

// ---------------------------------------------------------------- states

TEST(States, BoundLibraryIsNotLoadedAgain) {
  std::string base = installBase(BACKEND_FULL);
  ASSERT_EQ(initializeFptrs(nullptr), 1);
  void *handle = db2ACS_handle;
  ASSERT_EQ(chdir("/"), 0);
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  EXPECT_EQ(standIn.calls, 1);
  EXPECT_EQ(binding::currentDir(), "/");
  EXPECT_EQ(db2ACS_handle, handle);
  EXPECT_EQ(traceMessages(),
            std::vector<std::string>{"initializeFptrs(): -----------Leaving, returning 1--------"});
}

TEST(States, PartlyBoundLibraryIsNotRetried) {
  bindPartly(BACKEND_NO_VERIFY);
  void *handle = db2ACS_handle;
  std::string base = standIn.base;
  // A complete back end is installed now, but the bound one is kept.
  binding::copyFile(BACKEND_FULL, base + "/libqxacsint.so");
  ASSERT_EQ(chdir("/"), 0);
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  EXPECT_EQ(standIn.calls, 1);
  EXPECT_EQ(binding::currentDir(), "/");
  EXPECT_EQ(db2ACS_handle, handle);
  EXPECT_EQ(f_db2ACSVerify, nullptr);
  EXPECT_NE(f_db2ACSDelete, nullptr);
  EXPECT_EQ(traceMessages(),
            std::vector<std::string>{"initializeFptrs(): -----------Leaving, returning 1--------"});
}

TEST(States, FailedOpenIsRetriedInFullByTheNextLoad) {
  std::string base = installBase(BACKEND_FULL);
  std::string path = base + "/libqxacsint.so";
  testsupport::writeFile(path, binding::kNotALibrary, 0755);
  ASSERT_EQ(initializeFptrs(nullptr), 0);
  ASSERT_EQ(db2ACS_handle, nullptr);
  binding::copyFile(BACKEND_FULL, path);
  ASSERT_EQ(chdir("/"), 0);
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  expectBoundAfresh(base, path);
}

// ---------------------------------------------------------------- unload

void expectUnloadCloses(const std::string &path) {
  void *handle = db2ACS_handle;
  f_db2ACSQueryApiVersion = &fakeQueryApiVersion;
  testsupport::enableTrace();

  EXPECT_EQ(unInitializeFptrs(), 1);

  expectTableEmpty();
  EXPECT_EQ(binding::loadedHandle(path), nullptr);
  EXPECT_EQ(traceMessages().size(), 3u);
  EXPECT_EQ(traceMessagesOf(kUnload), unloadLines(handle));
}

TEST(Unload, FromBoundClosesTheLibraryAndClearsTheTable) {
  std::string base = installBase(BACKEND_FULL);
  ASSERT_EQ(initializeFptrs(nullptr), 1);
  expectUnloadCloses(base + "/libqxacsint.so");
}

TEST(Unload, FromPartlyBoundClosesTheLibraryAndClearsTheTable) {
  bindPartly(BACKEND_NO_VERIFY);
  expectUnloadCloses(standIn.base + "/libqxacsint.so");
}

TEST(Unload, WithoutAHandleOnlyTraces) {
  testsupport::enableTrace();
  EXPECT_EQ(unInitializeFptrs(), 1);
  EXPECT_EQ(traceMessages().size(), 3u);
  EXPECT_EQ(traceMessagesOf(kUnload), unloadLines(nullptr));
}

TEST(Unload, AfterAFailedOpenOnlyTraces) {
  std::string base = installBase(BACKEND_FULL);
  testsupport::writeFile(base + "/libqxacsint.so", binding::kNotALibrary, 0755);
  ASSERT_EQ(initializeFptrs(nullptr), 0);
  testsupport::enableTrace();

  EXPECT_EQ(unInitializeFptrs(), 1);

  expectTableEmpty();
  EXPECT_EQ(traceMessages().size(), 3u);
  EXPECT_EQ(traceMessagesOf(kUnload), unloadLines(nullptr));
}

TEST(Unload, UnloadedBackEndIsBoundAfreshByTheNextLoad) {
  std::string base = installBase(BACKEND_NO_VERIFY);
  std::string path = base + "/libqxacsint.so";
  ASSERT_EQ(initializeFptrs(nullptr), 0);
  ASSERT_EQ(unInitializeFptrs(), 1);
  binding::copyFile(BACKEND_FULL, path);
  ASSERT_EQ(chdir("/"), 0);
  testsupport::enableTrace();

  EXPECT_EQ(initializeFptrs(nullptr), 1);

  expectBoundAfresh(base, path);
  EXPECT_NE(f_db2ACSVerify, nullptr);
}

}  // namespace
