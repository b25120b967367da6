// End to end: acs-host, standing in for DB2, drives the built library in
// a child process against an installation laid out under /tmp around the
// example back end. The back end's journal says which of its functions ran
// and with what; acs-host's --args-log says what it passed.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "qxacs_example.h"
#include "test_support.h"

using testsupport::readFile;

namespace {

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct HostRun {
  int status = -1;
  std::string output;                  // stdout and stderr
  std::vector<std::string> argsLog;    // what acs-host passed, as journal lines
};

// Runs acs-host with the library and the given arguments; -1 when it did
// not exit normally.
HostRun runHost(std::vector<std::string> arguments) {
  static int runs = 0;
  std::string stem = "/tmp/acs-host-run" + std::to_string(++runs);
  std::string outPath = stem + ".out", argsPath = stem + ".args";
  arguments.insert(arguments.begin(), {ACS_HOST_PATH, "--lib", ZORVAN_LIBRARY_PATH});
  arguments.insert(arguments.end(), {"--args-log", argsPath});
  arguments = testsupport::builtProgram(arguments);

  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  HostRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.status = WEXITSTATUS(status);
  run.output = readFile(outPath);
  run.argsLog = linesOf(readFile(argsPath));
  return run;
}

// A journal line's symbol, or the value of one of its key=value fields.
std::string symbolOf(const std::string &line) { return line.substr(0, line.find(' ')); }

std::string field(const std::string &line, const std::string &key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "(no " + key + ")";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

std::vector<std::string> symbolsOf(const std::vector<std::string> &lines) {
  std::vector<std::string> symbols;
  for (const std::string &line : lines) symbols.push_back(symbolOf(line));
  return symbols;
}

// The journal lines of one symbol.
std::vector<std::string> callsOf(const std::vector<std::string> &lines, const std::string &symbol) {
  std::vector<std::string> out;
  for (const std::string &line : lines)
    if (symbolOf(line) == symbol) out.push_back(line);
  return out;
}

// Registry instance <name> naming <root>/<name>-home, whose Base holds
// either the example back end or, with loadable false, a file that is not
// a library at all.
void addInstance(const std::string &registry, const std::string &root, const std::string &name,
                 bool agent, bool loadable) {
  std::string instance = registry + "/Zorvan/" + name;
  testsupport::makeDirs(instance + "/Base");
  if (agent) testsupport::makeDirs(instance + "/Db2Agent");
  std::string home = root + "/" + name + "-home";
  testsupport::writeFile(instance + "/Base/.properties", "dZORVANHOME " + home + "\n");
  testsupport::makeDirs(home + "/Base");
  std::string library = home + "/Base/libqxacsint.so";
  if (loadable)
    testsupport::writeFile(library, readFile(BACKEND_EXAMPLE), 0755);
  else
    testsupport::writeFile(library, "not a shared object\n", 0755);
}

// The registry and the catalogue of one test; returns the journal path.
std::string prepare(std::string &registry, std::string &root) {
  root = testsupport::makeTempDir("e2e");
  registry = root + "/registry";
  testsupport::makeDirs(registry + "/Zorvan");
  testsupport::setEnv("QXREG", registry);
  testsupport::setEnv(QXACS_EXAMPLE_DIR_ENV, root + "/catalogue");
  testsupport::unsetEnv("ZORVAN_INST");
  return root + "/catalogue/" QXACS_JOURNAL_FILE;
}

// Runs one sequence; returns the journal lines it added, after checking
// they are exactly what acs-host says it passed.
std::vector<std::string> runSequence(const std::string &journal, const char *sequence,
                                     std::vector<std::string> extra, HostRun &run) {
  size_t before = linesOf(readFile(journal)).size();
  extra.insert(extra.begin(), {"--sequence", sequence});
  run = runHost(extra);
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> all = linesOf(readFile(journal));
  std::vector<std::string> added(all.begin() + static_cast<long>(std::min(before, all.size())),
                                 all.end());
  EXPECT_EQ(added, run.argsLog) << "arguments changed on their way to the back end";
  return added;
}

TEST(AcsHost, BackupQueryDeleteQueryRoundTrip) {
  std::string registry, root;
  std::string journal = prepare(registry, root);
  addInstance(registry, root, "Instance001", true, true);
  HostRun run;

  std::vector<std::string> backup = runSequence(journal, "backup", {}, run);
  EXPECT_EQ(symbolsOf(backup),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSPartitionpp", "db2ACSPreparepp", "db2ACSSnapshotpp",
                                      "db2ACSVerifypp", "db2ACSStoreMetaDatapp",
                                      "db2ACSEndOperationpp", "db2ACSTerminatepp"}));
  ASSERT_EQ(backup.size(), 9u);
  EXPECT_EQ(field(backup[1], "code"), std::to_string(QXACS_OP_BACKUP));
  EXPECT_EQ(field(backup[4], "action"), std::to_string(QXACS_ACTION_BACKUP));
  std::string id = field(backup[4], "obj.id");
  EXPECT_EQ(id.rfind("obj-", 0), 0u) << id;
  EXPECT_EQ(field(backup[4], "result"), "0");
  EXPECT_NE(run.output.find("created: " + id), std::string::npos) << run.output;

  std::vector<std::string> query = runSequence(journal, "query", {}, run);
  EXPECT_EQ(symbolsOf(query),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSBeginQuerypp", "db2ACSGetNextObjectpp",
                                      "db2ACSGetNextObjectpp", "db2ACSEndQuerypp",
                                      "db2ACSEndOperationpp", "db2ACSTerminatepp"}));
  ASSERT_EQ(query.size(), 8u);
  EXPECT_EQ(field(query[1], "code"), std::to_string(QXACS_OP_QUERY));
  EXPECT_EQ(field(query[3], "obj.id"), id);
  EXPECT_EQ(field(query[3], "result"), "0");
  EXPECT_EQ(field(query[4], "result"), std::to_string(QXACS_NO_MORE_OBJECTS));
  EXPECT_NE(run.output.find("object: " + id), std::string::npos) << run.output;

  std::vector<std::string> removal = runSequence(journal, "delete", {}, run);
  EXPECT_EQ(symbolsOf(removal),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSBeginQuerypp", "db2ACSGetNextObjectpp",
                                      "db2ACSGetNextObjectpp", "db2ACSEndQuerypp",
                                      "db2ACSDeletepp", "db2ACSEndOperationpp",
                                      "db2ACSTerminatepp"}));
  ASSERT_EQ(removal.size(), 9u);
  EXPECT_EQ(field(removal[1], "code"), std::to_string(QXACS_OP_DELETE));
  EXPECT_EQ(field(removal[6], "obj.id"), id);
  EXPECT_EQ(field(removal[6], "result"), "0");

  std::vector<std::string> last = runSequence(journal, "query", {}, run);
  EXPECT_EQ(symbolsOf(last),
            (std::vector<std::string>{"db2ACSInitializepp", "db2ACSBeginOperationpp",
                                      "db2ACSBeginQuerypp", "db2ACSGetNextObjectpp",
                                      "db2ACSEndQuerypp", "db2ACSEndOperationpp",
                                      "db2ACSTerminatepp"}));
  std::vector<std::string> listed = callsOf(last, "db2ACSGetNextObjectpp");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(field(listed[0], "result"), std::to_string(QXACS_NO_MORE_OBJECTS));
  EXPECT_EQ(run.output.find("object: "), std::string::npos) << run.output;
}

// The field of the one call of symbol in lines.
std::string fieldOfCall(const std::vector<std::string> &lines, const std::string &symbol,
                        const std::string &key) {
  std::vector<std::string> calls = callsOf(lines, symbol);
  return calls.size() == 1 ? field(calls[0], key) : "(" + std::to_string(calls.size()) + " calls)";
}

TEST(AcsHost, RestoreGivesBackWhatTheBackupWasGiven) {
  std::string registry, root;
  std::string journal = prepare(registry, root);
  addInstance(registry, root, "Instance001", true, true);
  HostRun run;
  std::vector<std::string> backup = runSequence(journal, "backup", {}, run);
  std::string id = fieldOfCall(backup, "db2ACSSnapshotpp", "obj.id");

  std::vector<std::string> restore = runSequence(journal, "restore", {}, run);
  EXPECT_EQ(fieldOfCall(restore, "db2ACSSnapshotpp", "action"),
            std::to_string(QXACS_ACTION_RESTORE));
  EXPECT_EQ(fieldOfCall(restore, "db2ACSSnapshotpp", "obj.id"), id);
  EXPECT_EQ(fieldOfCall(restore, "db2ACSSnapshotpp", "result"), "0");
  EXPECT_NE(run.output.find("as the backup stored"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("restored: " + id + ", partition 0 on localhost, as backed up"),
            std::string::npos)
      << run.output;

  // What the backup was given, changed behind the back end's back: the
  // restore no longer asks for the partition that was backed up.
  std::string catalogue = root + "/catalogue/";
  testsupport::writeFile(catalogue + QXACS_SNAPSHOTS_SUBDIR "/" + id,
                         "snapshot of partition 7 on elsewhere\n");
  run = runHost({"--sequence", "restore"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(fieldOfCall(run.argsLog, "db2ACSSnapshotpp", "result"),
            std::to_string(QXACS_ERR_MISMATCH));
  EXPECT_EQ(run.output.find("as backed up"), std::string::npos) << run.output;

  // The metadata changed: acs-host sees it before it asks for a restore.
  testsupport::writeFile(catalogue + QXACS_OBJECTS_SUBDIR "/" + id, "something else\n");
  run = runHost({"--sequence", "restore"});
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("metadata of " + id + " is not what the backup stored"),
            std::string::npos)
      << run.output;
}

TEST(AcsHost, VmNameChoosesTheInstanceThatHoldsTheInstallation) {
  std::string registry, root;
  std::string journal = prepare(registry, root);
  // Instance001 qualifies for the first-instance scan but its back end
  // cannot be loaded: only the instance named in the vendor options works.
  addInstance(registry, root, "Instance001", true, false);
  addInstance(registry, root, "SecondInst", false, true);
  testsupport::enableTrace();
  HostRun run;

  std::vector<std::string> calls = runSequence(journal, "query", {"--vm-name", "SecondInst"}, run);

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(symbolOf(calls[0]), "db2ACSInitializepp");
  EXPECT_EQ(field(calls[0], "cb.optsize"), "344");
  EXPECT_EQ(field(calls[0], "cb.vm"), "SecondInst");
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

TEST(AcsHost, NoInstallationFailsInitializeWithEleven) {
  std::string registry, root;
  std::string journal = prepare(registry, root);

  HostRun run = runHost({"--sequence", "backup"});

  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_NE(run.status, -1) << run.output;
  bool initializeFailed = false;
  for (const std::string &line : linesOf(run.output)) {
    char function[64] = "";
    int rc = 0;
    char record[16] = "";
    if (sscanf(line.c_str(), "%*d %63s %d %15s", function, &rc, record) == 3 &&
        std::string(function) == "db2ACSInitialize")
      initializeFailed = rc == 11 && std::string(record) == "11";
  }
  EXPECT_TRUE(initializeFailed) << run.output;
  EXPECT_FALSE(testsupport::exists(journal));
}

}  // namespace
