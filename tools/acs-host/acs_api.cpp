#include "acs_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

std::string AcsApi::symbolOf(const char *apiName) const {
  return direct ? std::string(apiName) + "pp" : std::string(apiName);
}

namespace {

// dlsym hands back an object pointer; memcpy turns it into a function
// pointer without a cast ISO C++ frowns upon.
template <typename Fn>
bool resolve(AcsApi &api, const std::string &path, const char *apiName, Fn &out) {
  std::string symbol = api.symbolOf(apiName);
  void *address = dlsym(api.handle, symbol.c_str());
  if (!address) {
    std::fprintf(stderr, "acs-host: %s has no %s\n", path.c_str(), symbol.c_str());
    return false;
  }
  static_assert(sizeof(Fn) == sizeof(void *), "function pointers are pointer-sized");
  std::memcpy(&out, &address, sizeof out);
  return true;
}

}  // namespace

bool loadAcsApi(const std::string &path, bool direct, AcsApi &api) {
  // A back end is loaded the way the front end loads it: lazily.
  api.handle = dlopen(path.c_str(), (direct ? RTLD_LAZY : RTLD_NOW) | RTLD_LOCAL);
  if (!api.handle) {
    const char *why = dlerror();
    std::fprintf(stderr, "acs-host: cannot load %s: %s\n", path.c_str(), why ? why : "?");
    return false;
  }
  api.direct = direct;
  // Every function is looked up, so one run names all that are missing.
  bool ok = true;
  if (!direct) ok &= resolve(api, path, "db2ACSQueryApiVersion", api.queryApiVersion);
  ok &= resolve(api, path, "db2ACSInitialize", api.initialize);
  ok &= resolve(api, path, "db2ACSTerminate", api.terminate);
  ok &= resolve(api, path, "db2ACSBeginOperation", api.beginOperation);
  ok &= resolve(api, path, "db2ACSEndOperation", api.endOperation);
  ok &= resolve(api, path, "db2ACSPrepare", api.prepare);
  ok &= resolve(api, path, "db2ACSPartition", api.partition);
  ok &= resolve(api, path, "db2ACSBeginQuery", api.beginQuery);
  ok &= resolve(api, path, "db2ACSGetNextObject", api.getNextObject);
  ok &= resolve(api, path, "db2ACSEndQuery", api.endQuery);
  ok &= resolve(api, path, "db2ACSSnapshot", api.snapshot);
  ok &= resolve(api, path, "db2ACSVerify", api.verify);
  ok &= resolve(api, path, "db2ACSDelete", api.deleteObject);
  ok &= resolve(api, path, "db2ACSStoreMetaData", api.storeMetaData);
  ok &= resolve(api, path, "db2ACSRetrieveMetaData", api.retrieveMetaData);
  if (!ok) unloadAcsApi(api);
  return ok;
}

void unloadAcsApi(AcsApi &api) {
  if (api.handle) dlclose(api.handle);
  api = AcsApi{};
}
