// The shared object as DB2 uses it: opened with dlopen, reached by name.
#ifndef ZORVAN_TEST_LOADED_LIBRARY_H
#define ZORVAN_TEST_LOADED_LIBRARY_H

#include <dlfcn.h>
#include <string.h>

#include <stdexcept>
#include <string>
#include <type_traits>

#include "zorvan/db2acs.h"

namespace testsupport {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char *path = ZORVAN_LIBRARY_PATH, int mode = RTLD_NOW | RTLD_LOCAL)
      : handle_(dlopen(path, mode)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  }
  LoadedLibrary(const LoadedLibrary &) = delete;
  LoadedLibrary &operator=(const LoadedLibrary &) = delete;

  void *symbol(const char *name) const {
    void *s = dlsym(handle_, name);
    if (s == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
    return s;
  }
  // A function of the library, typed: fn<db2ACSTerminate_fn>("db2ACSTerminate").
  template <typename Fn>
  Fn fn(const char *name) const {
    void *s = symbol(name);
    Fn f;
    memcpy(&f, &s, sizeof f);
    return f;
  }
  // An exported variable of the library, typed by reference.
  template <typename T>
  T &variable(const char *name) const {
    return *static_cast<T *>(symbol(name));
  }
  void *handle() const { return handle_; }

 private:
  void *handle_;
};

// Calls an entry point with every argument value-initialised and the
// return-code record, always the last parameter, as rc.
template <typename T>
T argument(db2ACS_ReturnCode *rc) {
  if constexpr (std::is_same_v<T, db2ACS_ReturnCode *>)
    return rc;
  else
    return T{};
}

template <typename... Params>
db2ACS_RC callWithRecord(db2ACS_RC (*fn)(Params...), db2ACS_ReturnCode *rc) {
  return fn(argument<Params>(rc)...);
}

}  // namespace testsupport

#endif
