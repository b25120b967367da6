#include "acs_api.h"

#include <dlfcn.h>

#include <cstdio>

std::string AcsApi::symbolOf(const char *apiName) const {
  return direct ? std::string(apiName) + "pp" : std::string(apiName);
}

namespace {

bool resolve(AcsApi &api, const std::string &path, const char *apiName, void *&out) {
  std::string symbol = api.symbolOf(apiName);
  out = dlsym(api.handle, symbol.c_str());
  if (!out) std::fprintf(stderr, "acs-host: %s has no %s\n", path.c_str(), symbol.c_str());
  return out != nullptr;
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
  if (!direct) {
    void *version = nullptr;
    ok &= resolve(api, path, "db2ACSQueryApiVersion", version);
    std::memcpy(&api.queryApiVersion, &version, sizeof version);
  }
  const char *names[] = {
#define ACS_HOST_CALL_NAME(Name, Journal, Params) "db2ACS" #Name,
      ACS_HOST_CALLS(ACS_HOST_CALL_NAME)
#undef ACS_HOST_CALL_NAME
  };
  for (std::size_t i = 0; i < kAcsCallCount; ++i) ok &= resolve(api, path, names[i], api.entries[i]);
  if (!ok) unloadAcsApi(api);
  return ok;
}

void unloadAcsApi(AcsApi &api) {
  if (api.handle) dlclose(api.handle);
  api = AcsApi{};
}
