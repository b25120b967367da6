// The files a user's login shell reads, and what they source, so that a
// fix names the line that sets QXREG or ZORVAN_INST, or the file to add
// it to.
#ifndef ACS_DOCTOR_LOGIN_FILES_H
#define ACS_DOCTOR_LOGIN_FILES_H

#include <pwd.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace doctor {

struct LoginFiles {
  std::string user;
  std::string home;
  std::vector<std::string> read;  // in reading order: the shell's files and what they source
  std::string first;              // the file the shell reads first in the home directory
  std::string userprofile;        // <home>/sqllib/userprofile, when it exists
};

// The user's groups, its primary group included.
std::vector<gid_t> groupsOf(const struct passwd *pw);

// For the user with that uid (empty when it has no passwd entry).
LoginFiles loginFilesOf(uid_t uid);

// The last line, in reading order, that assigns name ("export QXREG=..."
// or "QXREG=..."); line 0 when none does.
struct Setting {
  std::string file;
  int line = 0;
};
Setting lastSetting(const LoginFiles &files, const std::string &name);

// A command that sets name to value for the user's next login (value empty:
// removes the setting), for whoever may edit the file.
std::string setVariableFix(const LoginFiles &files, const std::string &name,
                           const std::string &value);

}  // namespace doctor

#endif
