// The control block's options items as hosts of either byte order lay
// them out. DB2 writes options.size and the options pointer in its own
// byte order, so the GUI case must be recognised exactly when the block
// was laid out in the byte order of the machine the library runs on. The
// block and the vendor-options record are placed at odd addresses, as
// nothing promises DB2 aligns them for us.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "test_support.h"
#include "zorvan/discovery.h"

namespace {

enum class Order { Big, Little };

constexpr Order kTargetOrder =
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? Order::Big : Order::Little;

const char kVmName[] = "VmInstance7";
const char kFromEnvironment[] = "FromEnvironment";

void putUnsigned(unsigned char *at, uint64_t value, size_t width, Order order) {
  for (size_t i = 0; i < width; ++i) {
    size_t shift = 8 * (order == Order::Big ? width - 1 - i : i);
    at[i] = static_cast<unsigned char>(value >> shift);
  }
}

struct Blocks {
  alignas(16) unsigned char block[ACS_CB_MIN_SIZE + 1];
  alignas(16) unsigned char record[ACS_VENDOR_OPTIONS_SIZE + 1];
  unsigned char *cb = block + 1;
  unsigned char *options = record + 1;

  Blocks() {
    memset(block, 0x5A, sizeof block);
    memset(record, 0, sizeof record);
    memcpy(options + ACS_VO_VM_NAME, kVmName, sizeof kVmName);
    memcpy(options + ACS_VO_INSTANCE_NAME, "db2inst1", 9);
  }
  const db2ACS_CB *controlBlock() const { return reinterpret_cast<const db2ACS_CB *>(cb); }
};

// Laid out byte by byte as a host of the given byte order would:
// options.size as a 32-bit count, the record's address as a 64-bit pointer.
void layOut(Blocks &b, Order order) {
  putUnsigned(b.cb + ACS_CB_OPTIONS_SIZE_OFFSET, ACS_VENDOR_OPTIONS_SIZE, 4, order);
  putUnsigned(b.cb + ACS_CB_OPTIONS_DATA_OFFSET, reinterpret_cast<uintptr_t>(b.options), 8,
              order);
}

std::string resolve(const Blocks &b, int &found) {
  char name[64];
  memset(name, 0, sizeof name);
  found = GetZorvanInstanceName(name, sizeof name, b.controlBlock());
  return name;
}

class ControlBlockByteOrder : public testing::Test {
 protected:
  void SetUp() override {
    if (sizeof(void *) != 8) GTEST_SKIP() << "the control block read here is the 64-bit layout";
    // Set, so that the command-line case is told apart from a failure.
    testsupport::setEnv("ZORVAN_INST", kFromEnvironment);
  }
  Blocks blocks;
  int found = -1;
};

TEST_F(ControlBlockByteOrder, NativeLayoutIsTheGuiCase) {
  uint32_t size = ACS_VENDOR_OPTIONS_SIZE;
  const unsigned char *data = blocks.options;
  memcpy(blocks.cb + ACS_CB_OPTIONS_SIZE_OFFSET, &size, sizeof size);
  memcpy(blocks.cb + ACS_CB_OPTIONS_DATA_OFFSET, &data, sizeof data);
  EXPECT_EQ(resolve(blocks, found), kVmName);
  EXPECT_EQ(found, 1);
}

// 344 laid out big-endian is 0x58010000 to a little-endian reader, and the
// other way round: only the target's own order names the instance from
// vmName, the other falls back to ZORVAN_INST.
TEST_F(ControlBlockByteOrder, BigEndianHostLayoutIsTheGuiCaseOnlyOnBigEndianTargets) {
  layOut(blocks, Order::Big);
  EXPECT_EQ(resolve(blocks, found), kTargetOrder == Order::Big ? kVmName : kFromEnvironment);
  EXPECT_EQ(found, 1);
}

TEST_F(ControlBlockByteOrder, LittleEndianHostLayoutIsTheGuiCaseOnlyOnLittleEndianTargets) {
  layOut(blocks, Order::Little);
  EXPECT_EQ(resolve(blocks, found), kTargetOrder == Order::Little ? kVmName : kFromEnvironment);
  EXPECT_EQ(found, 1);
}

}  // namespace
