// End to end: acs-host, standing in for DB2, drives the built library in
// a child process against an installation laid out under /tmp around the
// reference back end, with DB2's records. The back end's journal says
// which of its functions ran and with what; acs-host's --args-log says
// what it passed.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "acs_return_codes.h"
#include "host_run.h"
#include "qxacs_example.h"
#include "installation.h"
#include "test_support.h"

using e2e::callsOf;
using e2e::field;
using e2e::HostRun;
using e2e::linesOf;
using e2e::symbolOf;
using e2e::symbolsOf;
using testsupport::readFile;

namespace {

HostRun runLibrary(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--lib", ZORVAN_LIBRARY_PATH});
  return e2e::runHost(arguments);
}

// Runs one sequence; returns the journal lines it added, after checking
// they are exactly what acs-host says it passed, and that every call of
// the session had the same control block and the handle Initialize set.
std::vector<std::string> runSequence(const std::string &journal, const char *sequence,
                                     std::vector<std::string> extra, HostRun &run) {
  size_t before = linesOf(readFile(journal)).size();
  extra.insert(extra.begin(), {"--sequence", sequence});
  run = runLibrary(extra);
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> all = linesOf(readFile(journal));
  std::vector<std::string> added(all.begin() + static_cast<long>(std::min(before, all.size())),
                                 all.end());
  EXPECT_EQ(added, run.argsLog) << "arguments changed on their way to the back end";
  for (const std::string &line : added) {
    EXPECT_EQ(field(line, "cb"), field(added[0], "cb")) << line;
    EXPECT_EQ(field(line, "handle"), field(added[0], "handle")) << line;
    EXPECT_NE(field(line, "handle"), "0") << line;
  }
  return added;
}

TEST(AcsHost, BackupQueryDeleteQueryRoundTripInDb2sProtocol) {
  testsupport::HealthyInstallation in(BACKEND_EXAMPLE);
  const std::string journal = in.journal(), root = in.root();
  HostRun run;

  std::vector<std::string> backup = runSequence(journal, "backup", {"--path", root}, run);
  EXPECT_EQ(symbolsOf(backup),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSPartitionpp", "db2ACSPreparepp", "db2ACSSnapshotpp",
                                      "db2ACSVerifypp", "db2ACSStoreMetaDatapp",
                                      "db2ACSEndOperationpp", "db2ACSTerminatepp"}));
  ASSERT_EQ(backup.size(), 9u);
  EXPECT_EQ(field(backup[0], "db"), "SAMPLE");
  EXPECT_EQ(field(backup[0], "user"), testsupport::ownUserName());
  EXPECT_EQ(field(backup[1], "op"), "CREATE|SNAPSHOT");
  EXPECT_EQ(field(backup[2], "paths.n"), "1");
  EXPECT_EQ(field(backup[2], "paths.groups"), "1");
  EXPECT_EQ(field(backup[3], "groups.ids"), "1");
  EXPECT_EQ(field(backup[4], "action"), "0");
  EXPECT_EQ(field(backup[7], "end"), "COMMIT");
  for (const std::string &line : backup) EXPECT_EQ(field(line, "result"), "0") << line;
  std::string image = field(backup[2], "create.image");
  EXPECT_EQ(image.size(), 14u) << image;
  EXPECT_NE(run.output.find("created: snapshot image " + image), std::string::npos) << run.output;
  // Every row names its code, and the back end's description is shown.
  for (const e2e::Row &row : run.rows)
    if (row.function != "db2ACSQueryApiVersion") {
      EXPECT_EQ(row.code, "DB2ACS_RC_OK") << row.function;
    }
  EXPECT_NE(run.output.find("description: 1 path in group 1"), std::string::npos) << run.output;

  std::vector<std::string> query = runSequence(journal, "query", {}, run);
  EXPECT_EQ(symbolsOf(query),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSBeginQuerypp", "db2ACSGetNextObjectpp",
                                      "db2ACSGetNextObjectpp", "db2ACSEndQuerypp",
                                      "db2ACSEndOperationpp", "db2ACSTerminatepp"}));
  ASSERT_EQ(query.size(), 8u);
  EXPECT_EQ(field(query[1], "op"), "READ|SNAPSHOT");
  EXPECT_EQ(field(query[2], "query.part"), "-1");
  EXPECT_EQ(field(query[2], "query.host"), "*");
  EXPECT_EQ(field(query[3], "out.id"), "1");
  EXPECT_EQ(field(query[3], "out.image"), image);
  EXPECT_EQ(field(query[4], "result"), std::to_string(DB2ACS_RC_END_OF_DATA));
  EXPECT_NE(run.output.find("object: 1, snapshot image " + image), std::string::npos) << run.output;
  ASSERT_GE(run.rows.size(), 6u);
  EXPECT_EQ(run.rows[5].code, "DB2ACS_RC_END_OF_DATA");
  EXPECT_EQ(run.rows[5].outcome, "ok (end of the listing)");

  std::vector<std::string> removal = runSequence(journal, "delete", {}, run);
  std::vector<std::string> deleted = callsOf(removal, "db2ACSDeletepp");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(field(removal[1], "op"), "DELETE|SNAPSHOT");
  EXPECT_EQ(field(deleted[0], "object"), "1");
  EXPECT_EQ(field(deleted[0], "result"), "0");

  std::vector<std::string> last = runSequence(journal, "query", {}, run);
  std::vector<std::string> listed = callsOf(last, "db2ACSGetNextObjectpp");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(field(listed[0], "result"), std::to_string(DB2ACS_RC_END_OF_DATA));
  EXPECT_EQ(run.output.find("object: "), std::string::npos) << run.output;
}

// The field of the one call of symbol in lines.
std::string fieldOfCall(const std::vector<std::string> &lines, const std::string &symbol,
                        const std::string &key) {
  std::vector<std::string> calls = callsOf(lines, symbol);
  return calls.size() == 1 ? field(calls[0], key) : "(" + std::to_string(calls.size()) + " calls)";
}

TEST(AcsHost, RestoreGivesBackWhatTheBackupWasGiven) {
  testsupport::HealthyInstallation in(BACKEND_EXAMPLE);
  const std::string journal = in.journal(), root = in.root();
  HostRun run;
  runSequence(journal, "backup", {}, run);

  std::vector<std::string> restore = runSequence(journal, "restore", {}, run);
  EXPECT_EQ(fieldOfCall(restore, "db2ACSRetrieveMetaDatapp", "object"), "1");
  EXPECT_EQ(fieldOfCall(restore, "db2ACSSnapshotpp", "object"), "1");
  EXPECT_EQ(fieldOfCall(restore, "db2ACSSnapshotpp", "result"), "0");
  EXPECT_NE(run.output.find("as the backup stored"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("restored: object 1, snapshot image "), std::string::npos) << run.output;

  // The catalogue changed behind the back end's back: the object and the
  // metadata stored with it are now of partition 7, while this session is
  // about partition 0.
  std::string record = root + "/catalogue/" QXACS_SNAPSHOTS_SUBDIR "/1";
  std::string metadata = root + "/catalogue/" QXACS_OBJECTS_SUBDIR "/1";
  std::string kept = readFile(record), keptMetadata = readFile(metadata);
  auto toPartition7 = [](std::string text) {
    size_t at = text.find("partition 0");
    if (at != std::string::npos) text.replace(at, 11, "partition 7");
    return text;
  };
  ASSERT_NE(toPartition7(kept), kept);
  ASSERT_NE(toPartition7(keptMetadata), keptMetadata);
  testsupport::writeFile(record, toPartition7(kept));
  testsupport::writeFile(metadata, toPartition7(keptMetadata));
  run = runLibrary({"--sequence", "restore"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(fieldOfCall(run.argsLog, "db2ACSSnapshotpp", "result"),
            std::to_string(DB2ACS_RC_OBJ_OUT_OF_SCOPE));
  EXPECT_NE(run.output.find("DB2ACS_RC_OBJ_OUT_OF_SCOPE"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("description: object 1 is a snapshot of SAMPLE/"), std::string::npos)
      << run.output;
  EXPECT_EQ(fieldOfCall(run.argsLog, "db2ACSEndOperationpp", "end"), "ABORT");

  // The metadata changed: acs-host sees it before it asks for a restore.
  testsupport::writeFile(record, kept);
  testsupport::writeFile(metadata, "something else\n");
  run = runLibrary({"--sequence", "restore"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("metadata of object 1 is not what the backup stored"), std::string::npos)
      << run.output;
  EXPECT_EQ(callsOf(run.argsLog, "db2ACSSnapshotpp").size(), 0u);
}

TEST(AcsHost, MissingObjectIsObjNotFoundFromTheBackEnd) {
  testsupport::HealthyInstallation in(BACKEND_EXAMPLE);
  const std::string journal = in.journal(), root = in.root();
  HostRun run = runLibrary({"--sequence", "delete", "--object", "42"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(symbolsOf(run.argsLog),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSDeletepp", "db2ACSEndOperationpp",
                                      "db2ACSTerminatepp"}));
  bool found = false;
  for (const e2e::Row &row : run.rows)
    if (row.function == "db2ACSDelete")
      found = row.rc == DB2ACS_RC_OBJ_NOT_FOUND && row.code == "DB2ACS_RC_OBJ_NOT_FOUND" &&
              row.reason == "0" && row.outcome == "FAILED";
  EXPECT_TRUE(found) << run.output;
  EXPECT_NE(run.output.find("description: object 42 not deleted"), std::string::npos) << run.output;
}

TEST(AcsHost, VmNameChoosesTheInstanceThatHoldsTheInstallation) {
  // Instance001 qualifies for the first-instance scan but its back end
  // cannot be loaded: only the instance named in the vendor options works.
  testsupport::Installation in;
  const std::string journal = in.journal();
  in.addInstanceWithHome("Instance001", "", true);
  in.addInstanceWithHome("SecondInst", BACKEND_EXAMPLE);
  testsupport::enableTrace();
  HostRun run;

  std::vector<std::string> calls = runSequence(journal, "query", {"--vm-name", "SecondInst"}, run);

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(symbolOf(calls[0]), "db2ACSInitializepp");
  EXPECT_EQ(field(calls[0], "optsize"), "344");
  EXPECT_EQ(field(calls[0], "vm"), "SecondInst");
  EXPECT_EQ(field(calls[0], "result"), "0");
  std::vector<std::string> found = testsupport::traceMessagesOf("GetZorvanInstanceName");
  EXPECT_NE(std::find(found.begin(), found.end(), "vmName is SecondInst"), found.end());
  // The back end cannot show its environment; the library's trace shows
  // whether it published ZORVAN_INST, which it must not for a name that
  // came from the vendor options.
  for (const std::string &line : testsupport::traceMessagesOf("GetZorvanBaseDir"))
    EXPECT_EQ(line.find("Setting the env"), std::string::npos) << line;
  EXPECT_FALSE(testsupport::traceMessagesOf("initializeFptrs()").empty());
}

// With no installation the library fails Initialize itself: 11 in the
// record's first field only, and a doctor command that names the user
// acs-host runs as. With --keep-going every later call meets no bound back
// end: 4, which acs-host cannot tell from a back end's INV_ACTION by the
// code alone, and says so.
TEST(AcsHost, TheLibrarysOwnFailuresAreToldHonestly) {
  testsupport::Installation in;
  const std::string journal = in.journal();

  HostRun run = runLibrary({"--sequence", "backup", "--keep-going"});

  EXPECT_EQ(run.status, 1) << run.output;
  ASSERT_GE(run.rows.size(), 3u) << run.output;
  EXPECT_EQ(run.rows[1].function, "db2ACSInitialize");
  EXPECT_EQ(run.rows[1].rc, DB2ACS_RC_INIT_FAILED);
  EXPECT_EQ(run.rows[1].code, "DB2ACS_RC_INIT_FAILED");
  EXPECT_EQ(run.rows[1].record, "11");
  EXPECT_EQ(run.rows[1].reason, "-");
  EXPECT_NE(run.output.find("acs-doctor --as-user " + testsupport::ownUserName() + " --load"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("<instance owner>"), std::string::npos) << run.output;
  EXPECT_EQ(run.rows[2].function, "db2ACSBeginOperation");
  EXPECT_EQ(run.rows[2].code, "DB2ACS_RC_INV_ACTION");
  EXPECT_NE(run.output.find("4 is DB2ACS_RC_INV_ACTION from a back end, and also the library's "
                            "own code when no back end is bound"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("the library's own failure)"), std::string::npos) << run.output;
  EXPECT_FALSE(testsupport::exists(journal));
}

// A debug marker that would hold a call is announced before the call, by
// the library's own rule; the call goes on once the marker is gone.
TEST(AcsHost, DebugHoldIsAnnouncedUntilTheMarkerGoes) {
  testsupport::HealthyInstallation in(BACKEND_EXAMPLE);
  const std::string root = in.root();
  const std::string marker = "/tmp/db2ACSQueryApiVersion1";
  testsupport::writeFile(marker, "");
  const std::string line = "waiting: " + marker + " exists (debug hold); remove it to go on";
  const std::string out = root + "/held.out";

  pid_t pid = fork();
  if (pid == 0) {
    // The child runs acs-host with its output where the parent can watch.
    HostRun run = runLibrary({"--sequence", "query"});
    testsupport::writeFile(out, run.output);
    _exit(run.status == 0 ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  // acs-host's output file (the child's first run) fills while it runs:
  // wait for the line there, or for the child to end without it.
  int status = 0;
  bool ended = false;
  while (readFile("/tmp/acs-host-run1.out").find(line) == std::string::npos) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (ended) break;
    usleep(20000);
  }
  EXPECT_FALSE(ended) << "acs-host ended without announcing the hold: " << readFile(out);
  ASSERT_EQ(unlink(marker.c_str()), 0);
  if (!ended) {
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(out);
  std::string output = readFile(out);
  // Announced once, before the version query's row.
  EXPECT_EQ(output.find(line), output.rfind(line));
  EXPECT_LT(output.find(line), output.find("db2ACSQueryApiVersion")) << output;
  EXPECT_NE(output.find("summary: 8 calls, 8 ok, 0 failed"), std::string::npos) << output;
}

}  // namespace
