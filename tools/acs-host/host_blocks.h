// The memory a DB2 server hands an ACS library: the control block, the
// vendor-options record it may point at, and the return-code record.
#ifndef ACS_HOST_HOST_BLOCKS_H
#define ACS_HOST_HOST_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "acs_api.h"

// Control-block layout on 64-bit hosts: opaque except these two items.
constexpr std::size_t kControlBlockSize = 2048;
constexpr std::size_t kOptionsSizeOffset = 1736;
constexpr std::size_t kOptionsDataOffset = 1744;

// Vendor-options record: 344 bytes of fixed-width character fields.
constexpr uint32_t kVendorOptionsSize = 344;

// Set in the record's first field before every call, so a callee that
// never wrote it shows as "unset"; the bytes after it hold kRecordFill so
// a callee that wrote beyond the first field shows too.
constexpr int32_t kRecordSentinel = -12345;
constexpr unsigned char kRecordFill = 0xA5;

struct ControlBlock {
  alignas(8) unsigned char bytes[kControlBlockSize];
};

struct VendorOptions {
  alignas(8) unsigned char bytes[kVendorOptionsSize];
};

// Zero-filled block with no options.
void clearControlBlock(ControlBlock &cb);

// Points the block's options at data, with options.size = size.
void attachOptions(ControlBlock &cb, uint32_t size, const void *data);

// A plausible record whose vmName is vmName cut to 17 characters.
void fillVendorOptions(VendorOptions &options, const std::string &vmName);

void resetRecord(HostRecord &record);

// True when nothing after the first field changed since resetRecord.
bool recordTailIntact(const HostRecord &record);

#endif
