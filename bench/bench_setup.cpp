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

namespace zbench {

namespace {

const std::string kRoot = "/tmp/zb";
const std::string kRegistry = kRoot + "/reg";
const std::string kParked = kRoot + "/parked";

[[noreturn]] void fail(const std::string &what) {
  fprintf(stderr, "benchmark setup: %s\n", what.c_str());
  exit(2);
}

void makeDir(const std::string &path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    fail("mkdir " + path + ": " + strerror(errno));
}

void writeFile(const std::string &path, const std::string &text) {
  FILE *f = fopen(path.c_str(), "we");
  if (f == nullptr) fail("create " + path + ": " + strerror(errno));
  fputs(text.c_str(), f);
  fclose(f);
}

// Copies a shared object into the private /tmp with mode 755.
void copyObject(const std::string &from, const std::string &to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) fail("open " + from + ": " + strerror(errno));
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (out < 0) fail("create " + to + ": " + strerror(errno));
  char buffer[1 << 16];
  ssize_t n;
  while ((n = read(in, buffer, sizeof buffer)) > 0)
    if (write(out, buffer, static_cast<size_t>(n)) != n) fail("write " + to);
  close(in);
  fchmod(out, 0755);
  close(out);
}

// An instance whose .properties names home; the agent marker only when
// asked for.
void makeInstance(const std::string &instancesDir, const std::string &name,
                  const std::string &home, bool agent) {
  makeDir(instancesDir + "/" + name);
  makeDir(instancesDir + "/" + name + "/Base");
  writeFile(instancesDir + "/" + name + "/Base/.properties", "dZORVANHOME " + home + "\n");
  if (agent) writeFile(instancesDir + "/" + name + "/Db2Agent", "");
}

void installBackend(const std::string &home, const std::string &built) {
  makeDir(home);
  makeDir(home + "/Base");
  copyObject(built, home + "/Base/libqxacsint.so");
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
  std::string base = kRoot + "/scan/" + std::to_string(size);
  makeDir(base);
  std::string dir = base + "/Zorvan";
  makeDir(dir);
  for (int i = 1; i <= size; ++i) {
    char name[32];
    snprintf(name, sizeof name, "Instance%05d", i);
    makeDir(dir + "/" + name);
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
  writeFile(dir + "/" + last + "/Db2Agent", "");
  gScans[size] = ScanRegistry{kRegistry + "/Zorvan", last};
}

void bindThisProcess() {
  void *library = dlopen((kRoot + "/lib/libzorvan_db2acs.so").c_str(), RTLD_NOW | RTLD_LOCAL);
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
  makeDir(kRoot);
  makeDir(kRoot + "/lib");
  makeDir(kRoot + "/child");
  makeDir(kRoot + "/scan");
  makeDir(kParked);
  // Two copies of the library: one this process binds, one only the
  // forked children open, so a child always loads and binds from scratch.
  copyObject(ZORVAN_LIBRARY_PATH, kRoot + "/lib/libzorvan_db2acs.so");
  copyObject(ZORVAN_LIBRARY_PATH, kRoot + "/child/libzorvan_db2acs.so");
  installBackend(kRoot + "/null-home", ZORVAN_BENCH_NULL_BACKEND);
  installBackend(kRoot + "/ref-home", ZORVAN_BENCH_REFERENCE_BACKEND);
  gChildPaths.library = kRoot + "/child/libzorvan_db2acs.so";
  gChildPaths.referenceBackend = kRoot + "/ref-home/Base/libqxacsint.so";

  makeDir(kRegistry);
  makeDir(kRegistry + "/Zorvan");
  makeInstance(kRegistry + "/Zorvan", "Instance001", kRoot + "/null-home", true);
  makeInstance(kRegistry + "/Zorvan", "Reference", kRoot + "/ref-home", true);
  for (int size : kScanSizes) buildScanRegistry(size);

  traceOff();
  setenv("QXREG", kRegistry.c_str(), 1);
  setenv("QXACS_EXAMPLE_DIR", (kRoot + "/catalogue").c_str(), 1);
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
  std::string scanDir = kRoot + "/scan/" + std::to_string(size) + "/Zorvan";
  if (rename((kRegistry + "/Zorvan").c_str(), (kParked + "/Zorvan").c_str()) != 0) return;
  if (rename(scanDir.c_str(), (kRegistry + "/Zorvan").c_str()) != 0) {
    rename((kParked + "/Zorvan").c_str(), (kRegistry + "/Zorvan").c_str());
    return;
  }
  ok_ = true;
}

ActiveScanRegistry::~ActiveScanRegistry() {
  if (!ok_) return;
  std::string scanDir = kRoot + "/scan/" + std::to_string(size_) + "/Zorvan";
  if (rename((kRegistry + "/Zorvan").c_str(), scanDir.c_str()) != 0 ||
      rename((kParked + "/Zorvan").c_str(), (kRegistry + "/Zorvan").c_str()) != 0)
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
