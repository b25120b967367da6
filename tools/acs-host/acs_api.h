// The DB2 ACS call interface as acs-host sees it: its own minimal
// declarations (not DB2's headers, not the library's), and loading an ACS
// library or, with --backend-direct, a back end's "pp" entry points.
#ifndef ACS_HOST_ACS_API_H
#define ACS_HOST_ACS_API_H

#include <cstdint>
#include <string>

// The host-owned return-code record. Only returnCode is the callee's; the
// rest stands for DB2's further fields, which a callee must leave alone.
struct HostRecord {
  int32_t returnCode;
  unsigned char hostOwned[60];
};
static_assert(sizeof(HostRecord) == 64, "record is 64 bytes");

using QueryApiVersionFn = int32_t (*)();
using InitializeFn = int32_t (*)(void *cb, HostRecord *rc);
using OnePointerFn = int32_t (*)(void *, HostRecord *);
using CodeAndPointerFn = int32_t (*)(uint32_t, void *, HostRecord *);
using TwoPointerFn = int32_t (*)(void *, void *, HostRecord *);
using ThreePointerFn = int32_t (*)(void *, void *, void *, HostRecord *);
using SnapshotFn = int32_t (*)(uint32_t, void *, void *, void *, HostRecord *);

struct AcsApi {
  void *handle = nullptr;
  bool direct = false;  // true: the back end's db2ACS*pp names
  QueryApiVersionFn queryApiVersion = nullptr;  // has no pp counterpart
  InitializeFn initialize = nullptr;
  OnePointerFn terminate = nullptr;
  CodeAndPointerFn beginOperation = nullptr;
  CodeAndPointerFn endOperation = nullptr;
  TwoPointerFn prepare = nullptr;
  ThreePointerFn partition = nullptr;
  TwoPointerFn beginQuery = nullptr;
  TwoPointerFn getNextObject = nullptr;
  OnePointerFn endQuery = nullptr;
  SnapshotFn snapshot = nullptr;
  TwoPointerFn verify = nullptr;
  TwoPointerFn deleteObject = nullptr;
  TwoPointerFn storeMetaData = nullptr;
  ThreePointerFn retrieveMetaData = nullptr;

  // The symbol called for an API function, e.g. "db2ACSVerify" or, direct,
  // "db2ACSVerifypp".
  std::string symbolOf(const char *apiName) const;
};

// dlopens path and resolves every function. On failure prints why (naming
// each missing function) and returns false.
bool loadAcsApi(const std::string &path, bool direct, AcsApi &api);

void unloadAcsApi(AcsApi &api);

#endif
