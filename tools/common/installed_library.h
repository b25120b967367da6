// Where an installed tool finds the library DB2 loads: the packages put
// the tools in <prefix>/bin and the library in <prefix>/lib.
#ifndef ZORVAN_TOOLS_INSTALLED_LIBRARY_H
#define ZORVAN_TOOLS_INSTALLED_LIBRARY_H

#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <string>

namespace zorvan {

// <prefix>/lib/libzorvan_db2acs.so beside this program, when it is there;
// "" for a program in the build tree. Without /proc, as in a plain
// chroot, the program is the file the kernel was asked to run, its links
// resolved (/usr/bin/acs-host leads to <prefix>/bin/acs-host).
inline std::string installedAcsLibrary() {
  char self[PATH_MAX];
  const char *started = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  if (realpath("/proc/self/exe", self) == nullptr && (started == nullptr || realpath(started, self) == nullptr))
    return "";
  std::string prefix = self;
  prefix.erase(prefix.rfind('/'));  // its bin directory
  prefix.erase(prefix.rfind('/') == std::string::npos ? 0 : prefix.rfind('/'));
  std::string library = prefix + "/lib/libzorvan_db2acs.so";
  return access(library.c_str(), F_OK) == 0 ? library : "";
}

}  // namespace zorvan

#endif
