#include "binding_support.h"

#include <dlfcn.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "test_support.h"

namespace binding {

const EntryPoint kEntryPoints[14] = {
    {"db2ACSInitializepp", "f_db2ACSInitialize = %p"},
    {"db2ACSTerminatepp", "f_db2ACSTerminate = %p"},
    {"db2ACSBeginOperationpp", "f_db2ACSBegOp = %p"},
    {"db2ACSEndOperationpp", "f_db2ACSEndOp = %p"},
    {"db2ACSBeginQuerypp", "f_db2ACSBegQ = %p"},
    {"db2ACSGetNextObjectpp", "f_db2ACSGetNextObj = %p"},
    {"db2ACSEndQuerypp", "f_db2ACSEndQ = %p"},
    {"db2ACSPartitionpp", "f_db2ACSPart = %p"},
    {"db2ACSPreparepp", "f_db2ACSPrep = %p"},
    {"db2ACSSnapshotpp", "f_db2ACSSnapshot = %p"},
    {"db2ACSVerifypp", "f_db2ACSVeri = %p"},
    {"db2ACSDeletepp", "f_db2ACSDel = %p"},
    {"db2ACSStoreMetaDatapp", "f_db2ACSStrMeData = %p"},
    {"db2ACSRetrieveMetaDatapp", "f_db2ACSRMData = %p"},
};

std::string pointerText(const void *p) {
  char text[32];
  snprintf(text, sizeof text, "%p", p);
  return text;
}

void copyFile(const std::string &from, const std::string &to, unsigned mode) {
  std::string content = testsupport::readFile(from);
  if (content.empty()) throw std::runtime_error("cannot read " + from);
  // A new file renamed into place: a library still mapped from the old
  // one must not change under the process.
  std::string fresh = to + ".new";
  testsupport::writeFile(fresh, content, static_cast<mode_t>(mode));
  if (rename(fresh.c_str(), to.c_str()) != 0) throw std::runtime_error("cannot replace " + to);
}

void *loadedHandle(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle;
}

void *symbolOf(const std::string &path, const char *name) {
  void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  void *symbol = dlsym(handle, name);
  dlclose(handle);
  return symbol;
}

std::vector<std::string> diagnosticLines(const std::string &path) {
  std::vector<std::string> lines;
  for (const EntryPoint &entry : kEntryPoints) {
    void *address = path.empty() ? nullptr : symbolOf(path, entry.symbol);
    std::string label = entry.label;
    lines.push_back(label.replace(label.find("%p"), 2, pointerText(address)));
  }
  return lines;
}

std::string makeDirOfLength(size_t length) {
  std::string dir = testsupport::makeTempDir("long");
  if (dir.size() + 2 > length) throw std::runtime_error("length too short");
  // Components of at most 200 characters; the last takes what remains.
  while (dir.size() < length) {
    size_t room = length - dir.size() - 1;
    size_t take = room > 200 ? 200 : room;
    if (room > 200 && room - 200 < 2) take = room - 2;
    dir += "/" + std::string(take, 'd');
  }
  testsupport::makeDirs(dir);
  return dir;
}

std::string currentDir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return "(unreadable)";
  return cwd;
}

std::vector<std::string> fileLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace binding

// A back-end name in the executable's exports, so that the global scope
// always holds one: a loader that looked names up there instead of in the
// library it opened would bind this.
extern "C" __attribute__((visibility("default"))) int db2ACSInitializepp(void *, void *) {
  return 99;
}
