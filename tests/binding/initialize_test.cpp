// db2ACSInitialize through the dlopen'ed shared object, as DB2 calls it,
// against a registry and an installation laid out under /tmp for each
// case. The back ends are variants of the example back end; its journal
// shows which calls reached it and with what arguments.
#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "binding_support.h"
#include "loaded_library.h"
#include "qxacs_example.h"
#include "qxacs_journal.h"
#include "installation.h"
#include "test_support.h"

using binding::pointerText;
using testsupport::LoadedLibrary;
using testsupport::traceMessages;
using testsupport::traceMessagesOf;

namespace {

const char kInit[] = "db2ACSInitialize()";
const char kLoad[] = "initializeFptrs()";

// The host's records: DB2's size; the library writes only the first field.
struct Record {
  int32_t returnCode;
  unsigned char rest[sizeof(db2acs::ReturnCode) - sizeof(int32_t)];
};

struct ControlBlock {
  alignas(8) unsigned char bytes[2048];
};

Record freshRecord() {
  Record r;
  r.returnCode = -12345;
  memset(r.rest, 0xA5, sizeof r.rest);
  return r;
}

void expectRestUntouched(const Record &r) {
  for (size_t i = 0; i < sizeof r.rest; ++i) ASSERT_EQ(r.rest[i], 0xA5) << "byte " << i;
}

// The suite's installation, its back end a copy of the variant (none when
// null).
struct Installation : testsupport::Installation {
  explicit Installation(const char *variant) {
    addHealthyInstance();
    if (variant != nullptr) installBackend(variant);
  }
};

// An empty registry: discovery fails.
std::string emptyRegistry() {
  std::string registry = testsupport::makeTempDir("registry");
  testsupport::setEnv("QXREG", registry);
  testsupport::unsetEnv("ZORVAN_INST");
  return registry;
}

db2ACS_CB *asBlock(ControlBlock &cb) { return reinterpret_cast<db2ACS_CB *>(cb.bytes); }
db2ACS_ReturnCode *asRecord(Record &r) { return reinterpret_cast<db2ACS_ReturnCode *>(&r); }
const db2acs::ControlBlock *protocolBlock(const ControlBlock &cb) {
  return reinterpret_cast<const db2acs::ControlBlock *>(cb.bytes);
}

// The messages of the given tags, in order, each still "tag: text".
std::vector<std::string> messagesOf(std::initializer_list<const char *> tags) {
  std::vector<std::string> out;
  for (const std::string &m : traceMessages())
    for (const char *tag : tags)
      if (m.compare(0, strlen(tag) + 2, std::string(tag) + ": ") == 0) out.push_back(m);
  return out;
}

std::vector<std::string> tagged(const char *tag, const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (const std::string &line : lines) out.push_back(std::string(tag) + ": " + line);
  return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> entered(const std::string &registry) {
  return {"-----------Entered--------",
          "-----------Will wait if /tmp/db2ACSInitializeDebug exists --------",
          "-----------QXREG= [" + registry + "]"};
}

std::string leaving(int result) {
  return "-----------Leaving, returning " + std::to_string(result) + "--------";
}

// Initialize's own lines once it calls the back end, up to its leaving line.
std::vector<std::string> forwardedLines(const void *handle, const void *backEndInitialize,
                                        int result) {
  return {"db2ACS_handle is:" + pointerText(handle) + ", f_db2ACSInitialize is " +
              pointerText(backEndInitialize),
          "Calling db2ACSInitializepp", leaving(result)};
}

// The loader's lines for a library that opened, up to its handle line.
std::vector<std::string> openedLines(const std::string &base, const std::string &cwd,
                                     const std::string &path, const void *handle) {
  return {"GetZorvanBaseDir succeeded.",
          "Changing to base dir: \"" + base + "\".",
          "Library to be loaded: \"" + path + "\".",
          "dlopen succeeded. Current dir: \"" + cwd + "\", loaded: \"" + path + "\"",
          "After dlopen: db2ACS_handle is:" + pointerText(handle)};
}

void *variableValue(const LoadedLibrary &lib, const char *name) {
  void *value;
  memcpy(&value, lib.symbol(name), sizeof value);
  return value;
}

std::string journalOfInitialize(const ControlBlock &cb, const Record &rc, int32_t result) {
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_initialize(line, sizeof line, protocolBlock(cb), &rc, result);
  return line;
}

// A back end's Initialize that shows what it was given and answers with a
// result other than what it stores.
struct Seen {
  db2ACS_CB *cb = nullptr;
  db2ACS_ReturnCode *rc = nullptr;
  int calls = 0;
} seen;

void *addressOf(db2ACSInitialize_fn fn) {
  void *address;
  memcpy(&address, &fn, sizeof address);
  return address;
}

db2ACS_RC fakeInitialize(db2ACS_CB *cb, db2ACS_ReturnCode *rc) {
  seen.cb = cb;
  seen.rc = rc;
  ++seen.calls;
  Record *r = reinterpret_cast<Record *>(rc);
  r->returnCode = 31;
  r->rest[7] = 0x11;
  return -5;
}

// ---------------------------------------------------------------- binding

// The back end is opened with lazy binding: a function of it that refers to
// a symbol defined nowhere does not stop it from binding as long as that
// function is not called, and its other entry points forward.
TEST(Initialize, BackEndBindsLazily) {
  void *eager = dlopen(BACKEND_UNDEFINED_CALL, RTLD_NOW | RTLD_LOCAL);
  ASSERT_EQ(eager, nullptr) << "the variant loads eagerly too; nothing proven";
  Installation in(BACKEND_UNDEFINED_CALL);
  LoadedLibrary lib;
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(lib.fn<db2ACSInitialize_fn>("db2ACSInitialize")(asBlock(cb), asRecord(r)), 0);
  EXPECT_EQ(variableValue(lib, "db2ACS_handle"), binding::loadedHandle(in.backendPath()));
  EXPECT_NE(variableValue(lib, "f_db2ACSVerify"), nullptr);

  // Its other entry points work: the back end, not the front end, fills
  // the record.
  Record begun = freshRecord();
  EXPECT_EQ(lib.fn<db2ACSBeginOperation_fn>("db2ACSBeginOperation")(DB2ACS_OP_READ, asBlock(cb), asRecord(begun)),
            0);
  EXPECT_EQ(begun.returnCode, 0);
}

TEST(Initialize, FirstCallBindsTheBackEndAndForwardsToIt) {
  Installation in(BACKEND_FULL);
  testsupport::enableTrace();
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 0);

  EXPECT_EQ(r.returnCode, 0);
  void *handle = variableValue(lib, "db2ACS_handle");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, binding::loadedHandle(in.backendPath()));
  EXPECT_EQ(binding::currentDir(), in.base());
  void *backEndInitialize = binding::symbolOf(in.backendPath(), "db2ACSInitializepp");
  EXPECT_EQ(variableValue(lib, "f_db2ACSInitialize"), backEndInitialize);
  EXPECT_EQ(binding::fileLines(in.journal()),
            std::vector<std::string>{journalOfInitialize(cb, r, 0)});
  EXPECT_EQ(messagesOf({kInit, kLoad}),
            tagged(kInit, entered(in.registry())) +
                tagged(kLoad, openedLines(in.base(), in.base(), in.backendPath(), handle)) +
                tagged(kLoad, {leaving(1)}) +
                tagged(kInit, forwardedLines(handle, backEndInitialize, 0)));
}

TEST(Initialize, SecondCallGoesStraightToTheBackEnd) {
  Installation in(BACKEND_FULL);
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();
  ASSERT_EQ(initialize(asBlock(cb), asRecord(r)), 0);
  testsupport::enableTrace();
  ASSERT_EQ(chdir("/"), 0);
  r = freshRecord();

  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 0);

  EXPECT_EQ(r.returnCode, 0);
  EXPECT_EQ(binding::currentDir(), "/");
  EXPECT_EQ(binding::fileLines(in.journal()).size(), 2u);
  void *handle = variableValue(lib, "db2ACS_handle");
  // Nothing but Initialize's own lines: no loader, no discovery.
  EXPECT_EQ(traceMessages(),
            tagged(kInit, entered(in.registry()) +
                              forwardedLines(handle, variableValue(lib, "f_db2ACSInitialize"), 0)));
}

TEST(Initialize, BackEndResultAndRecordPassThroughUnchanged) {
  std::string registry = emptyRegistry();
  testsupport::enableTrace();
  LoadedLibrary lib;
  int marker = 0;
  lib.variable<void *>("db2ACS_handle") = &marker;
  lib.variable<db2ACSInitialize_fn>("f_db2ACSInitialize") = &fakeInitialize;
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(lib.fn<db2ACSInitialize_fn>("db2ACSInitialize")(asBlock(cb), asRecord(r)), -5);

  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.cb, asBlock(cb));
  EXPECT_EQ(seen.rc, asRecord(r));
  EXPECT_EQ(r.returnCode, 31);
  EXPECT_EQ(r.rest[7], 0x11);
  r.rest[7] = 0xA5;
  expectRestUntouched(r);
  EXPECT_EQ(traceMessagesOf(kLoad), std::vector<std::string>{});
  EXPECT_EQ(traceMessagesOf(kInit),
            entered(registry) + forwardedLines(&marker, addressOf(&fakeInitialize), -5));
  lib.variable<void *>("db2ACS_handle") = nullptr;
}

TEST(Initialize, NoInstallationFailsWithElevenInTheRecordOnly) {
  std::string registry = emptyRegistry();
  testsupport::enableTrace();
  LoadedLibrary lib;
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(lib.fn<db2ACSInitialize_fn>("db2ACSInitialize")(asBlock(cb), asRecord(r)), 11);

  EXPECT_EQ(r.returnCode, 11);
  expectRestUntouched(r);
  EXPECT_EQ(variableValue(lib, "db2ACS_handle"), nullptr);
  EXPECT_EQ(messagesOf({kInit, kLoad}),
            tagged(kInit, entered(registry)) +
                tagged(kLoad, {"GetZorvanBaseDir failed, returning error.", leaving(0)}) +
                tagged(kInit, {"initializeFptrs() failed, returning error.", leaving(11)}));
}

// ---------------------------------------------------------------- registry

// QXREG unset or empty and its default are the registry tests'; here, that
// the library fixes it at its first Initialize.
TEST(InitializeRegistry, FirstCallFixesTheRegistryForTheProcess) {
  std::string first = emptyRegistry();
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();
  ASSERT_EQ(initialize(asBlock(cb), asRecord(r)), 11);
  // A complete installation under a registry named only now.
  Installation in(BACKEND_FULL);
  testsupport::enableTrace();
  r = freshRecord();

  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 11);

  EXPECT_EQ(binding::loadedHandle(in.backendPath()), nullptr);
  std::vector<std::string> lines = traceMessagesOf(kInit);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "-----------QXREG= [" + first + "]");
}

// ---------------------------------------------------------------- partial back ends

TEST(InitializePartlyBound, BackEndWithoutVerifyStaysBoundAndOnlyVerifyFails) {
  Installation in(BACKEND_NO_VERIFY);
  testsupport::enableTrace();
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();

  ASSERT_EQ(initialize(asBlock(cb), asRecord(r)), 11);

  EXPECT_EQ(r.returnCode, 11);
  expectRestUntouched(r);
  void *handle = variableValue(lib, "db2ACS_handle");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, binding::loadedHandle(in.backendPath()));
  EXPECT_EQ(variableValue(lib, "f_db2ACSVerify"), nullptr);
  std::vector<std::string> diagnostics = binding::diagnosticLines(in.backendPath());
  EXPECT_EQ(diagnostics[10], "f_db2ACSVeri = (nil)");
  for (size_t i = 0; i < diagnostics.size(); ++i) {
    if (i == 10) continue;
    EXPECT_EQ(diagnostics[i].find("(nil)"), std::string::npos) << diagnostics[i];
  }
  EXPECT_EQ(messagesOf({kInit, kLoad}),
            tagged(kInit, entered(in.registry())) +
                tagged(kLoad, openedLines(in.base(), in.base(), in.backendPath(), handle) + diagnostics +
                                  std::vector<std::string>{leaving(0)}) +
                tagged(kInit, {"initializeFptrs() failed, returning error.", leaving(11)}));
  EXPECT_EQ(binding::fileLines(in.journal()), std::vector<std::string>{});

  // The next Initialize reaches the back end without binding again.
  testsupport::enableTrace();
  r = freshRecord();
  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 0);
  EXPECT_EQ(r.returnCode, 0);
  EXPECT_EQ(traceMessagesOf(kLoad), std::vector<std::string>{});
  EXPECT_EQ(traceMessagesOf("GetZorvanBaseDir"), std::vector<std::string>{});
  EXPECT_EQ(variableValue(lib, "db2ACS_handle"), handle);
  std::vector<std::string> journal{journalOfInitialize(cb, r, 0)};

  // Verify alone fails; its neighbours reach the back end.
  const uint32_t backup = DB2ACS_OP_CREATE | DB2ACS_OBJTYPE_SNAPSHOT;
  db2acs::PostObjectInfo post{};
  r = freshRecord();
  EXPECT_EQ(lib.fn<db2ACSBeginOperation_fn>("db2ACSBeginOperation")(backup, asBlock(cb),
                                                                     asRecord(r)),
            0);
  char line[QXACS_JOURNAL_LINE_MAX];
  qxacs_journal_begin_operation(line, sizeof line, backup, protocolBlock(cb), &r, 0);
  journal.push_back(line);

  r = freshRecord();
  EXPECT_EQ(lib.fn<db2ACSVerify_fn>("db2ACSVerify")(&post, asBlock(cb), asRecord(r)), 4);
  EXPECT_EQ(r.returnCode, 4);
  expectRestUntouched(r);
  EXPECT_EQ(traceMessagesOf("db2ACSVerify()")[2],
            "db2ACS_handle or function pointer is NULL. Returning error");

  r = freshRecord();
  EXPECT_EQ(lib.fn<db2ACSTerminate_fn>("db2ACSTerminate")(asBlock(cb), asRecord(r)), 0);
  qxacs_journal_terminate(line, sizeof line, protocolBlock(cb), &r, 0);
  journal.push_back(line);

  EXPECT_EQ(binding::fileLines(in.journal()), journal);
}

TEST(InitializePartlyBound, BackEndWithoutInitializeIsNeverCalledThroughANullPointer) {
  Installation in(BACKEND_NO_INITIALIZE);
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();
  testsupport::enableTrace();
  ASSERT_EQ(initialize(asBlock(cb), asRecord(r)), 11);
  std::vector<std::string> first = traceMessagesOf(kLoad);
  ASSERT_GE(first.size(), 6u);
  EXPECT_EQ(first[5], "f_db2ACSInitialize = (nil)");
  void *handle = variableValue(lib, "db2ACS_handle");
  ASSERT_NE(handle, nullptr);
  testsupport::enableTrace();
  r = freshRecord();

  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 11);

  EXPECT_EQ(r.returnCode, 11);
  expectRestUntouched(r);
  EXPECT_EQ(variableValue(lib, "db2ACS_handle"), handle);
  EXPECT_EQ(traceMessages(),
            tagged(kInit, entered(in.registry())) + tagged(kLoad, {leaving(1)}) +
                tagged(kInit, {"db2ACS_handle or function pointer is NULL. Returning error",
                               leaving(11)}));
}

// ---------------------------------------------------------------- odd installations

TEST(InitializeInstallation, UnloadableLibraryBindsNothingFromTheGlobalScope) {
  // The complete back end's names are in the global scope (a library
  // opened RTLD_GLOBAL, and this executable's own db2ACSInitializepp).
  void *global = dlopen(BACKEND_FULL, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(global, nullptr) << dlerror();
  Installation in(nullptr);
  testsupport::writeFile(in.backendPath(), binding::kNotALibrary, 0755);
  testsupport::enableTrace();
  LoadedLibrary lib;
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(lib.fn<db2ACSInitialize_fn>("db2ACSInitialize")(asBlock(cb), asRecord(r)), 11);

  EXPECT_EQ(r.returnCode, 11);
  expectRestUntouched(r);
  EXPECT_EQ(variableValue(lib, "db2ACS_handle"), nullptr);
  EXPECT_EQ(variableValue(lib, "f_db2ACSInitialize"), nullptr);
  EXPECT_EQ(binding::currentDir(), in.base());
  void *probe = dlopen(in.backendPath().c_str(), RTLD_LAZY);
  ASSERT_EQ(probe, nullptr);
  std::string error = dlerror();
  EXPECT_EQ(messagesOf({kInit, kLoad}),
            tagged(kInit, entered(in.registry())) +
                tagged(kLoad,
                       std::vector<std::string>{
                           "GetZorvanBaseDir succeeded.",
                           "Changing to base dir: \"" + in.base() + "\".",
                           "Library to be loaded: \"" + in.backendPath() + "\".",
                           "dlopen failed when loading \"" + in.backendPath() + "\", error = \"" +
                               error + "\", pwd=\"" + in.base() + "\"",
                           "After dlopen: db2ACS_handle is:(nil)"} +
                           binding::diagnosticLines("") + std::vector<std::string>{leaving(0)}) +
                tagged(kInit, {"initializeFptrs() failed, returning error.", leaving(11)}));
}

// QXREG is fixed once, as given: a relative registry is looked up again in
// whatever directory the process is in, which after a binding attempt is
// the base directory the loader changed to.
TEST(InitializeInstallation, RelativeRegistryIsLookedUpInTheBaseDirectoryAfterBinding) {
  Installation in(nullptr);
  testsupport::writeFile(in.backendPath(), binding::kNotALibrary, 0755);
  const std::string inBase = in.base() + "/registry/Zorvan/Instance001/Base";
  testsupport::makeDirs(inBase);
  const std::string home2 = in.root() + "/home2";
  testsupport::writeFile(inBase + "/.properties", "dZORVANHOME " + home2 + "\n");
  testsupport::makeDirs(home2 + "/Base");
  binding::copyFile(BACKEND_FULL, home2 + "/Base/libqxacsint.so");
  ASSERT_EQ(chdir(in.root().c_str()), 0);
  testsupport::setEnv("QXREG", "registry");
  testsupport::enableTrace();
  LoadedLibrary lib;
  auto initialize = lib.fn<db2ACSInitialize_fn>("db2ACSInitialize");
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 11);  // <root>/registry: no loadable back end
  EXPECT_EQ(binding::currentDir(), in.base());
  r = freshRecord();
  EXPECT_EQ(initialize(asBlock(cb), asRecord(r)), 0);  // <base>/registry: home2's back end

  EXPECT_EQ(binding::currentDir(), home2 + "/Base");
  void *handle = variableValue(lib, "db2ACS_handle");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, binding::loadedHandle(home2 + "/Base/libqxacsint.so"));
  const std::string properties =
      "path for .properties is: registry/Zorvan/Instance001/Base/.properties";
  std::vector<std::string> lookups;
  for (const std::string &line : traceMessagesOf("GetZorvanBaseDir"))
    if (line.rfind("path for", 0) == 0) lookups.push_back(line);
  EXPECT_EQ(lookups, (std::vector<std::string>{properties, properties}));
}

TEST(InitializeInstallation, RelativeHomeGoesUnchangedIntoChdirAndPath) {
  Installation in(BACKEND_FULL);
  testsupport::writeFile(in.registry() + "/Zorvan/Instance001/Base/.properties",
                         "dZORVANHOME home\n");
  // Opened relative to the base directory it moved into: only this copy
  // can be what the loader opens.
  std::string nested = in.base() + "/home/Base";
  testsupport::makeDirs(nested);
  binding::copyFile(BACKEND_FULL, nested + "/libqxacsint.so");
  ASSERT_EQ(chdir(in.root().c_str()), 0);
  testsupport::enableTrace();
  LoadedLibrary lib;
  ControlBlock cb{};
  Record r = freshRecord();

  EXPECT_EQ(lib.fn<db2ACSInitialize_fn>("db2ACSInitialize")(asBlock(cb), asRecord(r)), 0);

  EXPECT_EQ(binding::currentDir(), in.base());
  void *handle = variableValue(lib, "db2ACS_handle");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle, binding::loadedHandle(nested + "/libqxacsint.so"));
  EXPECT_EQ(binding::loadedHandle(in.backendPath()), nullptr);
  EXPECT_EQ(traceMessagesOf(kLoad),
            openedLines("home/Base", in.base(), "home/Base/libqxacsint.so", handle) +
                std::vector<std::string>{leaving(1)});
}

}  // namespace
