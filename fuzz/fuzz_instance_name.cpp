// Instance-name resolution over an arbitrary 344-byte vendor-options
// record (or a control block that does not announce one) and an arbitrary
// ZORVAN_INST, into name buffers of every size. The record, the control
// block and the name buffer are heap blocks of exactly their size, so any
// read or write past them is caught.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_sink.h"

namespace {

fuzzsupport::CheckingSink gSink;

// What strncpy(name, text, size - 1) leaves in a buffer of `size` bytes
// filled with `fill`.
std::vector<char> copied(const std::string &text, size_t size, char fill) {
  std::vector<char> out(size, fill);
  if (size == 0) return out;
  size_t n = size - 1;
  size_t i = 0;
  for (; i < n && i < text.size(); ++i) out[i] = text[i];
  for (; i < n; ++i) out[i] = '\0';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gSink.tag = "GetZorvanInstanceName: ";
  zorvanSetTraceSink(fuzzsupport::checkMessage, &gSink);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int layout = in.ConsumeIntegralInRange(0, 3);
  const uint32_t otherSize = in.ConsumeIntegral<uint32_t>();
  const size_t nameSize = in.ConsumeIntegralInRange<size_t>(0, 1100);
  const bool haveVariable = in.ConsumeBool();
  const std::string variable = in.ConsumeRandomLengthString(2100);
  std::vector<uint8_t> recordBytes = in.ConsumeBytes<uint8_t>(ACS_VENDOR_OPTIONS_SIZE);
  recordBytes.resize(ACS_VENDOR_OPTIONS_SIZE, 0);

  unsigned char *record = static_cast<unsigned char *>(malloc(ACS_VENDOR_OPTIONS_SIZE));
  memcpy(record, recordBytes.data(), ACS_VENDOR_OPTIONS_SIZE);
  unsigned char *block = static_cast<unsigned char *>(calloc(1, ACS_CB_MIN_SIZE));
  // 0: the GUI case; 1: the size announced, no record; 2: another size;
  // 3: no control block at all.
  uint32_t announced = layout == 2 ? otherSize : ACS_VENDOR_OPTIONS_SIZE;
  const unsigned char *pointer = layout == 1 ? nullptr : record;
  memcpy(block + ACS_CB_OPTIONS_SIZE_OFFSET, &announced, sizeof announced);
  memcpy(block + ACS_CB_OPTIONS_DATA_OFFSET, &pointer, sizeof pointer);
  const db2ACS_CB *cb = layout == 3 ? nullptr : reinterpret_cast<const db2ACS_CB *>(block);

  if (haveVariable)
    setenv("ZORVAN_INST", variable.c_str(), 1);
  else
    unsetenv("ZORVAN_INST");

  const char kFill = 0x7f;
  char *name = static_cast<char *>(malloc(nameSize == 0 ? 1 : nameSize));
  memset(name, kFill, nameSize == 0 ? 1 : nameSize);
  int found = GetZorvanInstanceName(name, nameSize, cb);

  bool gui = cb != nullptr && announced == ACS_VENDOR_OPTIONS_SIZE && pointer != nullptr;
  std::vector<char> want(nameSize, kFill);
  int wantFound = 0;
  if (gui) {
    // vmName: 18 bytes at offset 95, cut at its first NUL.
    std::string field(reinterpret_cast<const char *>(record + ACS_VO_VM_NAME),
                      ACS_VO_JM_TOKEN - ACS_VO_VM_NAME);
    want = copied(field.substr(0, field.find('\0')), nameSize, kFill);
    wantFound = 1;
  } else if (haveVariable) {
    want = copied(variable.c_str(), nameSize, kFill);
    wantFound = 1;
  }
  if (found != wantFound) fuzzsupport::fail("wrong result");
  if (nameSize > 0 && memcmp(name, want.data(), nameSize) != 0) fuzzsupport::fail("wrong name");

  free(name);
  free(block);
  free(record);
  return 0;
}
