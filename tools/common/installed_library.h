// Where an installed tool finds the library DB2 loads: the packages put
// the tools in <prefix>/bin and the library in <prefix>/lib.
#ifndef ZORVAN_TOOLS_INSTALLED_LIBRARY_H
#define ZORVAN_TOOLS_INSTALLED_LIBRARY_H

#include <unistd.h>

#include <string>

namespace zorvan {

// <prefix>/lib/libzorvan_db2acs.so beside this program, when it is there;
// "" for a program in the build tree, or without /proc.
inline std::string installedAcsLibrary() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "";
  std::string prefix(self, static_cast<std::size_t>(length));
  prefix.erase(prefix.rfind('/'));  // its bin directory
  prefix.erase(prefix.rfind('/') == std::string::npos ? 0 : prefix.rfind('/'));
  std::string library = prefix + "/lib/libzorvan_db2acs.so";
  return access(library.c_str(), F_OK) == 0 ? library : "";
}

}  // namespace zorvan

#endif
