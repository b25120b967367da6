// The first-instance scan over "<registry>/Zorvan".
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery_fixtures.h"
#include "test_support.h"
#include "zorvan/db2acs.h"
#include "zorvan/discovery.h"

namespace {

using discovery::kEntered;
using discovery::kLeaving;
using testsupport::makeDirs;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

const char kTag[] = "get_first_zorvan_instname";

Lines scanTrace() { return discovery::rawMessagesOf(kTag); }

class FirstInstanceScan : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::enableTrace();
    useRegistry(testsupport::makeTempDir("registry"));
  }

  void useRegistry(const std::string &registry) {
    registry_ = registry;
    instances_ = registry + "/Zorvan";
    testsupport::setEnv("QXREG", registry);
  }

  // An instance directory, with the agent marker as a directory or not at all.
  void instance(const std::string &name, bool withAgent = true) const {
    makeDirs(instances_ + "/" + name);
    if (withAgent) makeDirs(instances_ + "/" + name + "/Db2Agent");
  }

  std::string probeFailed() const {
    return "Instance001 doesnt have DB2 iKA installed. prop_dirname=[" + instances_ +
           "/Instance001/Db2Agent]";
  }
  std::string noAgent(const std::string &name) const {
    const std::string dir = instances_ + "/" + name;
    return "stat(" + dir + "/Db2Agent) failed, DB2 Agent is not installed under instance = " + dir +
           "\n";
  }
  std::string statFailed(const std::string &name, int error) const {
    return "stat(" + instances_ + "/" + name + ") failed, errno: " + std::to_string(error) + "\n";
  }
  static std::string notADir(const std::string &name) { return "not a dir : " + name + "\n"; }
  static std::string got(const std::string &name) { return "Got instance name:  " + name + "\n"; }

  std::string registry_;
  std::string instances_;
  char name_[64];
};

TEST_F(FirstInstanceScan, NullOrEmptyBufferIsRejected) {
  char one[8] = "keep";
  EXPECT_EQ(get_first_zorvan_instname(nullptr, 1024), -1);
  EXPECT_EQ(get_first_zorvan_instname(nullptr, 0), -1);
  EXPECT_EQ(get_first_zorvan_instname(one, 0), -1);
  EXPECT_STREQ(one, "keep");
  const std::string invalid = "Invalid arguments \n";
  EXPECT_EQ(scanTrace(), (Lines{kEntered, invalid, kLeaving, kEntered, invalid, kLeaving, kEntered,
                                invalid, kLeaving}));
  // The message's own newline leaves a line break of its own in the file.
  EXPECT_EQ(testsupport::traceLines().size(), 12u);
}

TEST_F(FirstInstanceScan, FixesTheRegistryDirectoryWhenUnset) {
  instance("Instance001");
  ASSERT_EQ(qxReg, nullptr);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  ASSERT_NE(qxReg, nullptr);
  EXPECT_EQ(std::string(qxReg), registry_);
}

TEST_F(FirstInstanceScan, UnreadableInstancesDirectoryFails) {
  memset(name_, '#', sizeof name_);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  writeFile(instances_, "a file, not a directory");
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(std::string(name_, sizeof name_), std::string(sizeof name_, '#'));
  EXPECT_EQ(scanTrace(),
            (Lines{kEntered, "open(" + instances_ + ") failed with errno: 2\n", kLeaving, kEntered,
                   "open(" + instances_ + ") failed with errno: " + std::to_string(ENOTDIR) + "\n",
                   kLeaving}));
}

TEST_F(FirstInstanceScan, DefaultInstanceWinsWhateverTheDirectoryOrder) {
  instance("Alpha");
  instance("Instance001");
  instance("Zulu");
  const Lines order = discovery::directoryOrder(instances_);
  ASSERT_NE(order.front(), "Instance001");  // a qualifying entry comes first
  memset(name_, '#', sizeof name_);

  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_EQ(std::string(name_, sizeof name_), "Instance001" + std::string(sizeof name_ - 11, '\0'));
  EXPECT_EQ(scanTrace(), (Lines{kEntered, kLeaving}));
}

TEST_F(FirstInstanceScan, DefaultInstanceMarkerIsAnyFileTheProbeCanStat) {
  makeDirs(instances_ + "/Instance001");
  writeFile(instances_ + "/Instance001/Db2Agent", "");
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_STREQ(name_, "Instance001");
  EXPECT_EQ(scanTrace(), (Lines{kEntered, kLeaving}));

  // A dangling marker link does not count, and the scan rejects the
  // directory again when it meets it.
  testsupport::enableTrace();
  unlink((instances_ + "/Instance001/Db2Agent").c_str());
  ASSERT_EQ(symlink("/nonexistent/agent", (instances_ + "/Instance001/Db2Agent").c_str()), 0);
  memset(name_, '#', sizeof name_);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(std::string(name_, sizeof name_), std::string(sizeof name_, '#'));
  EXPECT_EQ(scanTrace(), (Lines{kEntered, probeFailed(), noAgent("Instance001"), kLeaving}));
}

TEST_F(FirstInstanceScan, EmptyInstancesDirectoryFindsNothing) {
  makeDirs(instances_);
  memset(name_, '#', sizeof name_);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(std::string(name_, sizeof name_), std::string(sizeof name_, '#'));
  EXPECT_EQ(scanTrace(), (Lines{kEntered, probeFailed(), kLeaving}));
}

TEST_F(FirstInstanceScan, RejectedEntriesAreTracedInDirectoryOrder) {
  makeDirs(instances_);
  writeFile(instances_ + "/plain", "");
  ASSERT_EQ(symlink("/nonexistent/instance", (instances_ + "/dangling").c_str()), 0);
  ASSERT_EQ(symlink((instances_ + "/plain").c_str(), (instances_ + "/toFile").c_str()), 0);
  instance("NoAgent", false);
  instance("Instance001", false);
  instance("DeadAgent", false);
  ASSERT_EQ(symlink("/nonexistent/agent", (instances_ + "/DeadAgent/Db2Agent").c_str()), 0);

  Lines expected{kEntered, probeFailed()};
  for (const std::string &entry : discovery::directoryOrder(instances_)) {
    if (entry == "plain" || entry == "toFile")
      expected.push_back(notADir(entry));
    else if (entry == "dangling")
      expected.push_back(statFailed(entry, ENOENT));
    else
      expected.push_back(noAgent(entry));
  }
  expected.push_back(kLeaving);
  memset(name_, '#', sizeof name_);

  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(std::string(name_, sizeof name_), std::string(sizeof name_, '#'));
  EXPECT_EQ(scanTrace(), expected);
}

TEST_F(FirstInstanceScan, FirstQualifyingEntryInDirectoryOrderIsTaken) {
  instance("Mid");
  instance("NoAgent", false);
  instance("Alpha");
  instance("Zulu");
  const Lines all = discovery::directoryOrder(instances_);
  Lines order = all;
  order.erase(std::remove(order.begin(), order.end(), "NoAgent"), order.end());
  ASSERT_NE(order.front(), "Alpha") << "directory order equals sorted order; nothing proven";
  const bool noAgentFirst = std::find(all.begin(), all.end(), "NoAgent") <
                            std::find(all.begin(), all.end(), order.front());

  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_EQ(std::string(name_), order.front());
  Lines expected{kEntered, probeFailed()};
  if (noAgentFirst) expected.push_back(noAgent("NoAgent"));
  expected.push_back(got(order.front()));
  expected.push_back(kLeaving);
  EXPECT_EQ(scanTrace(), expected);
}

TEST_F(FirstInstanceScan, LinkedAndDotNamedDirectoriesQualify) {
  const std::string real = testsupport::makeTempDir("real");
  makeDirs(real + "/Db2Agent");
  makeDirs(instances_);
  ASSERT_EQ(symlink(real.c_str(), (instances_ + "/Linked").c_str()), 0);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_STREQ(name_, "Linked");
  EXPECT_EQ(scanTrace(), (Lines{kEntered, probeFailed(), got("Linked"), kLeaving}));

  testsupport::enableTrace();
  unlink((instances_ + "/Linked").c_str());
  instance(".hidden");
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_STREQ(name_, ".hidden");
  EXPECT_EQ(scanTrace(), (Lines{kEntered, probeFailed(), got(".hidden"), kLeaving}));
}

TEST_F(FirstInstanceScan, NameIsCutToASmallBuffer) {
  instance("LongerName");
  char small[5];
  memset(small, '#', sizeof small);
  EXPECT_EQ(get_first_zorvan_instname(small, sizeof small), 0);
  EXPECT_EQ(std::string(small, sizeof small), std::string("Long\0", 5));
  EXPECT_EQ(scanTrace(), (Lines{kEntered, probeFailed(), got("Long"), kLeaving}));
}

// "<registry>/Zorvan" must fit 1024 bytes: 1016 characters of registry
// directory still do, 1017 do not.
TEST_F(FirstInstanceScan, LongestRegistryDirectoryIsOpened) {
  useRegistry(discovery::longPath("/tmp/r", 1016, false));
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(instances_.size(), 1023u);
  EXPECT_EQ(scanTrace(),
            (Lines{kEntered, "open(" + instances_ + ") failed with errno: 2\n", kLeaving}));
}

TEST_F(FirstInstanceScan, OverlongRegistryDirectoryIsRefused) {
  useRegistry(discovery::longPath("/tmp/r", 1017, false));
  memset(name_, '#', sizeof name_);
  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), -1);
  EXPECT_EQ(std::string(name_, sizeof name_), std::string(sizeof name_, '#'));
  const Lines trace = scanTrace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], kEntered);
  EXPECT_EQ(trace[1].rfind("open(", 0), std::string::npos) << trace[1];
  EXPECT_EQ(trace[2], kLeaving);
}

// With a 900-character registry directory, "<registry>/Zorvan/<entry>"
// fits for entries up to 115 characters and its "/Db2Agent" for entries
// up to 106; longer entries are skipped, never cut into another path.
TEST_F(FirstInstanceScan, EntriesWhosePathsDoNotFitAreSkipped) {
  useRegistry(discovery::longPath("/tmp/r", 900, true));
  const std::string longName(200, 'L');
  const std::string agentTooLong(110, 'M');
  const std::string fits(106, 'F');
  makeDirs(instances_);
  discovery::buildLastInOrder(
      instances_, fits, [](const std::string &path) { makeDirs(path + "/Db2Agent"); },
      [&] {
        instance(longName);
        instance(agentTooLong);
      });

  char name[256];
  EXPECT_EQ(get_first_zorvan_instname(name, sizeof name), 0);
  EXPECT_EQ(std::string(name), fits);
  const Lines trace = scanTrace();
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[0], kEntered);
  EXPECT_EQ(trace[1], probeFailed());
  for (size_t i : {2u, 3u}) {
    EXPECT_FALSE(trace[i].empty());
    EXPECT_EQ(trace[i].rfind("stat(", 0), std::string::npos) << trace[i];
    EXPECT_EQ(trace[i].rfind("Got instance", 0), std::string::npos) << trace[i];
  }
  EXPECT_EQ(trace[4], got(fits));
  EXPECT_EQ(trace[5], kLeaving);
}

// With a 996-character registry directory "<registry>/Zorvan" still opens
// but "<registry>/Zorvan/Instance001/Db2Agent" would take 1024 characters:
// the default instance is not probed (a cut path, here naming an existing
// "Db2Agen", must not stand in for it), and the scan finds the instance
// whose paths fit.
TEST_F(FirstInstanceScan, DefaultInstanceTooLongToProbeLeavesItToTheScan) {
  useRegistry(discovery::longPath("/tmp/r", 996, true));
  makeDirs(instances_);
  discovery::buildLastInOrder(
      instances_, "Found", [](const std::string &path) { makeDirs(path + "/Db2Agent"); },
      [&] { makeDirs(instances_ + "/Instance001/Db2Agen"); });

  EXPECT_EQ(get_first_zorvan_instname(name_, sizeof name_), 0);
  EXPECT_STREQ(name_, "Found");
  const std::string cut = (instances_ + "/Instance001/Db2Agent").substr(0, 1023);
  EXPECT_EQ(scanTrace(),
            (Lines{kEntered, "Default instance path does not fit in 1024 bytes, not probed: " + cut,
                   "Instance001 doesnt have DB2 iKA installed. prop_dirname=[" + cut + "]",
                   "Skipping Instance001: its agent marker path does not fit in 1024 bytes\n",
                   got("Found"), kLeaving}));
}

// An unprivileged caller cannot search a mode-000 instance directory, so
// cannot see the agent marker in it: not even Instance001 qualifies then,
// and the scan goes on to an instance it can see into.
TEST_F(FirstInstanceScan, InstanceTheCallerCannotSearchIsPassedOver) {
  discovery::buildLastInOrder(
      instances_, "Open", [](const std::string &path) { makeDirs(path + "/Db2Agent"); },
      [&] {
        instance("Instance001");
        ASSERT_EQ(chmod((instances_ + "/Instance001").c_str(), 0), 0);
      });

  EXPECT_EQ(testsupport::runUnprivileged([] {
              char name[64] = "";
              int rc = get_first_zorvan_instname(name, sizeof name);
              return rc == 0 && strcmp(name, "Open") == 0 ? 0 : 1;
            }),
            0);
  EXPECT_EQ(scanTrace(),
            (Lines{kEntered, probeFailed(), noAgent("Instance001"), got("Open"), kLeaving}));
}

}  // namespace
