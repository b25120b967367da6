#include "bench_setup.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "installation.h"
#include "test_support.h"

namespace zbench {

namespace {

// The suite's installation: Instance001 binds the fake back end, whose
// entry points return at once; Reference the reference back end.
testsupport::Installation *gInstallation;

const std::string &root() { return gInstallation->root(); }
std::string zorvanDir() { return gInstallation->registry() + "/Zorvan"; }
std::string parkedDir() { return root() + "/parked"; }

[[noreturn]] void fail(const std::string &what) {
  fprintf(stderr, "benchmark setup: %s\n", what.c_str());
  exit(2);
}

template <typename T>
T symbolOf(void *handle, const char *name) {
  void *s = dlsym(handle, name);
  if (s == nullptr) fail(std::string("missing symbol ") + name);
  T typed;
  memcpy(&typed, &s, sizeof typed);
  return typed;
}

Bound gBound;
ChildPaths gChildPaths;
std::map<int, ScanRegistry> gScans;

// Sizes of the first-instance scan: "Instance00001".. in creation order;
// the entry readdir returns last is the one that gets the agent marker.
void buildScanRegistry(int size) {
  std::string dir = root() + "/scan/" + std::to_string(size) + "/Zorvan";
  testsupport::makeDirs(dir);
  for (int i = 1; i <= size; ++i) {
    char name[32];
    snprintf(name, sizeof name, "Instance%05d", i);
    testsupport::makeDirs(dir + "/" + name);
  }
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) fail("opendir " + dir);
  std::string last;
  int entries = 0;
  while (const dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    last = e->d_name;
    ++entries;
  }
  closedir(d);
  if (entries != size) fail("scan registry " + dir + " lists a wrong number of entries");
  testsupport::writeFile(dir + "/" + last + "/Db2Agent", "");
  gScans[size] = ScanRegistry{zorvanDir(), last};
}

void bindThisProcess() {
  void *library = dlopen((root() + "/lib/libzorvan_db2acs.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) fail(std::string("dlopen library: ") + dlerror());
  auto initialize = symbolOf<db2ACSInitialize_fn>(library, "db2ACSInitialize");
  alignas(16) static unsigned char cb[ACS_CB_MIN_SIZE];  // no vendor options: ZORVAN_INST
  db2ACS_ReturnCode rc{-1};
  db2ACS_RC result = initialize(reinterpret_cast<db2ACS_CB *>(cb), &rc);
  void *handle = *static_cast<void **>(dlsym(library, "db2ACS_handle"));
  if (result != 0 || handle == nullptr) fail("db2ACSInitialize did not bind the null back end");

  gBound.beginOperation = symbolOf<db2ACSBeginOperation_fn>(library, "db2ACSBeginOperation");
  gBound.backendBegin = symbolOf<db2ACSBeginOperation_fn>(handle, "db2ACSBeginOperationpp");
  gBound.firstInstance = symbolOf<ScanFn>(library, "get_first_zorvan_instname");

  // One traced call: the lengths of its lines for the floor, and the time
  // zone loaded before anything is timed.
  traceOn();
  int opaque = 0;
  db2ACS_ReturnCode callRc{0};
  gBound.beginOperation(1, &opaque, &callRc);
  FILE *trace = fopen(kTracePath, "re");
  if (trace == nullptr) fail("a traced call wrote no trace");
  char line[4096];
  while (fgets(line, sizeof line, trace) != nullptr) gBound.lineLengths.push_back(strlen(line));
  fclose(trace);
  if (gBound.lineLengths.size() != kLinesPerForwardedCall)
    fail("a traced call wrote " + std::to_string(gBound.lineLengths.size()) + " lines");
  traceOff();
}

}  // namespace

void prepare() {
  static testsupport::Installation installation;  // QXREG names its registry
  gInstallation = &installation;
  installation.addHealthyInstance();
  installation.installBackend(ZORVAN_BENCH_NULL_BACKEND);
  gChildPaths.referenceBackend =
      installation.addInstanceWithHome("Reference", ZORVAN_BENCH_REFERENCE_BACKEND, true) + "/libqxacsint.so";
  // Two copies of the library: one this process binds, one only the
  // forked children open, so a child always loads and binds from scratch.
  for (const char *dir : {"/lib", "/child"}) {
    testsupport::makeDirs(root() + dir);
    testsupport::writeFile(root() + dir + "/libzorvan_db2acs.so", testsupport::readFile(ZORVAN_LIBRARY_PATH),
                           0755);
  }
  gChildPaths.library = root() + "/child/libzorvan_db2acs.so";
  testsupport::makeDirs(parkedDir());
  for (int size : kScanSizes) buildScanRegistry(size);

  traceOff();
  setenv("ZORVAN_INST", "Instance001", 1);
  bindThisProcess();
  // This process stays bound to Instance001; forked children bind afresh
  // to the reference back end.
  setenv("ZORVAN_INST", "Reference", 1);
}

const Bound &bound() { return gBound; }
const ChildPaths &childPaths() { return gChildPaths; }

ActiveScanRegistry::ActiveScanRegistry(int size) : size_(size), ok_(false) {
  auto found = gScans.find(size);
  if (found == gScans.end()) return;
  registry_ = found->second;
  std::string scanDir = root() + "/scan/" + std::to_string(size) + "/Zorvan";
  if (rename(zorvanDir().c_str(), (parkedDir() + "/Zorvan").c_str()) != 0) return;
  if (rename(scanDir.c_str(), zorvanDir().c_str()) != 0) {
    rename((parkedDir() + "/Zorvan").c_str(), zorvanDir().c_str());
    return;
  }
  ok_ = true;
}

ActiveScanRegistry::~ActiveScanRegistry() {
  if (!ok_) return;
  std::string scanDir = root() + "/scan/" + std::to_string(size_) + "/Zorvan";
  if (rename(zorvanDir().c_str(), scanDir.c_str()) != 0 ||
      rename((parkedDir() + "/Zorvan").c_str(), zorvanDir().c_str()) != 0)
    fail("could not put the binding registry back");
}

void traceOff() {
  if (unlink(kTracePath) != 0 && errno != ENOENT) fail(std::string("unlink trace: ") + strerror(errno));
}

void traceOn() {
  int fd = open(kTracePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail(std::string("create trace: ") + strerror(errno));
  fchmod(fd, 0666);
  close(fd);
}

}  // namespace zbench
