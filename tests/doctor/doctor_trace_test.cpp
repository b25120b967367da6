// acs-doctor --trace on trace logs this suite makes itself: acs-host
// drives the library with tracing on against installations that succeed,
// fail at each step of discovery and binding, or meet a back-end error.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "acs_return_codes.h"
#include "doctor_fixture.h"
#include "qxacs_example.h"
#include "test_support.h"

namespace {

using doctortest::DoctorResult;
using doctortest::Installation;
using doctortest::runDoctor;
using doctortest::runProgram;
using testsupport::kTracePath;

using doctortest::kNoFailure;
using doctortest::kFailed;
using doctortest::kUnreadable;

// An installation and a catalogue, with tracing switched on.
struct Traced : Installation {
  Traced() {
    testsupport::setEnv(QXACS_EXAMPLE_DIR_ENV, testsupport::makeTempDir("catalogue"));
    testsupport::enableTrace();
  }
  void healthy() {
    addHealthyInstance();
    installBackend(GOOD_BACKEND);
  }
  DoctorResult host(const std::string &sequence, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--lib", ZORVAN_LIBRARY_PATH, "--sequence", sequence};
    args.insert(args.end(), extra.begin(), extra.end());
    return runProgram(ACS_HOST_PATH, args);
  }
};

TEST(DoctorTrace, SuccessfulSessionsListEveryCallAndExitZero) {
  Traced t;
  t.healthy();
  ASSERT_EQ(t.host("backup").status, 0);
  ASSERT_EQ(t.host("backup").status, 0);
  DoctorResult r = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(r.status, kNoFailure) << r.out << r.err;
  EXPECT_CONTAINS(r.out, "2 processes, no call failed");
  EXPECT_CONTAINS(r.out, "db2ACSSnapshot");
  EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;

  nlohmann::json doc = nlohmann::json::parse(runDoctor({"--trace", kTracePath, "--json"}).out);
  ASSERT_EQ(doc.at("processes").size(), 2u);
  const nlohmann::json &backup = doc.at("processes")[0];
  EXPECT_TRUE(backup.at("first_failure").is_null());
  EXPECT_EQ(backup.at("calls")[0].at("function"), "db2ACSQueryApiVersion");
  EXPECT_EQ(backup.at("calls")[1].at("function"), "db2ACSInitialize");
  EXPECT_EQ(backup.at("calls")[1].at("from"), "back end");
}

// Each way db2ACSInitialize can fail to bind, told from the trace alone
// with the live check's own cause, and a fix.
TEST(DoctorTrace, FailedInitializeNamesTheDiscoveryOrLoaderCause) {
  struct Case {
    const char *name;
    std::function<void(Traced &)> breakIt;
    std::string id;
  } cases[] = {
      {"no registry", [](Traced &t) { testsupport::setEnv("QXREG", t.registry() + "/gone"); },
       "registry-missing"},
      {"mistyped registry", [](Traced &t) { testsupport::setEnv("QXREG", t.registry() + "x"); },
       "registry-mistyped"},
      {"no Zorvan directory", [](Traced &t) { ASSERT_EQ(rmdir((t.registry() + "/Zorvan").c_str()), 0); },
       "instances-directory-missing"},
      {"no agent", [](Traced &t) { t.addInstance("Instance001", false, "dZORVANHOME /x\n"); },
       "no-instance-with-agent"},
      {"no properties", [](Traced &t) { t.healthy(); testsupport::setEnv("ZORVAN_INST", "Ghost"); },
       "instance-not-registered"},
      {"near miss",
       [](Traced &t) {
         t.healthy();
         t.addInstance("Instance001", true, "dZorvanHome " + t.home() + "\n");
       },
       "key-near-miss"},
      {"not executable", [](Traced &t) { t.addHealthyInstance(); t.installBackend(GOOD_BACKEND, 0644); },
       "backend-not-executable"},
      {"no shared object",
       [](Traced &t) {
         t.addHealthyInstance();
         testsupport::writeFile(t.backendPath(), "not a shared object\n", 0755);
       },
       "backend-load-failed"},
      {"entry point missing",
       [](Traced &t) { t.addHealthyInstance(); t.installBackend(NO_VERIFY_BACKEND); },
       "backend-lacks-entry-points"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    unlink(kTracePath);  // each case its own trace
    Traced t;
    c.breakIt(t);
    EXPECT_NE(t.host("backup").status, 0);
    DoctorResult r = runDoctor({"--trace", kTracePath, "--json"});
    EXPECT_EQ(r.status, kFailed) << r.out << r.err;
    const nlohmann::json doc = r.report(), &process = doc.at("processes")[0];
    EXPECT_EQ(process.at("first_failure"), 2) << r.out;
    EXPECT_EQ(doctortest::problemIds(process), std::vector<std::string>{c.id}) << r.out;
    EXPECT_FALSE(process.at("problems")[0].at("fixes").empty()) << r.out;
  }
}

TEST(DoctorTrace, BackEndErrorIsTheBackEndsWithItsCode) {
  Traced t;
  t.healthy();
  t.host("delete", {"--object", "999"});
  DoctorResult r = runDoctor({"--trace", kTracePath, "--json"});
  EXPECT_EQ(r.status, kFailed) << r.out;
  nlohmann::json process = nlohmann::json::parse(r.out).at("processes")[0];
  bool deleteSeen = false;
  for (const nlohmann::json &call : process.at("calls"))
    if (call.at("function") == "db2ACSDelete") {
      deleteSeen = true;
      EXPECT_EQ(call.at("rc"), DB2ACS_RC_OBJ_NOT_FOUND);
      EXPECT_EQ(call.at("from"), "back end");
      EXPECT_EQ(call.at("outcome"), "FAILED");
    }
  EXPECT_TRUE(deleteSeen) << r.out;
  // The first failure is named by DB2's published code, with no meaning
  // taken from the reference back end.
  std::string cause = process.at("problems")[0].at("cause");
  EXPECT_CONTAINS(cause, "6 (DB2ACS_RC_OBJ_NOT_FOUND)");
  EXPECT_CONTAINS(cause, "the error came from the back end (db2ACS");
}

// A listing ends when db2ACSGetNextObject answers DB2's END_OF_DATA; any
// other code from the back end is its own failure.
TEST(DoctorTrace, OnlyDb2sEndOfListingCodeEndsAListing) {
  const std::string head = "LIBDB2ACS-42: 12/09/26 01:02:03 ";
  auto listing = [&](int rc) {
    std::string lines;
    for (const char *tag : {"db2ACSBeginQuery()", "db2ACSGetNextObject()"})
      lines += head + tag + ": -----------Entered--------\n" + head + tag + ": -----------Leaving, returning " +
               std::to_string(std::string(tag) == "db2ACSBeginQuery()" ? 0 : rc) + "--------\n";
    return lines;
  };
  testsupport::writeFile(kTracePath, listing(14));
  DoctorResult end = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(end.status, kNoFailure) << end.out;
  EXPECT_CONTAINS(end.out, "ok (end of the listing)");
  testsupport::writeFile(kTracePath, listing(1));
  DoctorResult other = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(other.status, kFailed) << other.out;
  EXPECT_CONTAINS(other.out, "db2ACSGetNextObject returned 1 (DB2ACS_RC_LINK_EXIST)");
  EXPECT_EQ(other.out.find("no more objects"), std::string::npos) << other.out;
}

// Lines of a backup and of a failing process, interleaved line by line as
// two DB2 agents would write them, with a foreign line among them.
TEST(DoctorTrace, InterleavedProcessesAreToldApart) {
  Traced t;
  t.healthy();
  ASSERT_EQ(t.host("backup").status, 0);
  std::vector<std::string> good = testsupport::traceLines();
  ASSERT_EQ(unlink(kTracePath), 0);
  testsupport::enableTrace();
  testsupport::setEnv("ZORVAN_INST", "Ghost");
  t.host("backup");
  std::vector<std::string> bad = testsupport::traceLines();
  // A third process that fails otherwise: each failure keeps its own cause.
  ASSERT_EQ(unlink(kTracePath), 0);
  testsupport::enableTrace();
  testsupport::unsetEnv("ZORVAN_INST");
  ASSERT_EQ(chmod(t.backendPath().c_str(), 0644), 0);
  t.host("backup");
  std::vector<std::string> worse = testsupport::traceLines();
  std::string mixed = "some other program's line\n";
  for (std::size_t i = 0; i < std::max({good.size(), bad.size(), worse.size()}); ++i)
    for (const std::vector<std::string> *lines : {&good, &bad, &worse})
      if (i < lines->size()) mixed += (*lines)[i] + "\n";
  testsupport::writeFile(kTracePath, mixed);
  DoctorResult r = runDoctor({"--trace", kTracePath, "--json"});
  EXPECT_EQ(r.status, kFailed);
  nlohmann::json doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc.at("processes").size(), 3u);
  EXPECT_TRUE(doc.at("processes")[0].at("first_failure").is_null());
  EXPECT_EQ(doc.at("processes")[1].at("first_failure"), 2);
  // Named by its id in the table of causes, which the live check shares.
  EXPECT_EQ(doc.at("processes")[1].at("problems")[0].at("id"), "instance-not-registered");
  EXPECT_EQ(doc.at("processes")[2].at("problems")[0].at("id"), "backend-not-executable");
  EXPECT_EQ(doc.at("foreign_lines"), 1);
  EXPECT_GT(doc.at("processes")[0].at("calls").size(), doc.at("processes")[1].at("calls").size());
}

// A registry path longer than the trace's 2046-character message limit:
// its lines are cut there, and are still read as the library's lines.
TEST(DoctorTrace, LinesCutAtTheFormattingLimitAreStillRead) {
  Traced t;
  t.healthy();
  testsupport::setEnv("QXREG", "/tmp/" + std::string(2100, 'r'));
  EXPECT_NE(t.host("backup").status, 0);
  bool cut = false;
  for (const std::string &line : testsupport::traceLines())
    cut = cut || (line.find("-----------QXREG= [") != std::string::npos && line.back() != ']');
  ASSERT_TRUE(cut) << "expected the registry line to be cut at the limit";

  nlohmann::json doc = nlohmann::json::parse(runDoctor({"--trace", kTracePath, "--json"}).out);
  EXPECT_EQ(doc.at("exit_code"), kFailed);
  EXPECT_EQ(doc.at("foreign_lines"), 0);
  const nlohmann::json &process = doc.at("processes")[0];
  EXPECT_EQ(process.at("first_failure"), 2);
  EXPECT_EQ(process.at("calls")[1].at("function"), "db2ACSInitialize");
  EXPECT_FALSE(process.at("problems").empty());
}

// A DB2 process that died in the back end's constructors left no line
// after "Library to be loaded": nothing failed, but that is where it stopped.
TEST(DoctorTrace, ProcessThatStoppedWhileLoadingTheBackEndIsPointedThere) {
  Traced t;
  t.addHealthyInstance();
  t.installBackend(ABORTING_BACKEND);
  EXPECT_NE(t.host("backup").status, 0);
  nlohmann::json doc = nlohmann::json::parse(runDoctor({"--trace", kTracePath, "--json"}).out);
  EXPECT_EQ(doc.at("exit_code"), kNoFailure);
  const nlohmann::json &problems = doc.at("processes")[0].at("problems");
  ASSERT_EQ(problems.size(), 1u) << doc.dump(1);
  EXPECT_EQ(problems[0].at("id"), "call-unfinished");
  EXPECT_EQ(problems[0].at("severity"), "warning");
  EXPECT_CONTAINS(problems[0].at("cause").get<std::string>(),
                  "db2ACSInitialize stopped while loading the back end " + t.backendPath() + ":");
  EXPECT_CONTAINS(problems[0].at("fix").get<std::string>(), "--load");
}

// Tracing left on for months: only the newest part of a huge trace is
// read, from a whole line, and the reader is told how to read the rest.
TEST(DoctorTrace, HugeTraceIsReadFromItsLastPart) {
  Traced t;
  t.addHealthyInstance();
  t.installBackend(GOOD_BACKEND, 0644);
  EXPECT_NE(t.host("backup").status, 0);
  std::string filler(100, 'x');
  filler.back() = '\n';
  std::string old;
  while (old.size() < (std::size_t(17) << 20)) old += filler;
  testsupport::writeFile(kTracePath, old + testsupport::readFile(kTracePath));
  DoctorResult r = runDoctor({"--trace", kTracePath, "--json"});
  EXPECT_EQ(r.status, kFailed) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  std::size_t skipped = doc.at("skipped_bytes").get<std::size_t>();
  EXPECT_GT(skipped, old.size() - (std::size_t(16) << 20));
  EXPECT_LT(skipped, old.size());
  EXPECT_EQ(skipped % filler.size(), 0u);  // the cut is at a line's end
  EXPECT_EQ(doc.at("processes")[0].at("first_failure"), 2);
  EXPECT_CONTAINS(runDoctor({"--trace", kTracePath}).out, "Only its last 16 MiB were read");

  // One that cannot be read says so, large or not.
  if (geteuid() != 0) return;
  ASSERT_EQ(chmod(kTracePath, 0600), 0);
  DoctorResult denied = runDoctor({"--trace", kTracePath}, testsupport::kNobody, testsupport::kNobody);
  EXPECT_EQ(denied.status, kUnreadable);
  EXPECT_CONTAINS(denied.err, "cannot read it: Permission denied");
}

TEST(DoctorTrace, TruncatedOrGarbageFilesGetAClearMessage) {
  Traced t;
  t.healthy();
  ASSERT_EQ(t.host("backup").status, 0);
  std::string whole = testsupport::readFile(kTracePath);
  // Cut in the middle of a line, as a copy taken while DB2 writes.
  testsupport::writeFile(kTracePath, whole.substr(0, whole.size() / 2 + 7));
  DoctorResult cut = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(cut.status, kNoFailure) << cut.out << cut.err;
  EXPECT_CONTAINS(cut.out, "The last line has no newline");
  EXPECT_CONTAINS(cut.out, "unfinished (no leaving line)");
  EXPECT_CONTAINS(cut.out, "NOTE     db2ACS");

  testsupport::writeFile(kTracePath, std::string("\x7f" "ELF\x02\x01\x01\0\0garbage", 16));
  DoctorResult garbage = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(garbage.status, kUnreadable);
  EXPECT_CONTAINS(garbage.err, "no trace lines in it");

  DoctorResult missing = runDoctor({"--trace", "/tmp/no-such-trace.log"});
  EXPECT_EQ(missing.status, kUnreadable);
  EXPECT_CONTAINS(missing.err, "cannot read it: No such file or directory");
}

}  // namespace

namespace {

// What only the trace's writer could see is left to a check as that
// writer, named: the trace file's owner, never a placeholder.
TEST(DoctorTrace, FixNamesTheTraceFilesOwner) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("gives the trace file to nobody");
  Traced t;
  t.healthy();
  const std::string props = t.propertiesPath("Instance001");
  std::string content = testsupport::readFile(props);
  ASSERT_EQ(unlink(props.c_str()), 0);
  EXPECT_NE(t.host("backup").status, 0);
  testsupport::writeFile(props, content);  // there now, but not when the trace was written
  ASSERT_EQ(chown(kTracePath, testsupport::kNobody, testsupport::kNobody), 0);
  DoctorResult r = runDoctor({"--trace", kTracePath});
  EXPECT_EQ(r.status, kFailed) << r.out;
  EXPECT_CONTAINS(r.out, "acs-doctor --as-user nobody");
  EXPECT_EQ(r.out.find("<instance owner>"), std::string::npos) << r.out;
}

// A trace file of root's takes every user's lines, so its owner says
// nothing of who wrote them: a writer that still runs with the library
// loaded, here hung in the back end's constructor, is checked as itself
// (--pid); once it has gone it is left to the reader, never given as root.
TEST(DoctorTrace, WriterOfRootsTraceFileIsNamedOnlyWhileItRuns) {
  ZORVAN_SKIP_UNLESS_OTHER_USERS("runs acs-host as nobody");
  Traced t;
  t.addHealthyInstance();
  t.installBackend(HANGING_BACKEND);
  ASSERT_EQ(chown(kTracePath, 0, 0), 0);
  std::vector<std::string> command = testsupport::builtProgram(
      {testsupport::reachableCopy(ACS_HOST_PATH), "--lib", testsupport::reachableCopy(ZORVAN_LIBRARY_PATH)});
  pid_t writer = fork();
  if (writer == 0) {
    std::vector<char *> argv;
    for (std::string &word : command) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    // Its working directory is the database path it names: one nobody can enter.
    if (!testsupport::becomeUser(testsupport::kNobody, testsupport::kNobody, false) || chdir("/tmp") != 0) _exit(125);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 1000 && testsupport::readFile(kTracePath).find("Library to be loaded") == std::string::npos; ++i)
    usleep(10000);
  EXPECT_CONTAINS(testsupport::readFile(kTracePath), "Library to be loaded");
  DoctorResult running = runDoctor({"--trace", kTracePath});
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  DoctorResult gone = runDoctor({"--trace", kTracePath});
  EXPECT_CONTAINS(running.out, "acs-doctor --pid " + std::to_string(writer) + " --load");
  EXPECT_CONTAINS(gone.out, "As root, with <instance owner> filled in: acs-doctor --as-user '<instance owner>' --load");
  EXPECT_EQ(gone.out.find("--as-user root"), std::string::npos) << gone.out;
}

}  // namespace
