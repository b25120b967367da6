// From what the library did to causes and fixes that paste: the one reader
// of its trace lines, the one decision tree, the one table of causes, and
// the login files a fix that sets a variable names. The live check runs it
// in the checking process, as the subject; --trace in the doctor.
#ifndef ACS_DOCTOR_EXPLAIN_H
#define ACS_DOCTOR_EXPLAIN_H

#include <pwd.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "findings.h"

namespace doctor {

// The one reader of what the library did: its trace messages ("tag:
// message", texts from zorvan/trace_texts.h) read as facts and a stage.
// The live check reads the lines of its own GetZorvanBaseDir call, the
// trace explainer those of a db2ACSInitialize in a trace log.
Facts interpret(const std::vector<std::string> &messages);

// A format's fixed text before its first conversion.
std::string textBefore(const char *format);
bool startsWith(const std::string &text, const std::string &head);

// A line of a login file.
struct LoginLine {
  std::string file;
  int number;
  std::string text;  // without its leading and trailing blanks
};

// The files a user's login shell reads, and what they source.
struct LoginFiles {
  std::string user;
  std::string home;
  std::vector<LoginLine> lines;   // every line, in the order the shell runs them
  std::string first;              // the file the shell reads first in the home directory
  std::string userprofile;        // <home>/sqllib/userprofile (usercshrc for csh), when it exists
  bool csh = false;               // a C shell: "setenv NAME value", not "export NAME=value"
  // The check has the subject's environment (getenv): a setting that
  // gives another value than it has is named as not its source.
  bool environmentChecked = false;
};

// For the user with that uid (empty when it has no passwd entry).
LoginFiles loginFilesOf(uid_t uid);

// A command that sets name to value for the user's next login (value empty:
// removes the setting), on the last line in reading order that assigns it
// ("export QXREG=..." or "QXREG=..."), else in the file read first; for
// whoever may edit the file.
fix::Fixes setVariableFix(const LoginFiles &files, const std::string &name, const std::string &value);

struct Context {
  bool live = false;  // probes run as the user discovery ran as
  std::string user;   // that user (live), or the trace file's owner
  uid_t uid = 0;
  std::string registryOrigin;     // "QXREG from ...", "the default; ..."
  bool registryFromVariable = false;
  LoginFiles login;               // the user's login files, for fixes that set variables
  pid_t pid = 0;                  // the trace's writer, while it still runs
  bool ldLibraryPathSet = false;  // the subject's LD_LIBRARY_PATH, which the check itself was started without
  std::string ldLibraryPath;
};
// path made absolute in the directory cwd.
std::string absolute(const std::string &path, const std::string &cwd);
// LD_LIBRARY_PATH's entries as the dynamic loader takes them: none with
// raised privileges, where it ignores the variable; an empty one is the
// working directory, baseDir by the time the back end loads.
std::vector<std::string> searchPath(const Context &context, const std::string &baseDir);

struct CauseValues;
// The options that check as the user discovery ran as, {check} ("--pid N"
// for a trace's writer that still runs, else "--as-user USER"), and its two
// words {checkFlag} and {checkValue}.
CauseValues checkValues(const Context &context);

std::vector<Problem> explainDiscovery(const Facts &facts, const Context &context);
// The load's problems (none when it loaded whole).
std::vector<Problem> explainLoad(const Facts &facts, const Context &context);

// Values for a cause's {placeholders}: {registry}, {user}, {path}, ...;
// and the fixes worked out where the cause was found (a login file's line,
// a way out of a shared directory), which its row prints.
struct CauseValues : std::map<std::string, std::string> {
  using std::map<std::string, std::string>::map;
  fix::Fixes given;
};

// The one table of causes: the row of that key ("registry-missing",
// "registry-mistyped/default"), filled in, with the cause's stable name as
// the problem's id; a placeholder without a value stays visible. The live
// check and the trace explainer both pick a row, so a cause reads the same
// wherever it is found.
Problem describe(const std::string &key, const CauseValues &values);

std::string modeText(unsigned mode);

// Who may run a command that acts on path without being led elsewhere:
// "root" where nobody but root can change the path or anything on its way
// (a link or a directory someone else can change would point root's
// command at another file); user where the path (or, while it is missing,
// its directory) is user's own and nobody but root and user can change its
// way; "" for no one.
std::string whoMayAct(const std::string &user, const std::string &path);
// That command for that person, or, for no one, why none is offered.
fix::Fix actOn(const std::string &user, const std::string &path, const std::vector<std::string> &argv);
using fix::visible;

}  // namespace doctor

#endif
