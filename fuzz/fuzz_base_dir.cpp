// Base-directory resolution end to end over a real registry in the
// fuzzer's private /tmp: arbitrary registry strings (qxReg is set directly
// for each input, as it is fixed once per process otherwise), arbitrary
// instance names through ZORVAN_INST, an arbitrary properties file, the
// first-instance scan with and without Instance001, and result buffers of
// every size. A failure must leave the buffer as it was; a success must
// name a Base directory holding an executable back end.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_sink.h"

namespace {

const std::string kRoot = "/tmp/fuzz-install";
const std::string kRegistry = kRoot + "/registry";
const std::string kHome = kRoot + "/home";
const std::string kAgent = kRegistry + "/Zorvan/Instance001/Db2Agent";
const std::string kFuzzProperties = kRegistry + "/Zorvan/Fuzz/Base/.properties";

fuzzsupport::CheckingSink gSink;
std::string gRegistry;  // what qxReg points at

void makeDirs(const std::string &path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0755);
  mkdir(path.c_str(), 0755);
}

void writeFile(const std::string &path, const std::string &content, mode_t mode) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
  if (fd < 0) fuzzsupport::fail("cannot lay out the registry");
  if (!content.empty() && write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    fuzzsupport::fail("cannot lay out the registry");
  close(fd);
  chmod(path.c_str(), mode);
}

// Instance001 and Second qualify, Fuzz holds the fuzzed properties file
// (no agent marker), NotADir is a file.
void layOut() {
  makeDirs(kHome + "/Base");
  writeFile(kHome + "/Base/libqxacsint.so", "", 0755);
  for (const char *instance : {"Instance001", "Second"}) {
    std::string dir = kRegistry + "/Zorvan/" + instance;
    makeDirs(dir + "/Base");
    writeFile(dir + "/Db2Agent", "", 0644);
    writeFile(dir + "/Base/.properties", "dZORVANHOME " + kHome + "\n", 0644);
  }
  makeDirs(kRegistry + "/Zorvan/Fuzz/Base");
  writeFile(kRegistry + "/Zorvan/NotADir", "", 0644);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::privateTmp();
  layOut();
  zorvanSetTraceSink(fuzzsupport::checkMessage, &gSink);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int registryMode = in.ConsumeIntegralInRange(0, 2);
  const int instanceMode = in.ConsumeIntegralInRange(0, 3);
  const bool agentPresent = in.ConsumeBool();
  const size_t gpathSize = in.ConsumeIntegralInRange<size_t>(1, 1100);
  const std::string registryText = in.ConsumeRandomLengthString(1200);
  const std::string instance = in.ConsumeRandomLengthString(1200);
  const std::string properties = in.ConsumeRemainingBytesAsString();

  // 0: the real registry; 1: a path below it; 2: anything at all.
  if (registryMode == 0)
    gRegistry = kRegistry;
  else if (registryMode == 1)
    gRegistry = kRegistry + "/" + registryText;
  else
    gRegistry = registryText;
  qxReg = gRegistry.c_str();

  if (agentPresent)
    writeFile(kAgent, "", 0644);
  else
    unlink(kAgent.c_str());
  writeFile(kFuzzProperties, properties, 0644);

  // 0: any name; 1: the instance with the fuzzed properties; 2: a good
  // instance; 3: unset, so the scan runs and publishes its find.
  if (instanceMode == 0)
    setenv("ZORVAN_INST", instance.c_str(), 1);
  else if (instanceMode == 1)
    setenv("ZORVAN_INST", "Fuzz", 1);
  else if (instanceMode == 2)
    setenv("ZORVAN_INST", "Instance001", 1);
  else
    unsetenv("ZORVAN_INST");

  const char kFill = 0x5a;
  std::vector<char> before(gpathSize, kFill);
  char *gpath = static_cast<char *>(malloc(gpathSize));
  memcpy(gpath, before.data(), gpathSize);
  int result = GetZorvanBaseDir(gpath, gpathSize, nullptr);

  if (result == -1) {
    if (memcmp(gpath, before.data(), gpathSize) != 0) fuzzsupport::fail("failure changed gpath");
  } else if (result == 0) {
    if (memchr(gpath, '\0', gpathSize) == nullptr) fuzzsupport::fail("gpath not terminated");
    std::string base = gpath;
    if (base.size() + 1 < gpathSize && access((base + "/libqxacsint.so").c_str(), X_OK) != 0)
      fuzzsupport::fail("success without an executable back end in the base directory");
  } else {
    fuzzsupport::fail("result neither 0 nor -1");
  }
  free(gpath);

  // A name the scan published stays in the environment for good inside
  // DB2; here it is taken back so that the next input starts clean.
  if (instanceMode == 3) {
    char *value = getenv("ZORVAN_INST");
    if (value != nullptr) {
      char *entry = value - strlen("ZORVAN_INST=");
      unsetenv("ZORVAN_INST");
      free(entry);
    }
  }
  return 0;
}
