#include "host_blocks.h"

#include <unistd.h>

#include <cstring>

namespace {

// Vendor-options fields: byte offset and width, NUL included.
struct Field {
  std::size_t offset;
  std::size_t width;
};
constexpr Field kInstanceName{44, 9};
constexpr Field kVersion{53, 9};
constexpr Field kBuild{62, 9};
constexpr Field kVendorId{71, 24};
constexpr Field kVmName{95, 18};
constexpr Field kJmToken{113, 64};
constexpr Field kServerId{177, 128};
constexpr Field kDbInstanceName{305, 39};

void putField(VendorOptions &options, Field field, const std::string &text) {
  std::size_t len = text.size() < field.width - 1 ? text.size() : field.width - 1;
  std::memset(options.bytes + field.offset, 0, field.width);
  std::memcpy(options.bytes + field.offset, text.data(), len);
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

void clearControlBlock(ControlBlock &cb) { std::memset(cb.bytes, 0, sizeof cb.bytes); }

void attachOptions(ControlBlock &cb, uint32_t size, const void *data) {
  // memcpy: the offsets are DB2's layout, not a struct of ours.
  std::memcpy(cb.bytes + kOptionsSizeOffset, &size, sizeof size);
  std::memcpy(cb.bytes + kOptionsDataOffset, &data, sizeof data);
}

void fillVendorOptions(VendorOptions &options, const std::string &vmName) {
  std::memset(options.bytes, 0, sizeof options.bytes);
  putField(options, kInstanceName, "db2inst1");
  putField(options, kVersion, "11.5.9.0");
  putField(options, kBuild, "s2310270");
  putField(options, kVendorId, "acs-host");
  putField(options, kVmName, vmName);
  putField(options, kJmToken, "acs-host-job-1");
  putField(options, kServerId, hostName());
  putField(options, kDbInstanceName, "db2inst1");
}

void resetRecord(HostRecord &record) {
  record.returnCode = kRecordSentinel;
  std::memset(record.hostOwned, kRecordFill, sizeof record.hostOwned);
}

bool recordTailIntact(const HostRecord &record) {
  for (unsigned char byte : record.hostOwned) {
    if (byte != kRecordFill) return false;
  }
  return true;
}
