#include "backend_load.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace doctor {

const std::vector<std::string> &backendSymbols() {
#define ACS_ENTRY_SYMBOL(Name, Code, Label, Calling, Params, Args) "db2ACS" #Name "pp",
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_SYMBOL
#define ACS_FORWARDER_ENTRY ACS_ENTRY_SYMBOL
  static const std::vector<std::string> symbols = {
#include "zorvan/entry_points.def"
  };
#undef ACS_ENTRY_SYMBOL
  return symbols;
}

BackendLoad loadBackend(const std::string &path) {
  BackendLoad load;
  load.attempted = true;
  load.path = path;
  struct stat st;
  load.found = stat(path.c_str(), &st) == 0;
  if (!load.found) {
    load.error = "not found";
    return load;
  }

  // The library loads from inside the base directory; a back end whose
  // dependencies are found relative to it behaves the same here.
  int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && chdir(slash == 0 ? "/" : path.substr(0, slash).c_str()) != 0) {
  }
  void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    load.error = why != nullptr ? why : "dlopen failed";
  }
  if (here >= 0) {
    if (fchdir(here) != 0) {
    }
    close(here);
  }

  load.loaded = handle != nullptr;
  for (const std::string &symbol : backendSymbols())
    load.entryPoints.push_back({symbol, handle != nullptr && dlsym(handle, symbol.c_str()) != nullptr});
  return load;
}

void encodeLoad(Wire &out, const BackendLoad &load) {
  out.put(load.attempted ? 1L : 0L);
  out.put(load.path);
  out.put(load.found ? 1L : 0L);
  out.put(load.loaded ? 1L : 0L);
  out.put(load.error);
  std::vector<std::string> resolved;
  for (const EntryPoint &e : load.entryPoints) resolved.push_back((e.resolved ? "1" : "0") + e.symbol);
  out.put(resolved);
}

bool decodeLoad(WireReader &in, BackendLoad &load) {
  std::vector<std::string> resolved;
  if (!(in.get(load.attempted) && in.get(load.path) && in.get(load.found) && in.get(load.loaded) &&
        in.get(load.error) && in.get(resolved)))
    return false;
  for (const std::string &e : resolved) {
    if (e.empty()) return false;
    load.entryPoints.push_back({e.substr(1), e[0] == '1'});
  }
  return true;
}

}  // namespace doctor
