// From what the library did to its causes: the decision tree that picks
// the cause where discovery or the load stopped, and the one table of
// causes, each row a stable id, its severity, its wording and the fixes it
// builds. The live check runs it in the checking process, as the subject;
// --trace in a reader with the trace file owner's rights. A cause that
// follows from another one already named is said to follow from it, never
// named as a second cause with a fix of its own.
#ifndef ACS_DOCTOR_CAUSES_H
#define ACS_DOCTOR_CAUSES_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "fix.h"
#include "library_trace.h"
#include "login_files.h"
#include "report.h"

namespace doctor {

// Whom the causes stand for, and what they may look up.
struct Context {
  bool live = false;  // probes run as the user discovery ran as
  std::string user;   // that user (live), or the trace file's owner
  uid_t uid = 0;
  std::string registryOrigin;  // "QXREG from ...", "the default; ..."
  bool registryFromVariable = false;
  Login login;     // the user's login files, for fixes that set variables
  pid_t pid = 0;   // the trace's writer, while it still runs
  // The subject's LD_LIBRARY_PATH, which the check itself was started without.
  bool ldLibraryPathSet = false;
  std::string ldLibraryPath;
};

// Values for a cause's {placeholders}: {registry}, {user}, {path}, ...;
// and the fixes worked out where the cause was found (a login file's line,
// a way out of a shared directory), which its row prints.
struct CauseValues : std::map<std::string, std::string> {
  using std::map<std::string, std::string>::map;
  fix::Fixes given;
};

// The row of that key ("registry-missing", "registry-mistyped/default"),
// filled in, with the cause's stable name as the problem's id and its
// fixes rendered; a placeholder without a value stays visible.
Problem describe(const std::string &key, const CauseValues &values);

// Why discovery stopped (and what a process with raised privileges
// ignored of its environment); none when it found the back end.
std::vector<Problem> explainDiscovery(const Facts &facts, const Context &context);
// The load's problems (none when it loaded whole). After a discovery that
// failed, what the load shows follows from that cause.
std::vector<Problem> explainLoad(const Facts &facts, const Context &context);

// {check}, {checkFlag}, {checkValue}: the options that check as the user
// discovery ran as ("--pid N" for a trace's writer that still runs, else
// "--as-user USER").
CauseValues checkValues(const Context &context);

// path made absolute in the directory cwd.
std::string absolute(const std::string &path, const std::string &cwd);
// LD_LIBRARY_PATH's entries as the dynamic loader takes them: none with
// raised privileges, where it ignores the variable; an empty one is the
// working directory, baseDir by the time the back end loads.
std::vector<std::string> searchPath(const Context &context, const std::string &baseDir);

// Who may run a command that acts on path without being led elsewhere:
// "root" where nobody but root can change the path or anything on its way
// (a link or a directory someone else can change would point root's
// command at another file); user where the path (or, while it is missing,
// its directory) is user's own and nobody but root and user can change its
// way; "" for no one.
std::string whoMayAct(const std::string &user, const std::string &path);
// That command for that person, or, for no one, why none is offered.
fix::Fix actOn(const std::string &user, const std::string &path, const std::vector<std::string> &argv);

}  // namespace doctor

#endif
