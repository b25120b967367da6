// Instance name: the vmName of DB2's vendor-options record (GUI case) or
// ZORVAN_INST (command line).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "discovery_fixtures.h"
#include "test_support.h"
#include "zorvan/discovery.h"

namespace {

using discovery::ControlBlock;
using discovery::kEntered;
using discovery::kLeaving;
using discovery::VendorRecord;
using testsupport::traceMessagesOf;

const char kTag[] = "GetZorvanInstanceName";
const char kGui[] = "GUI case: options.size == sizeof Db2VendorOptions_t, casting.";
const char kCommandLine[] = "Possibly CommandLine case, VENDOROPT not set.";

std::vector<std::string> guiTrace(const std::vector<std::string> &fields) {
  static const char *const labels[] = {"instance Name is ", "version is ",       "build is ",
                                       "vendorId is ",      "vmName is ",        "jmToken is ",
                                       "serverId is ",      "dbInstanceName is "};
  std::vector<std::string> lines{kEntered, kGui};
  for (size_t i = 0; i < fields.size(); ++i) lines.push_back(labels[i] + fields[i]);
  lines.push_back(kLeaving);
  return lines;
}

TEST(InstanceNameFromVendorOptions, TracesEveryFieldAndTakesVmNameOverZorvanInst) {
  testsupport::enableTrace();
  testsupport::setEnv("ZORVAN_INST", "FromEnvironment");
  VendorRecord record;
  record.put(ACS_VO_INSTANCE_NAME, "db2inst1")
      .put(ACS_VO_VERSION, "11.5.8")
      .put(ACS_VO_BUILD, "s2103")
      .put(ACS_VO_VENDOR_ID, "OSTR-VENDOR-0042")
      .put(ACS_VO_VM_NAME, "InstVM07")
      .put(ACS_VO_JM_TOKEN, "jm-token-xyz")
      .put(ACS_VO_SERVER_ID, "server-42.example")
      .put(ACS_VO_DB_INSTANCE_NAME, "db2prod");
  ControlBlock cb(ACS_VENDOR_OPTIONS_SIZE, record.bytes);
  char name[64];
  memset(name, '#', sizeof name);

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb.get()), 1);
  EXPECT_STREQ(name, "InstVM07");
  for (size_t i = 8; i < sizeof name - 1; ++i) ASSERT_EQ(name[i], '\0') << i;
  EXPECT_EQ(name[sizeof name - 1], '#');
  EXPECT_EQ(traceMessagesOf(kTag),
            guiTrace({"db2inst1", "11.5.8", "s2103", "OSTR-VENDOR-0042", "InstVM07", "jm-token-xyz",
                      "server-42.example", "db2prod"}));
}

TEST(InstanceNameFromVendorOptions, UnterminatedVmNameIsCutAtItsWidth) {
  testsupport::enableTrace();
  VendorRecord record;
  record.put(ACS_VO_VM_NAME, "ABCDEFGHIJKLMNOPQR").put(ACS_VO_JM_TOKEN, "jmtokentext");
  ControlBlock cb(ACS_VENDOR_OPTIONS_SIZE, record.bytes);
  char name[64] = {};

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb.get()), 1);
  EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQR");
  EXPECT_EQ(traceMessagesOf(kTag),
            guiTrace({"", "", "", "", "ABCDEFGHIJKLMNOPQR", "jmtokentext", "", ""}));
}

TEST(InstanceNameFromVendorOptions, NameIsBoundedBySizeAndTheLastByteIsNeverWritten) {
  VendorRecord record;
  record.put(ACS_VO_VM_NAME, "VmNameTooLong");
  ControlBlock cb(ACS_VENDOR_OPTIONS_SIZE, record.bytes);
  char name[8];
  memset(name, '#', sizeof name);

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb.get()), 1);
  EXPECT_EQ(std::string(name, sizeof name), "VmNameT#");
}

TEST(InstanceNameFromVendorOptions, RecordEndingAtAGuardPageIsReadWithinFieldWidths) {
  testsupport::enableTrace();
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  unsigned char *pages = static_cast<unsigned char *>(map);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
  unsigned char *record = pages + page - ACS_VENDOR_OPTIONS_SIZE;
  memset(record, 'A', ACS_VENDOR_OPTIONS_SIZE);
  ControlBlock cb(ACS_VENDOR_OPTIONS_SIZE, record);
  char name[64] = {};

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb.get()), 1);
  EXPECT_EQ(std::string(name), std::string(18, 'A'));
  const size_t widths[] = {9, 9, 9, 24, 18, 64, 128, 39};
  std::vector<std::string> fields;
  for (size_t w : widths) fields.push_back(std::string(w, 'A'));
  EXPECT_EQ(traceMessagesOf(kTag), guiTrace(fields));
  munmap(map, 2 * page);
}

// Control blocks that do not carry the record: the wrong options size, no
// data pointer, or no block at all.
struct CommandLineCase {
  const char *label;
  uint32_t optionsSize;
  bool withData;
  bool withBlock;
};

void PrintTo(const CommandLineCase &c, std::ostream *out) { *out << c.label; }

class InstanceNameFromCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(InstanceNameFromCommandLine, UsesZorvanInstOnlyWhenSet) {
  testsupport::enableTrace();
  const CommandLineCase &c = GetParam();
  VendorRecord record;
  record.put(ACS_VO_VM_NAME, "VmNameNotUsed");
  ControlBlock block(c.optionsSize, c.withData ? record.bytes : nullptr);
  const db2ACS_CB *cb = c.withBlock ? block.get() : nullptr;
  char name[32];
  memset(name, '#', sizeof name);

  testsupport::unsetEnv("ZORVAN_INST");
  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb), 0);
  EXPECT_EQ(std::string(name, sizeof name), std::string(sizeof name, '#'));
  EXPECT_EQ(traceMessagesOf(kTag), (std::vector<std::string>{kEntered, kCommandLine, kLeaving}));

  testsupport::enableTrace();
  testsupport::setEnv("ZORVAN_INST", "CmdInst");
  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, cb), 1);
  EXPECT_STREQ(name, "CmdInst");
  EXPECT_EQ(name[sizeof name - 1], '#');
  EXPECT_EQ(traceMessagesOf(kTag),
            (std::vector<std::string>{kEntered, kCommandLine, "ZORVAN_INST is set to CmdInst",
                                      kLeaving}));
}

INSTANTIATE_TEST_SUITE_P(
    NoVendorRecord, InstanceNameFromCommandLine,
    testing::Values(CommandLineCase{"SizeOneShort", 343, true, true},
                    CommandLineCase{"SizeOneLong", 345, true, true},
                    CommandLineCase{"SizeZero", 0, true, true},
                    CommandLineCase{"NullData", ACS_VENDOR_OPTIONS_SIZE, false, true},
                    CommandLineCase{"NullBlock", ACS_VENDOR_OPTIONS_SIZE, true, false}),
    [](const testing::TestParamInfo<CommandLineCase> &p) { return p.param.label; });

TEST(InstanceNameFromZorvanInst, EmptyValueCountsAsAName) {
  testsupport::enableTrace();
  testsupport::setEnv("ZORVAN_INST", "");
  char name[16];
  memset(name, '#', sizeof name);

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, nullptr), 1);
  EXPECT_EQ(std::string(name, sizeof name), std::string(15, '\0') + "#");
  EXPECT_EQ(traceMessagesOf(kTag),
            (std::vector<std::string>{kEntered, kCommandLine, "ZORVAN_INST is set to ", kLeaving}));
}

TEST(InstanceNameFromZorvanInst, OverlongValueFillsAllButTheLastByte) {
  std::string value;
  for (size_t i = 0; i < 1500; ++i) value += static_cast<char>('a' + i % 26);
  testsupport::setEnv("ZORVAN_INST", value);
  char name[1024] = {};

  EXPECT_EQ(GetZorvanInstanceName(name, sizeof name, nullptr), 1);
  EXPECT_EQ(name[1023], '\0');
  EXPECT_EQ(std::string(name), value.substr(0, 1023));
}

}  // namespace
