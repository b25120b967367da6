// Fixtures shared by the discovery tests: raw trace records, DB2 control
// blocks with a vendor-options record, directory order and long paths.
#ifndef ZORVAN_TEST_DISCOVERY_FIXTURES_H
#define ZORVAN_TEST_DISCOVERY_FIXTURES_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "zorvan/acs_types.h"

namespace discovery {

constexpr char kEntered[] = "-----------Entered--------";
constexpr char kLeaving[] = "-----------Leaving--------";

// Messages of one tag read from the raw trace file. A record runs up to the
// next line that starts a new record, so a message that carries a newline
// of its own keeps it ("text\n").
std::vector<std::string> rawMessagesOf(const std::string &tag);

// A zero-filled 2048-byte block with options.size and the options data
// pointer written at their offsets.
class ControlBlock {
 public:
  ControlBlock(uint32_t optionsSize, const void *optionsData);
  const db2ACS_CB *get() const { return reinterpret_cast<const db2ACS_CB *>(bytes_.data()); }

 private:
  std::vector<unsigned char> bytes_;
};

// A 344-byte vendor-options record, zero-filled; put() writes text
// without a terminating NUL.
struct VendorRecord {
  unsigned char bytes[ACS_VENDOR_OPTIONS_SIZE] = {};
  VendorRecord &put(size_t offset, const std::string &text);
};

// Entry names of a directory in readdir order, "." and ".." left out.
std::vector<std::string> directoryOrder(const std::string &dir);

// Builds the entry `last` (with build(path)) so that readdir returns it
// after the entries built by others(); fails the test if it cannot.
void buildLastInOrder(const std::string &dir, const std::string &last,
                      const std::function<void(const std::string &)> &build,
                      const std::function<void()> &others);

// "<base>/ddd.../ddd..." of exactly `length` characters, each component at
// most 200 characters; created when create is true.
std::string longPath(const std::string &base, size_t length, bool create);

void removeTree(const std::string &path);

}  // namespace discovery

#endif
