// A user's login as the shell runs it: the environment it ends with and,
// for each variable that steers DB2, the file and line that set it last.
// The shell says where itself: bash traced (xtrace, with ${BASH_SOURCE}
// and ${LINENO} in PS4) reports every assignment as it really ran it,
// through every source, loop and early return. A Bourne shell other than
// bash is traced by bash reading the same files; only a C shell, which
// cannot say, has its files read here.
#ifndef ACS_DOCTOR_LOGIN_FILES_H
#define ACS_DOCTOR_LOGIN_FILES_H

#include <map>
#include <string>
#include <vector>

#include "accounts.h"
#include "fix.h"

namespace doctor {

// The variables whose settings are located: discovery's and the dynamic
// loader's.
extern const char *const kSteeringNames[5];

struct Setting {
  std::string file;
  int line = 0;
};

struct Login {
  std::string user, home, shell;
  std::string first;  // the file a new setting goes into: the one the shell reads first
  bool csh = false;   // "setenv NAME value", not "export NAME=value"
  bool interactive = false;
  std::vector<std::string> environment;     // NAME=value, as the login left it
  std::map<std::string, Setting> settings;  // where each steering variable was set last
  std::string error;                        // why the environment could not be read
  // The check runs with this environment: a setting that gives another
  // value than it has (getenv) is named as not its source.
  bool checked = false;
};

// user's login environment: the one su - gives, or (interactive) the one
// an interactive login gives (ssh, then db2start). Needs root, or to be
// the user.
Login runLogin(const trust::Accounts::User &user, bool interactive);
// The login files of user for fixes alone: where its login sets each
// steering variable (a login run for that), and the file read first.
Login loginFilesOf(uid_t uid);

// The settings a shell's xtrace shows (PS4 carrying the file and line of
// each command): every assignment or unset of a steering variable, the
// last one of each kept; a relative file is taken from home.
void readShellTrace(const std::string &trace, const std::string &home, Login &login);

// Commands that set name to value for the user's next login (value empty:
// remove the setting): an edit of the line that sets it last, else a line
// added to the file read first; then the restart that takes it up.
fix::Fixes setVariableFix(const Login &login, const std::string &name, const std::string &value);

}  // namespace doctor

#endif
