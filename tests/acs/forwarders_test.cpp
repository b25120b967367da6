// The forwarding entry points, driven through dlopen as DB2 drives them:
// with the back-end table empty, with fake back-end functions placed in
// it, with it partly filled, and the version query.
//
// The rows below are written out by hand on purpose: they are the second,
// independent statement of what the generated forwarders must do.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_support.h"

using testsupport::LoadedLibrary;
using testsupport::traceMessages;

namespace {

using Words = std::vector<uintptr_t>;

// ---------------------------------------------------------------------------
// The fake back end: every entry point records its arguments as words.

int g_fakeCalls = 0;
Words g_fakeSeen;
db2ACS_RC g_fakeResult = 0;

uintptr_t word(void *p) { return reinterpret_cast<uintptr_t>(p); }
uintptr_t word(uint32_t v) { return v; }
uintptr_t word(db2ACS_ReturnCode *rc) { return reinterpret_cast<uintptr_t>(rc); }

template <typename... A>
db2ACS_RC fakeBackEnd(A... a) {
  ++g_fakeCalls;
  g_fakeSeen = {word(a)...};
  return g_fakeResult;
}

// Points a table slot, typed by the library's own pointer type, at the fake.
template <typename... A>
void installFake(db2ACS_RC (*&slot)(A...)) {
  slot = &fakeBackEnd<A...>;
}

void *ptr(uintptr_t w) { return reinterpret_cast<void *>(w); }
uint32_t u32(uintptr_t w) { return static_cast<uint32_t>(w); }

// ---------------------------------------------------------------------------
// One row per forwarder.

struct Row {
  std::string name;         // "Terminate": db2ACSTerminate, f_db2ACSTerminate
  db2ACS_RC failureCode;    // returned and stored while unbound
  std::string callingLine;  // traced before the back end is called
  Words args;               // arguments before the record
  std::function<db2ACS_RC(const LoadedLibrary &, const Words &, db2ACS_ReturnCode *)> call;
  std::function<void(const LoadedLibrary &)> install;

  std::string tag() const { return "db2ACS" + name + "()"; }
  std::string pointerName() const { return "f_db2ACS" + name; }
};

using Lib = const LoadedLibrary &;
using Rc = db2ACS_ReturnCode *;

const std::vector<Row> &rows() {
  static const std::vector<Row> table = {
      {"Terminate", 0, "Calling db2ACSTerminatepp()", {0x1101},
       [](Lib l, const Words &a, Rc rc) { return l.fn<db2ACSTerminate_fn>("db2ACSTerminate")(ptr(a[0]), rc); },
       [](Lib l) { installFake(l.variable<db2ACSTerminate_fn>("f_db2ACSTerminate")); }},
      {"BeginOperation", 4, "Calling db2ACSBeginOperationpp()", {0x80000001, 0x1202},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSBeginOperation_fn>("db2ACSBeginOperation")(u32(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSBeginOperation_fn>("f_db2ACSBeginOperation")); }},
      {"EndOperation", 4, "Calling db2ACSEndOperationpp()", {0xFFFFFFFE, 0x1302},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSEndOperation_fn>("db2ACSEndOperation")(u32(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSEndOperation_fn>("f_db2ACSEndOperation")); }},
      {"BeginQuery", 4, "Calling db2ACSBeginQuerypp()", {0x1401, 0x1402},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSBeginQuery_fn>("db2ACSBeginQuery")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSBeginQuery_fn>("f_db2ACSBeginQuery")); }},
      {"GetNextObject", 4, "Calling db2ACSGetNectObjectpp()", {0x1501, 0x1502},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSGetNextObject_fn>("db2ACSGetNextObject")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSGetNextObject_fn>("f_db2ACSGetNextObject")); }},
      {"EndQuery", 4, "Calling db2ACSEndQuerypp()", {0x1601},
       [](Lib l, const Words &a, Rc rc) { return l.fn<db2ACSEndQuery_fn>("db2ACSEndQuery")(ptr(a[0]), rc); },
       [](Lib l) { installFake(l.variable<db2ACSEndQuery_fn>("f_db2ACSEndQuery")); }},
      {"Partition", 4, "Calling db2ACSPartirionpp()", {0x1701, 0x1702, 0x1703},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSPartition_fn>("db2ACSPartition")(ptr(a[0]), ptr(a[1]), ptr(a[2]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSPartition_fn>("f_db2ACSPartition")); }},
      {"Prepare", 4, "Calling db2ACSPreparepp()", {0x1801, 0x1802},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSPrepare_fn>("db2ACSPrepare")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSPrepare_fn>("f_db2ACSPrepare")); }},
      {"Snapshot", 4, "Calling db2ACSSnapshotpp()", {0xFFFFFFFF, 0x1902, 0x1903, 0x1904},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSSnapshot_fn>("db2ACSSnapshot")(u32(a[0]), ptr(a[1]), ptr(a[2]), ptr(a[3]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSSnapshot_fn>("f_db2ACSSnapshot")); }},
      {"Verify", 4, "Calling db2ACSVerifypp()", {0x1A01, 0x1A02},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSVerify_fn>("db2ACSVerify")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSVerify_fn>("f_db2ACSVerify")); }},
      {"Delete", 4, "Calling db2ACSDeletepp()", {0x1B01, 0x1B02},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSDelete_fn>("db2ACSDelete")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSDelete_fn>("f_db2ACSDelete")); }},
      {"StoreMetaData", 4, "Calling db2ACSStoreMetaDatapp()", {0x1C01, 0x1C02},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSStoreMetaData_fn>("db2ACSStoreMetaData")(ptr(a[0]), ptr(a[1]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSStoreMetaData_fn>("f_db2ACSStoreMetaData")); }},
      {"RetrieveMetaData", 4, "Calling db2ACSRetrieveMetaDatapp()", {0x1D01, 0x1D02, 0x1D03},
       [](Lib l, const Words &a, Rc rc) {
         return l.fn<db2ACSRetrieveMetaData_fn>("db2ACSRetrieveMetaData")(ptr(a[0]), ptr(a[1]), ptr(a[2]), rc);
       },
       [](Lib l) { installFake(l.variable<db2ACSRetrieveMetaData_fn>("f_db2ACSRetrieveMetaData")); }},
  };
  return table;
}

// ---------------------------------------------------------------------------
// The host's return-code record: the library may write the first field
// only; the bytes after it are the host's.

struct Record {
  int32_t returnCode;
  unsigned char rest[60];
};

constexpr int32_t kUntouchedCode = -12345;

Record freshRecord() {
  Record r;
  r.returnCode = kUntouchedCode;
  memset(r.rest, 0xA5, sizeof r.rest);
  return r;
}

bool restUntouched(const Record &r) {
  for (unsigned char b : r.rest)
    if (b != 0xA5) return false;
  return true;
}

db2ACS_ReturnCode *asRc(Record &r) { return reinterpret_cast<db2ACS_ReturnCode *>(&r); }

std::vector<std::string> withTag(const std::string &tag, const std::vector<std::string> &texts) {
  std::vector<std::string> out;
  for (const std::string &t : texts) out.push_back(tag + ": " + t);
  return out;
}

std::string holdLine(const Row &row) {
  return "-----------Will wait if /tmp/db2ACS" + row.name + "Debug exists --------";
}

std::string leavingLine(db2ACS_RC result) {
  return "-----------Leaving, returning " + std::to_string(result) + "--------";
}

void *slotValue(const LoadedLibrary &lib, const std::string &name) {
  void *value;
  memcpy(&value, lib.symbol(name.c_str()), sizeof value);
  return value;
}

std::string asPointer(void *p) {
  char buf[32];
  snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

void bindAll(const LoadedLibrary &lib, void *handle) {
  lib.variable<void *>("db2ACS_handle") = handle;
  for (const Row &row : rows()) row.install(lib);
}

// ---------------------------------------------------------------------------

TEST(UnboundForwarders, EachFailsWithItsCodeIntoTheRecordAndTracesFourLines) {
  LoadedLibrary lib;
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    testsupport::enableTrace();
    Record r = freshRecord();
    EXPECT_EQ(row.call(lib, row.args, asRc(r)), row.failureCode);
    EXPECT_EQ(r.returnCode, row.failureCode);
    EXPECT_TRUE(restUntouched(r));
    EXPECT_EQ(traceMessages(), withTag(row.tag(), {"-----------Entered--------", holdLine(row),
                                                   "db2ACS_handle or function pointer is NULL. Returning error",
                                                   leavingLine(row.failureCode)}));
  }
}

TEST(UnboundForwarders, NullRecordIsNotWrittenThroughAndTheCodeIsStillReturned) {
  LoadedLibrary lib;
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.call(lib, row.args, nullptr), row.failureCode);
  }
}

TEST(BoundForwarders, EachPassesArgumentsAndResultThroughAndTracesFiveLines) {
  LoadedLibrary lib;
  void *handle = reinterpret_cast<void *>(uintptr_t{0x5eed0});
  bindAll(lib, handle);
  db2ACS_RC result = -1;
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    testsupport::enableTrace();
    g_fakeCalls = 0;
    g_fakeSeen.clear();
    g_fakeResult = result;
    Record r = freshRecord();

    EXPECT_EQ(row.call(lib, row.args, asRc(r)), result);

    EXPECT_EQ(g_fakeCalls, 1);
    Words expected = row.args;
    expected.push_back(word(asRc(r)));
    EXPECT_EQ(g_fakeSeen, expected);
    EXPECT_EQ(r.returnCode, kUntouchedCode);
    EXPECT_TRUE(restUntouched(r));
    const std::string pointers = "db2ACS_handle = " + asPointer(handle) + " , " + row.pointerName() +
                                 " = " + asPointer(slotValue(lib, row.pointerName()));
    EXPECT_EQ(traceMessages(), withTag(row.tag(), {"-----------Entered--------", holdLine(row), pointers,
                                                   row.callingLine, leavingLine(result)}));
    result = result == -1 ? 0x7FFFFFFF : result - 1;  // -1, then large values
  }
}

TEST(BoundForwarders, NullRecordIsPassedOnAsNull) {
  LoadedLibrary lib;
  bindAll(lib, &lib);
  g_fakeResult = 17;
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    g_fakeSeen.clear();
    EXPECT_EQ(row.call(lib, row.args, nullptr), 17);
    ASSERT_EQ(g_fakeSeen.size(), row.args.size() + 1);
    EXPECT_EQ(g_fakeSeen.back(), 0u);
  }
}

TEST(PartlyBoundTable, OnlyTheEntryWithoutPointerFails) {
  LoadedLibrary lib;
  g_fakeResult = 99;
  for (const Row &missing : rows()) {
    SCOPED_TRACE("missing " + missing.name);
    bindAll(lib, &lib);
    lib.variable<void *>(missing.pointerName().c_str()) = nullptr;
    for (const Row &row : rows()) {
      SCOPED_TRACE(row.name);
      Record r = freshRecord();
      int callsBefore = g_fakeCalls;
      db2ACS_RC got = row.call(lib, row.args, asRc(r));
      if (&row == &missing) {
        EXPECT_EQ(got, row.failureCode);
        EXPECT_EQ(r.returnCode, row.failureCode);
        EXPECT_EQ(g_fakeCalls, callsBefore);
      } else {
        EXPECT_EQ(got, 99);
        EXPECT_EQ(r.returnCode, kUntouchedCode);
        EXPECT_EQ(g_fakeCalls, callsBefore + 1);
      }
    }
  }
}

TEST(PartlyBoundTable, WithoutHandleEveryEntryFailsDespiteItsPointer) {
  LoadedLibrary lib;
  bindAll(lib, nullptr);
  g_fakeCalls = 0;
  g_fakeResult = 99;
  for (const Row &row : rows()) {
    SCOPED_TRACE(row.name);
    testsupport::enableTrace();
    Record r = freshRecord();
    EXPECT_EQ(row.call(lib, row.args, asRc(r)), row.failureCode);
    EXPECT_EQ(r.returnCode, row.failureCode);
    EXPECT_EQ(testsupport::traceMessagesOf(row.tag()).at(2),
              "db2ACS_handle or function pointer is NULL. Returning error");
  }
  EXPECT_EQ(g_fakeCalls, 0);
}

// ---------------------------------------------------------------------------

TEST(QueryApiVersion, ReturnsOneWithEntryAndHoldLinesOnly) {
  testsupport::enableTrace();
  LoadedLibrary lib;
  EXPECT_EQ(lib.fn<db2ACSQueryApiVersion_fn>("db2ACSQueryApiVersion")(), 1);
  EXPECT_EQ(traceMessages(),
            withTag("db2ACSQueryApiVersion()", {"-----------Entered--------",
                                                "-----------Will wait if /tmp/db2ACSQueryApiVersion1 exists --------"}));
}

TEST(QueryApiVersion, MarkerNamedAfterTheFunctionDoesNotHoldIt) {
  testsupport::writeFile("/tmp/db2ACSQueryApiVersionDebug", "");
  LoadedLibrary lib;
  auto query = lib.fn<db2ACSQueryApiVersion_fn>("db2ACSQueryApiVersion");
  // A hold would outlast the alarm and kill the child.
  EXPECT_EQ(testsupport::runInChild([query] {
              alarm(5);
              return query();
            }),
            1);
}

}  // namespace
