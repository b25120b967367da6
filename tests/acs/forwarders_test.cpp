// The forwarding entry points while no back end is bound, and with fake
// back-end functions placed in the table, driven through dlopen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loaded_library.h"
#include "test_support.h"

using testsupport::LoadedLibrary;
using testsupport::traceMessagesOf;

namespace {

struct Record {
  int32_t returnCode;
  unsigned char rest[60];
};

Record freshRecord() {
  Record r;
  r.returnCode = -12345;
  memset(r.rest, 0xA5, sizeof r.rest);
  return r;
}

void expectRestUntouched(const Record &r) {
  for (unsigned char b : r.rest) ASSERT_EQ(b, 0xA5);
}

TEST(UnboundForwarders, BeginOperationFailsWithFourAndTracesFourLines) {
  testsupport::enableTrace();
  LoadedLibrary lib;
  auto begin = lib.fn<db2ACSBeginOperation_fn>("db2ACSBeginOperation");
  Record r = freshRecord();
  EXPECT_EQ(begin(7, nullptr, reinterpret_cast<db2ACS_ReturnCode *>(&r)), 4);
  EXPECT_EQ(r.returnCode, 4);
  expectRestUntouched(r);
  EXPECT_EQ(traceMessagesOf("db2ACSBeginOperation()"),
            (std::vector<std::string>{
                "-----------Entered--------",
                "-----------Will wait if /tmp/db2ACSBeginOperationDebug exists --------",
                "db2ACS_handle or function pointer is NULL. Returning error",
                "-----------Leaving, returning 4--------"}));
}

}  // namespace
