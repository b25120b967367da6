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

}  // namespace

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
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

void resetRecord(db2acs::ReturnCode &record) {
  record.returnCode = kRecordSentinel;
  record.reasonCode = kRecordSentinel;
  std::memset(record.description, kRecordFill, sizeof record.description);
}

RecordState inspectRecord(const db2acs::ReturnCode &record) {
  RecordState state;
  state.returnCodeSet = record.returnCode != kRecordSentinel;
  bool untouched = record.reasonCode == kRecordSentinel;
  for (unsigned char byte : record.description) untouched = untouched && byte == kRecordFill;
  state.restWritten = !untouched;
  state.terminated = !state.restWritten ||
                     std::memchr(record.description, '\0', sizeof record.description) != nullptr;
  return state;
}
