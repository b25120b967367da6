// acs-doctor's pure parts, each from a table: how a fix prints and what
// it does pasted, what the library's trace lines say, where a shell's
// trace says a login set a variable, and the report's way through JSON.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fix.h"
#include "library_trace.h"
#include "login_files.h"
#include "report.h"
#include "test_support.h"
#include "zorvan/trace_texts.h"

namespace {

TEST(DoctorUnits, FixPrintsAsOneCommandForItsPersonOrNone) {
  const struct {
    fix::Fix fix;
    std::string printed;
  } cases[] = {
      {fix::command("root", {"chmod", "755", "/opt/p/Base/libqxacsint.so"}),
       "As root: chmod 755 /opt/p/Base/libqxacsint.so"},
      {fix::command("db2inst1", {"rm", "/tmp/it's here;id"}), "As db2inst1: rm '/tmp/it'\\''s here;id'"},
      {fix::appendLine("root", "/r/.properties", "dZORVANHOME <home directory>"),
       "As root, with <home directory> filled in: printf '%s\\n' 'dZORVANHOME <home directory>' >> /r/.properties"},
      {fix::command("root", {"touch", "/r/a\x1b]0;x\x07"}),
       "No command is offered: /r/a\\e]0;x\\x07 holds a control character or a byte that is not printable, which a "
       "pasted command would carry unseen; correct it by hand."},
      {fix::command("root", {"touch", "/r/\xe2\x80\xaegnp.sh"}),  // right-to-left override
       "No command is offered: /r/\\u{202e}gnp.sh holds a control character or a byte that is not printable, which a "
       "pasted command would carry unseen; correct it by hand."},
      {fix::command("root", {"touch", "/r/\xc2\x9b" "2J"}),  // C1 control sequence introducer
       "No command is offered: /r/\\u{009b}2J holds a control character or a byte that is not printable, which a "
       "pasted command would carry unseen; correct it by hand."},
      {fix::command("root", {"touch", "/r/caf\xc3\xa9"}), "As root: touch '/r/caf\xc3\xa9'"},
      {fix::advice("Remove \r by hand."), "Remove \\r by hand."},
  };
  for (const auto &c : cases) EXPECT_EQ(fix::render(c.fix), c.printed);
}

// A line edit, pasted into a shell, makes the line exactly the text asked
// for, whatever sed or the shell would make of its characters.
TEST(DoctorUnits, LineEditPastedWritesExactlyItsText) {
  std::string file = testsupport::makeTempDir("edit") + "/profile";
  for (const std::string &text : {std::string("export QXREG=/a|b&c\\d.e*f[g]^h$i"),
                                  std::string("dZORVANHOME /p';touch${IFS}/tmp/x;'"), std::string("x $(id) `id`")}) {
    testsupport::writeFile(file, "first\nsecond\n");
    std::string line = fix::render(fix::replaceLine("root", file, 2, text));
    ASSERT_EQ(line.rfind("As root: ", 0), 0u) << line;
    ASSERT_EQ(std::system(line.substr(9).c_str()), 0) << line;
    EXPECT_EQ(testsupport::readFile(file), "first\n" + text + "\n") << line;
    line = fix::render(fix::editLine("root", file, 2, text, "y"));
    ASSERT_EQ(std::system(line.substr(9).c_str()), 0) << line;
    EXPECT_EQ(testsupport::readFile(file), "first\ny\n") << line;
  }
}

// A line of the library's trace: tag, then the format with its one value.
std::string said(const char *tag, const char *format, const std::string &value = "") {
  std::string text = format;
  std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return std::string(tag) + ": " + text;
}

// The library's own lines, as its trace writes them, read back.
TEST(DoctorUnits, LibraryTraceLinesGiveTheStageAndTheInstance) {
  const char *base = ZORVAN_TAG_BASE_DIR, *name = ZORVAN_TAG_INSTANCE_NAME;
  const struct {
    std::vector<std::string> lines;
    doctor::Stage stage;
    std::string instance, origin;
  } cases[] = {
      {{said(base, ZORVAN_TEXT_SCAN_FAILED)}, doctor::Stage::NoInstance, "", ""},
      {{said(name, ZORVAN_TEXT_INSTANCE_VARIABLE, "Payroll"),
        said(base, ZORVAN_TEXT_NO_PROPERTIES, "/r/Zorvan/Payroll/Base/.properties")},
       doctor::Stage::NoProperties, "Payroll", "ZORVAN_INST"},
      {{said(name, ZORVAN_TEXT_VENDOR_OPTIONS), said(name, ZORVAN_TEXT_VM_NAME, "../x"),
        said(name, ZORVAN_TEXT_VM_NAME_IGNORED, "../x"), said(base, ZORVAN_TEXT_SCAN_FAILED)},
       doctor::Stage::NoInstance, "", ""},
      {{said(base, ZORVAN_TEXT_HOME, "/opt/p")}, doctor::Stage::Bound, "", ""},
  };
  for (const auto &c : cases) {
    doctor::Facts f = doctor::interpret(c.lines);
    EXPECT_EQ(f.stage, c.stage) << c.lines.back();
    EXPECT_EQ(f.instance, c.instance) << c.lines.back();
    EXPECT_EQ(f.instanceOrigin, c.origin) << c.lines.back();
  }
}

// Where bash's trace (PS4 "+\x1f${BASH_SOURCE}\x1f${LINENO}\x1f") says a
// login set each steering variable last.
TEST(DoctorUnits, ShellTraceNamesTheLineThatSetEachVariableLast) {
  const std::string trace =
      "+\x1f/etc/profile\x1f" "7\x1f PATH=/usr/bin\n"
      "++\x1f.bashrc\x1f" "3\x1f export QXREG=/first\n"
      "profile output, not a trace line: QXREG=/nowhere\n"
      "+\x1f/h/.profile\x1f" "9\x1f export QXREG=/second 'ZORVAN_INST=a b'\n"
      "+\x1f/h/.profile\x1f" "10\x1f ZORVAN_INST='a b' LD_PRELOAD=/x.so\n"
      "+\x1f/h/.profile\x1f" "11\x1f unset LD_PRELOAD\n"
      "+\x1f\x1f" "1\x1f printf %s ACS-DOCTOR-ENVIRONMENT\n";
  doctor::Login login;
  doctor::readShellTrace(trace, "/h", login);
  ASSERT_EQ(login.settings.size(), 2u);
  EXPECT_EQ(login.settings["QXREG"].file, "/h/.profile");
  EXPECT_EQ(login.settings["QXREG"].line, 9);
  EXPECT_EQ(login.settings["ZORVAN_INST"].line, 10);
}

TEST(DoctorUnits, ReportReadBackIsTheReportWritten) {
  doctor::Report r;
  r.checkedAs = {"pid", "db2inst1", 1001, 1001, {1001, 4}, "/home/db2inst1", 42, {{"QXREG", true, "/r", "from x"}}, ""};
  r.identity = {"db2inst1", 1001, 1001, 1001, 1001, false, {1001}, "/", std::string("/libs")};
  std::string unopened = said(ZORVAN_TAG_SCAN, ZORVAN_TEXT_SCAN_OPEN_FAILED, "/r/Zorvan");
  unopened.replace(unopened.find("%d"), 2, "2");
  r.discovery = doctor::interpret({unopened, said(ZORVAN_TAG_BASE_DIR, ZORVAN_TEXT_HOME, "/opt/p")});
  r.discovery.registry = "/r";
  r.paths = {{"registry", "/r"}, {"library", "/opt/p/Base/libqxacsint.so"}};
  r.load = doctor::Load{"/opt/p/Base/libqxacsint.so", true, true, false, false, false, {{"db2ACSInitializepp", false}},
                        {"/lib/x.so"}, {"/opt/p/lib"}, 0, "", ""};
  r.chain = {{"/", "on the path to the registry directory", "directory", "root", "root", "0755", "", "ok"}};
  r.markers = {{"/tmp/db2ACSDeleteDebug", "db2ACSDelete", "root", true}};
  r.problems = {{doctor::Severity::Error, "marker-holds", "held", {"As root: rm /tmp/db2ACSDeleteDebug"}}};
  r.vmName = "inst";
  doctor::decide(r);
  nlohmann::json written = doctor::toJson(r);
  EXPECT_EQ(doctor::toJson(doctor::reportFrom(written)), written);
  EXPECT_FALSE(written.at("binds").get<bool>());
}

}  // namespace
