// The strict back end, which checks every argument against DB2's published
// protocol, under acs-host: backup, query, restore and delete pass through
// the library and called directly. And it does catch a deviation.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db2acs_protocol.h"
#include "host_run.h"
#include "installation.h"
#include "test_support.h"

namespace {

// Runs the four sequences with front (--lib LIB or --backend-direct SO);
// each must pass every check.
void expectEverySequencePasses(const std::vector<std::string> &front) {
  for (const char *sequence : {"backup", "query", "restore", "delete", "query"}) {
    SCOPED_TRACE(sequence);
    std::vector<std::string> args = front;
    args.insert(args.end(), {"--sequence", sequence});
    e2e::HostRun run = e2e::runHost(args);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_GE(run.rows.size(), 5u) << run.output;
    for (const e2e::Row &row : run.rows) {
      EXPECT_EQ(row.outcome.substr(0, 2), "ok") << run.output;
      // A deviation's reason is 9000 and up; the version query has none.
      if (row.function != "db2ACSQueryApiVersion") {
        EXPECT_EQ(row.reason, "0") << run.output;
      }
    }
    if (std::string(sequence) == "restore") {
      EXPECT_NE(run.output.find("as backed up"), std::string::npos) << run.output;
    }
  }
}


TEST(StrictBackEnd, EverySequencePassesThroughTheLibrary) {
  testsupport::HealthyInstallation in(STRICT_BACKEND);
  expectEverySequencePasses({"--lib", ZORVAN_LIBRARY_PATH});
}

TEST(StrictBackEnd, EverySequencePassesCalledDirectly) {
  testsupport::HealthyInstallation in(STRICT_BACKEND);
  expectEverySequencePasses({"--backend-direct", STRICT_BACKEND});
}

TEST(StrictBackEnd, TheReferenceBackEndPassesTheSameSequencesDirectly) {
  testsupport::HealthyInstallation in(STRICT_BACKEND);
  expectEverySequencePasses({"--backend-direct", BACKEND_EXAMPLE});
}

// A control block other than Initialize's is caught and named.
TEST(StrictBackEnd, ADeviationFailsLoudly) {
  testsupport::HealthyInstallation in(STRICT_BACKEND);
  void *so = dlopen(STRICT_BACKEND, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  using Init = db2acs::RC (*)(db2acs::ControlBlock *, db2acs::ReturnCode *);
  using Begin = db2acs::RC (*)(db2acs::Operation, db2acs::ControlBlock *, db2acs::ReturnCode *);
  Init init;
  Begin begin;
  void *a = dlsym(so, "db2ACSInitializepp"), *b = dlsym(so, "db2ACSBeginOperationpp");
  ASSERT_TRUE(a && b);
  std::memcpy(&init, &a, sizeof a);
  std::memcpy(&begin, &b, sizeof b);
  static db2acs::ControlBlock cb{}, other{};
  for (db2acs::ControlBlock *block : {&cb, &other}) {
    std::strcpy(block->session.db, "SAMPLE");
    std::strcpy(block->session.instance, "db2inst1");
    std::strcpy(block->session.host, "h");
    std::strcpy(block->session.user, "u");
    block->session.db2ID.version = 11;
    std::strcpy(block->session.db2ID.signature, "SQL11059");
  }
  db2acs::ReturnCode rc{};
  ASSERT_EQ(init(&cb, &rc), DB2ACS_RC_OK) << rc.description;
  other.handle = cb.handle;
  EXPECT_EQ(begin(DB2ACS_OP_CREATE | DB2ACS_OBJTYPE_SNAPSHOT, &other, &rc), DB2ACS_RC_INV_DEV_HANDLE);
  EXPECT_EQ(rc.returnCode, DB2ACS_RC_INV_DEV_HANDLE);
  EXPECT_EQ(rc.reasonCode, 9002);
  EXPECT_STREQ(rc.description, "strict: a control block other than Initialize's");
  EXPECT_EQ(begin(DB2ACS_OP_CREATE | DB2ACS_OBJTYPE_BACKUP, &cb, &rc), DB2ACS_RC_INV_ACTION);
  EXPECT_EQ(rc.reasonCode, 9022);
}

}  // namespace
