// Base directory resolution: instance name, its .properties file, the
// home directory it names and the back-end library's execute bit.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "discovery_fixtures.h"
#include "test_support.h"
#include "zorvan/discovery.h"

namespace {

using discovery::kEntered;
using discovery::kLeaving;
using testsupport::makeDirs;
using testsupport::traceMessagesOf;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

const char kTag[] = "GetZorvanBaseDir";
const char kRegistry[] = "/tmp/zreg";
const char kHome[] = "/tmp/zhome";
const char kFallback[] =
    "GetZorvanInstanceName failed, trying to get the name of the first zorvan instance name.";

std::string propertiesPath(const std::string &registry, const std::string &instance) {
  return registry + "/Zorvan/" + instance + "/Base/.properties";
}

std::string pathLine(const std::string &properties) {
  return "path for .properties is: " + properties;
}

std::string notAccessible(const std::string &library) {
  return "QXZrDb2IKA DB2 Library " + library + " not accessible";
}

void installLibrary(const std::string &home, mode_t mode) {
  makeDirs(home + "/Base");
  writeFile(home + "/Base/libqxacsint.so", "", mode);
}

void writeProperties(const std::string &path, const std::string &content) {
  makeDirs(path.substr(0, path.rfind('/')));
  writeFile(path, content);
}

class BaseDir : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::enableTrace();
    testsupport::unsetEnv("ZORVAN_INST");
    testsupport::setEnv("QXREG", kRegistry);
    fixRegistryDir();
    installLibrary(kHome, 0755);
    memset(gpath_, '#', sizeof gpath_);
  }

  // An instance named by ZORVAN_INST, its .properties holding content.
  static std::string instance(const std::string &content, const std::string &name = "Inst") {
    testsupport::setEnv("ZORVAN_INST", name);
    std::string path = propertiesPath(kRegistry, name);
    writeProperties(path, content);
    return path;
  }

  bool gpathUnchanged() const {
    return std::string(gpath_, sizeof gpath_) == std::string(sizeof gpath_, '#');
  }
  std::string gpath() const { return std::string(gpath_); }

  // Entered, the properties path, a line naming the home directory, Leaving.
  static void expectFound(const std::string &properties, const std::string &home) {
    const Lines trace = traceMessagesOf(kTag);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], kEntered);
    EXPECT_EQ(trace[1], pathLine(properties));
    EXPECT_NE(trace[2].find(home), std::string::npos) << trace[2];
    EXPECT_EQ(trace[3], kLeaving);
  }

  // A failure traced between Entered and Leaving in words of the code's own.
  static std::string refusalLine() {
    const Lines trace = traceMessagesOf(kTag);
    if (trace.size() < 3 || trace.front() != kEntered || trace.back() != kLeaving) {
      ADD_FAILURE() << "unexpected trace of " << trace.size() << " lines";
      return "";
    }
    return trace[trace.size() - 2];
  }

  char gpath_[1024];
};

TEST_F(BaseDir, NullPathIsRefusedBeforeAnyLookup) {
  instance("dZORVANHOME /tmp/zhome\n");
  EXPECT_EQ(GetZorvanBaseDir(nullptr, 1024, nullptr), -1);
  EXPECT_EQ(
      testsupport::traceMessages(),
      (Lines{"GetZorvanBaseDir: -----------Entered--------",
             "GetZorvanBaseDir: -----------Leaving --- gpath-Input parameter is null --------"}));
}

TEST_F(BaseDir, VendorOptionNameIsUsedAndNotPublished) {
  const std::string properties = instance("dZORVANHOME /tmp/zhome\n", "GuiInst");
  testsupport::unsetEnv("ZORVAN_INST");
  discovery::VendorRecord record;
  record.put(ACS_VO_VM_NAME, "GuiInst");
  discovery::ControlBlock cb(ACS_VENDOR_OPTIONS_SIZE, record.bytes);

  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, cb.get()), 0);
  const std::string base = "/tmp/zhome/Base";
  EXPECT_EQ(std::string(gpath_, sizeof gpath_),
            base + std::string(sizeof gpath_ - base.size(), '\0'));
  expectFound(properties, kHome);
  EXPECT_EQ(getenv("ZORVAN_INST"), nullptr);
}

TEST_F(BaseDir, CommandLineNameIsLookedUpInsideTheBaseDirCall) {
  const std::string properties = instance("dZORVANHOME /tmp/zhome\n", "CmdInst");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  EXPECT_EQ(gpath(), "/tmp/zhome/Base");
  const Lines trace = testsupport::traceMessages();
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(Lines(trace.begin(), trace.begin() + 6),
            (Lines{"GetZorvanBaseDir: -----------Entered--------",
                   "GetZorvanInstanceName: -----------Entered--------",
                   "GetZorvanInstanceName: Possibly CommandLine case, VENDOROPT not set.",
                   "GetZorvanInstanceName: ZORVAN_INST is set to CmdInst",
                   "GetZorvanInstanceName: -----------Leaving--------",
                   "GetZorvanBaseDir: " + pathLine(properties)}));
  EXPECT_EQ(trace[7], "GetZorvanBaseDir: -----------Leaving--------");
}

TEST_F(BaseDir, SmallBufferCutsTheResult) {
  instance("dZORVANHOME /tmp/zhome\n");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, 10, nullptr), 0);
  EXPECT_EQ(std::string(gpath_, 12), std::string("/tmp/zhom\0##", 12));
}

TEST_F(BaseDir, FallsBackToTheScanAndPublishesTheName) {
  makeDirs(std::string(kRegistry) + "/Zorvan/Instance001");
  makeDirs(std::string(kRegistry) + "/Zorvan/ScanInst/Db2Agent");
  const std::string properties = propertiesPath(kRegistry, "ScanInst");
  writeProperties(properties, "dZORVANHOME /tmp/zhome\n");

  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  EXPECT_EQ(gpath(), "/tmp/zhome/Base");
  const Lines trace = traceMessagesOf(kTag);
  ASSERT_EQ(trace.size(), 7u);
  EXPECT_EQ(Lines(trace.begin(), trace.begin() + 5),
            (Lines{kEntered, kFallback, "Setting the env: ScanInst...",
                   "Setting the env: ZORVAN_INST=ScanInst succeeded", pathLine(properties)}));
  EXPECT_NE(trace[5].find(kHome), std::string::npos) << trace[5];
  EXPECT_EQ(trace[6], kLeaving);
  ASSERT_NE(getenv("ZORVAN_INST"), nullptr);
  EXPECT_STREQ(getenv("ZORVAN_INST"), "ScanInst");

  // The published name serves the next call without another scan.
  testsupport::enableTrace();
  memset(gpath_, '#', sizeof gpath_);
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  EXPECT_EQ(gpath(), "/tmp/zhome/Base");
  expectFound(properties, kHome);
  EXPECT_EQ(traceMessagesOf("GetZorvanInstanceName")[2], "ZORVAN_INST is set to ScanInst");
  EXPECT_TRUE(traceMessagesOf("get_first_zorvan_instname").empty());
}

TEST_F(BaseDir, FailsWhenTheScanFindsNothingEither) {
  makeDirs(std::string(kRegistry) + "/Zorvan/NoAgent");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  EXPECT_EQ(traceMessagesOf(kTag),
            (Lines{kEntered, kFallback,
                   "get_first_zorvan_instname() failed as well, returning error.", kLeaving}));
  EXPECT_EQ(getenv("ZORVAN_INST"), nullptr);
}

TEST_F(BaseDir, MissingPropertiesFileFails) {
  testsupport::setEnv("ZORVAN_INST", "Ghost");
  const std::string properties = propertiesPath(kRegistry, "Ghost");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  EXPECT_EQ(traceMessagesOf(kTag),
            (Lines{kEntered, pathLine(properties), "Could not open file " + properties, kLeaving}));
}

TEST_F(BaseDir, EmptyInstanceNameLeavesAnEmptyPathComponent) {
  writeProperties(std::string(kRegistry) + "/Zorvan/Base/.properties", "dZORVANHOME /tmp/zhome\n");
  testsupport::setEnv("ZORVAN_INST", "");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  EXPECT_EQ(gpath(), "/tmp/zhome/Base");
  expectFound("/tmp/zreg/Zorvan//Base/.properties", kHome);
}

// One .properties content and its outcome: the base directory, or the
// library path reported as not accessible.
struct PropertiesCase {
  const char *label;
  std::string content;
  std::string baseDir;
  std::string library;
};

void PrintTo(const PropertiesCase &c, std::ostream *out) { *out << c.label; }

class BaseDirProperties : public BaseDir, public testing::WithParamInterface<PropertiesCase> {};

TEST_P(BaseDirProperties, HomeDirectoryIsTheSecondTokenOfTheFirstKeyLine) {
  const PropertiesCase &c = GetParam();
  const std::string properties = instance(c.content);
  if (!c.baseDir.empty()) {
    EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
    EXPECT_EQ(gpath(), c.baseDir);
    expectFound(properties, c.baseDir.substr(0, c.baseDir.size() - 5));
  } else {
    EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
    EXPECT_TRUE(gpathUnchanged());
    EXPECT_EQ(traceMessagesOf(kTag),
              (Lines{kEntered, pathLine(properties), notAccessible(c.library), kLeaving}));
  }
}

const std::string kLibrary = "/tmp/zhome/Base/libqxacsint.so";

INSTANTIATE_TEST_SUITE_P(
    Contents, BaseDirProperties,
    testing::Values(
        PropertiesCase{"Plain", "dZORVANHOME /tmp/zhome\n", "/tmp/zhome/Base", ""},
        PropertiesCase{"IndentedAmongOtherLinesWithExtraTokens",
                       "# settings\nother value\n\n \t dZORVANHOME\t /tmp/zhome  more tokens\n",
                       "/tmp/zhome/Base", ""},
        PropertiesCase{"NoFinalNewline", "dZORVANHOME /tmp/zhome", "/tmp/zhome/Base", ""},
        PropertiesCase{"TrailingSlashInHome", "dZORVANHOME /tmp/zhome/\n", "/tmp/zhome//Base", ""},
        PropertiesCase{"KeyIsCaseSensitive", "dzorvanhome /tmp/zhome\nDZORVANHOME /tmp/zhome\n", "",
                       ""},
        PropertiesCase{"KeyValueFormIsNotAKeyLine", "dZORVANHOME=/tmp/zhome\n", "", ""},
        PropertiesCase{"KeyMustBeTheFirstToken", "export dZORVANHOME /tmp/zhome\n", "", ""},
        PropertiesCase{"KeyMustMatchWhole", "dZORVANHOMEDIR /tmp/zhome\n", "", ""},
        PropertiesCase{"KeyLineWithoutValueEndsTheScan", "dZORVANHOME\ndZORVANHOME /tmp/zhome\n",
                       "", ""},
        PropertiesCase{"FirstKeyLineWins", "dZORVANHOME /tmp/nowhere\ndZORVANHOME /tmp/zhome\n", "",
                       "/tmp/nowhere/Base/libqxacsint.so"},
        PropertiesCase{"CarriageReturnStaysInTheValue", "dZORVANHOME /tmp/zhome\r\n", "",
                       "/tmp/zhome\r/Base/libqxacsint.so"},
        PropertiesCase{"EmptyFile", "", "", ""},
        // Reads take 1022 characters: the rest of a longer line is read as
        // a line of its own, and a value is cut where a read ends.
        PropertiesCase{"KeyStartsTheSecondReadOfALongLine",
                       std::string(1022, 'x') + "dZORVANHOME /tmp/zhome\n", "/tmp/zhome/Base", ""},
        PropertiesCase{"KeyInTheFirstReadValueInTheNext",
                       "dZORVANHOME" + std::string(1011, ' ') + "/tmp/zhome\n", "", ""},
        PropertiesCase{"ValueCutWhereTheReadEnds",
                       "dZORVANHOME" + std::string(1007, ' ') + "/tmp/zhome\n", "",
                       "/tmp/Base/libqxacsint.so"},
        PropertiesCase{"LibraryMissing", "dZORVANHOME /tmp/nowhere\n", "",
                       "/tmp/nowhere/Base/libqxacsint.so"}),
    [](const testing::TestParamInfo<PropertiesCase> &p) { return p.param.label; });

// For a child process: 0 when it resolves /tmp/zhome/Base, 1 when refused.
int resolvesInChild() {
  char path[64] = "";
  int rc = GetZorvanBaseDir(path, sizeof path, nullptr);
  if (rc == 0) return strcmp(path, "/tmp/zhome/Base") == 0 ? 0 : 3;
  return path[0] == '\0' ? 1 : 3;
}

TEST_F(BaseDir, LibraryNeedsAnExecuteBitForTheCaller) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the library is root's and the caller nobody");
  instance("dZORVANHOME /tmp/zhome\n");
  const std::string properties = propertiesPath(kRegistry, "Inst");
  const Lines refused{kEntered, pathLine(properties), notAccessible(kLibrary), kLeaving};

  installLibrary(kHome, 0644);  // no execute bit at all: refused even to root
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  EXPECT_EQ(traceMessagesOf(kTag), refused);

  installLibrary(kHome, 0744);  // executable for its owner, root, only
  testsupport::enableTrace();
  EXPECT_EQ(testsupport::runAs(resolvesInChild), 1);
  EXPECT_EQ(traceMessagesOf(kTag), refused);
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);

  installLibrary(kHome, 0755);
  EXPECT_EQ(testsupport::runAs(resolvesInChild), 0);
}

// A set-user-ID root caller is judged as its real user, not as root.
TEST_F(BaseDir, SetUidCallerNeedsTheExecuteBitForItsRealUser) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("the real user is nobody, the effective root");
  instance("dZORVANHOME /tmp/zhome\n");
  installLibrary(kHome, 0744);  // executable for its owner, root, only
  EXPECT_EQ(testsupport::runSetUidRoot(resolvesInChild), 1);
  EXPECT_EQ(traceMessagesOf(kTag), (Lines{kEntered, pathLine(propertiesPath(kRegistry, "Inst")),
                                          notAccessible(kLibrary), kLeaving}));

  installLibrary(kHome, 0755);
  EXPECT_EQ(testsupport::runSetUidRoot(resolvesInChild), 0);
}

// "<registry>/Zorvan/<instance>/Base/.properties" must fit 1024 bytes:
// registry directory and instance name together at most 998 characters.
// The file a cut path would name exists, so a silent cut would succeed.
TEST_F(BaseDir, RegistryAndInstanceNameMustFitThePropertiesPath) {
  static const std::string registry = discovery::longPath("/tmp/r", 760, true);
  qxReg = registry.c_str();
  const std::string fits(238, 'f');
  const std::string over(239, 'o');
  writeProperties(propertiesPath(registry, fits), "dZORVANHOME /tmp/zhome\n");
  const std::string overPath = propertiesPath(registry, over);
  ASSERT_EQ(overPath.size(), 1024u);
  writeProperties(overPath, "dZORVANHOME /tmp/zhome\n");
  writeFile(overPath.substr(0, 1023), "dZORVANHOME /tmp/zhome\n");

  testsupport::setEnv("ZORVAN_INST", fits);
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  expectFound(propertiesPath(registry, fits), kHome);

  testsupport::enableTrace();
  memset(gpath_, '#', sizeof gpath_);
  testsupport::setEnv("ZORVAN_INST", over);
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  const std::string line = refusalLine();
  EXPECT_EQ(line.rfind("path for .properties", 0), std::string::npos) << line;
  EXPECT_EQ(traceMessagesOf(kTag).size(), 3u);
}

// "<home>/Base/libqxacsint.so" must fit 1024 bytes: a home directory of
// 1003 characters does, 1004 do not. The libraries a cut home directory or
// a cut library path would name are executable, so a silent cut would
// succeed.
TEST_F(BaseDir, HomeDirectoryMustLeaveRoomForTheLibraryPath) {
  const std::string edgeHome = discovery::longPath("/tmp/h", 1003, true);
  installLibrary(edgeHome, 0755);
  const std::string edge = instance("dZORVANHOME " + edgeHome + "\n", "Edge");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  EXPECT_EQ(gpath(), edgeHome + "/Base");
  expectFound(edge, edgeHome);

  const std::string overHome = discovery::longPath("/tmp/k", 1004, true);
  installLibrary(overHome, 0755);
  const std::string cutLibrary = (overHome + "/Base/libqxacsint.so").substr(0, 1023);
  writeFile(cutLibrary, "", 0755);
  installLibrary(overHome.substr(0, 1003), 0755);
  const std::string over = instance("dZORVANHOME " + overHome + "\n", "Over");
  testsupport::enableTrace();
  memset(gpath_, '#', sizeof gpath_);
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  const Lines trace = traceMessagesOf(kTag);
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[1], pathLine(over));
  EXPECT_EQ(refusalLine().find(cutLibrary + " "), std::string::npos) << refusalLine();
  EXPECT_EQ(refusalLine().rfind("Home directory", 0), std::string::npos) << refusalLine();
}

TEST_F(BaseDir, HugeZorvanInstIsRefusedWithoutHarm) {
  testsupport::setEnv("ZORVAN_INST", std::string(5000, 'z'));
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), -1);
  EXPECT_TRUE(gpathUnchanged());
  EXPECT_FALSE(refusalLine().empty());
}

TEST_F(BaseDir, HostStrtokPositionSurvivesTheCall) {
  instance("first second\n  dZORVANHOME /tmp/zhome tail\n");
  char host[] = "alpha beta gamma";
  ASSERT_STREQ(strtok(host, " "), "alpha");
  EXPECT_EQ(GetZorvanBaseDir(gpath_, sizeof gpath_, nullptr), 0);
  const char *next = strtok(nullptr, " ");
  ASSERT_NE(next, nullptr);
  EXPECT_STREQ(next, "beta");
  EXPECT_STREQ(strtok(nullptr, " "), "gamma");
}

}  // namespace
