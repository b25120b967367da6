// The memory a DB2 server hands an ACS library beside its records: the
// vendor-options record the control block may point at, and the
// return-code record, prepared so that acs-host can tell afterwards what
// the callee wrote into it.
#ifndef ACS_HOST_HOST_BLOCKS_H
#define ACS_HOST_HOST_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "db2acs_protocol.h"

// Vendor-options record (Db2VendorOptions_t): 344 bytes of fixed-width
// character fields.
constexpr uint32_t kVendorOptionsSize = 344;

struct VendorOptions {
  alignas(8) unsigned char bytes[kVendorOptionsSize];
};

// A plausible record whose vmName is vmName cut to 17 characters.
void fillVendorOptions(VendorOptions &options, const std::string &vmName);

// Set in the record's two numbers before every call, so a callee that
// never wrote them shows as "unset"; the description holds kRecordFill.
constexpr int32_t kRecordSentinel = -12345;
constexpr unsigned char kRecordFill = 0xA5;

void resetRecord(db2acs::ReturnCode &record);

// What the callee did to the record.
struct RecordState {
  bool returnCodeSet = false;
  bool restWritten = false;   // reason code or description: a back end's doing
  bool terminated = true;     // the description holds its terminating byte
};
RecordState inspectRecord(const db2acs::ReturnCode &record);

// Copies text into a fixed field, cut to fit and always terminated.
template <std::size_t N>
void putText(char (&field)[N], const std::string &text) {
  std::size_t len = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, len);
  field[len] = '\0';
}

std::string hostName();

#endif
