// The symbols the shared object must export, written out here by hand,
// independently of include/zorvan/entry_points.def, from which the library
// marks them for export: a wrong row there shows as a difference. Read by
// the ABI test and by the packaging test, which checks the packaged copy.
#ifndef ZORVAN_TEST_EXPECTED_EXPORTS_H
#define ZORVAN_TEST_EXPECTED_EXPORTS_H

#include <elf.h>

#include <map>
#include <string>

namespace abitest {

inline const char *const kAcsFunctions[] = {
    "db2ACSQueryApiVersion", "db2ACSInitialize",    "db2ACSTerminate",
    "db2ACSBeginOperation",  "db2ACSEndOperation",  "db2ACSPrepare",
    "db2ACSPartition",       "db2ACSBeginQuery",    "db2ACSGetNextObject",
    "db2ACSEndQuery",        "db2ACSSnapshot",      "db2ACSVerify",
    "db2ACSDelete",          "db2ACSStoreMetaData", "db2ACSRetrieveMetaData",
};

// Name -> symbol type: the fifteen functions and the instance scan are
// code, the handle and the fifteen f_ pointers are data.
inline std::map<std::string, unsigned> expectedExports() {
  std::map<std::string, unsigned> expected;
  for (const char *name : kAcsFunctions) {
    expected[name] = STT_FUNC;
    expected[std::string("f_") + name] = STT_OBJECT;
  }
  expected["get_first_zorvan_instname"] = STT_FUNC;
  expected["db2ACS_handle"] = STT_OBJECT;
  return expected;
}

}  // namespace abitest

#endif
