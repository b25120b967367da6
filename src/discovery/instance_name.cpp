// Instance name resolution: the vmName of DB2's vendor-options record when
// DB2 passed one (the GUI case), otherwise ZORVAN_INST (the command line).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "bounded.h"
#include "raised_privileges.h"
#include "zorvan/discovery.h"
#include "zorvan/trace.h"
#include "zorvan/trace_texts.h"

// The control-block offsets are those of DB2's 64-bit layout.
static_assert(sizeof(void *) == 8, "the library is built for 64-bit DB2 only");

namespace {

const char kTag[] = ZORVAN_TAG_INSTANCE_NAME;

struct VendorField {
  size_t offset;
  size_t width;  // bytes up to the next field (or the end of the record)
  const char *message;
};

// In offset order; vmName (index 4) is the one that names the instance.
constexpr VendorField kFields[] = {
    {ACS_VO_INSTANCE_NAME, ACS_VO_VERSION - ACS_VO_INSTANCE_NAME, "instance Name is %s"},
    {ACS_VO_VERSION, ACS_VO_BUILD - ACS_VO_VERSION, "version is %s"},
    {ACS_VO_BUILD, ACS_VO_VENDOR_ID - ACS_VO_BUILD, "build is %s"},
    {ACS_VO_VENDOR_ID, ACS_VO_VM_NAME - ACS_VO_VENDOR_ID, "vendorId is %s"},
    {ACS_VO_VM_NAME, ACS_VO_JM_TOKEN - ACS_VO_VM_NAME, ZORVAN_TEXT_VM_NAME},
    {ACS_VO_JM_TOKEN, ACS_VO_SERVER_ID - ACS_VO_JM_TOKEN, "jmToken is %s"},
    {ACS_VO_SERVER_ID, ACS_VO_DB_INSTANCE_NAME - ACS_VO_SERVER_ID, "serverId is %s"},
    {ACS_VO_DB_INSTANCE_NAME, ACS_VENDOR_OPTIONS_SIZE - ACS_VO_DB_INSTANCE_NAME,
     "dbInstanceName is %s"},
};
constexpr size_t kVmNameField = 4;
constexpr size_t kWidestField = 128;

// A field's text, read within its own width: a field without its NUL is
// cut at its width rather than read on into the next field or past the
// record.
void fieldText(char (&text)[kWidestField + 1], const unsigned char *record,
               const VendorField &field) {
  memcpy(text, record + field.offset, field.width);
  text[field.width] = '\0';
}

// The control block's options items, read byte-wise: the block is DB2's
// and its alignment is not ours to assume.
void readOptions(const db2ACS_CB *cb, uint32_t *size, const unsigned char **data) {
  *size = 0;
  *data = nullptr;
  if (cb == nullptr) return;
  const unsigned char *block = reinterpret_cast<const unsigned char *>(cb);
  memcpy(size, block + ACS_CB_OPTIONS_SIZE_OFFSET, sizeof *size);
  memcpy(data, block + ACS_CB_OPTIONS_DATA_OFFSET, sizeof *data);
}

}  // namespace

extern "C" int GetZorvanInstanceName(char *name, size_t size, const db2ACS_CB *cb) {
  SqluvErrorLog(kTag, ZORVAN_TEXT_ENTERED);
  int found = 0;
  uint32_t optionsSize;
  const unsigned char *record;
  readOptions(cb, &optionsSize, &record);

  if (optionsSize == ACS_VENDOR_OPTIONS_SIZE && record != nullptr) {
    SqluvErrorLog(kTag, ZORVAN_TEXT_VENDOR_OPTIONS);
    char text[kWidestField + 1];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    for (const VendorField &field : kFields) {
      fieldText(text, record, field);
      SqluvErrorLog(kTag, field.message, text);
    }
#pragma GCC diagnostic pop
    fieldText(text, record, kFields[kVmNameField]);
    // The caller of a privileged process builds the record too: its name
    // obeys the same rule as ZORVAN_INST's.
    if (zorvan::raisedPrivileges() && !zorvan::plainInstanceName(text)) {
      SqluvErrorLog(kTag, ZORVAN_TEXT_VM_NAME_IGNORED, text);
    } else {
      zorvan::copyName(name, size, text);
      found = 1;
    }
  } else {
    SqluvErrorLog(kTag, "Possibly CommandLine case, VENDOROPT not set.");
    const char *fromEnvironment = getenv("ZORVAN_INST");
    // A name that leaves the instances directory would let the caller of a
    // privileged process pick any .properties file, and so the back end.
    if (fromEnvironment != nullptr && !zorvan::plainInstanceName(fromEnvironment) &&
        zorvan::raisedPrivileges()) {
      SqluvErrorLog(kTag, ZORVAN_TEXT_ZORVAN_INST_IGNORED, fromEnvironment);
    } else if (fromEnvironment != nullptr) {
      SqluvErrorLog(kTag, ZORVAN_TEXT_INSTANCE_VARIABLE, fromEnvironment);
      zorvan::copyName(name, size, fromEnvironment);
      found = 1;
    }
  }
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return found;
}
