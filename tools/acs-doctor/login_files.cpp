#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "explain.h"

namespace doctor {

// The one lookup of a user's name, for every text that names one.
std::string userName(uid_t uid) {
  const struct passwd *pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : "uid " + std::to_string(uid);
}

std::vector<gid_t> groupsOf(const struct passwd *pw) {
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<std::size_t>(count));
  return groups;
}

namespace {

bool isFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string trimmed(const std::string &line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  std::size_t end = line.find_last_not_of(" \t\r");
  return line.substr(start, end - start + 1);
}

// "~/x", "$HOME/x", "${HOME}/x" and a path relative to the home (a login
// shell starts there).
std::string expand(std::string path, const std::string &home) {
  if (path.size() >= 2 && (path.front() == '"' || path.front() == '\'') && path.back() == path.front())
    path = path.substr(1, path.size() - 2);
  for (const char *head : {"~/", "$HOME/", "${HOME}/"}) {
    std::string h = head;
    if (path.compare(0, h.size(), h) == 0) return home + "/" + path.substr(h.size());
  }
  return path.empty() || path[0] == '/' ? path : home + "/" + path;
}

void readWithSources(const std::string &file, const std::string &home, std::vector<std::string> &out,
                     int depth) {
  if (std::find(out.begin(), out.end(), file) != out.end() || depth > 8 || !isFile(file)) return;
  out.push_back(file);
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::string t = trimmed(line);
    std::string rest;
    if (t.compare(0, 2, ". ") == 0) rest = t.substr(2);
    else if (t.compare(0, 7, "source ") == 0) rest = t.substr(7);
    else continue;
    rest = trimmed(rest);
    readWithSources(expand(rest.substr(0, rest.find_first_of(" \t;")), home), home, out, depth + 1);
  }
}

// The last line, in reading order, that assigns name; line 0 when none does.
struct Setting {
  std::string file;
  int line = 0;
};
Setting lastSetting(const LoginFiles &files, const std::string &name) {
  Setting found;
  for (const std::string &file : files.read) {
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::string t = trimmed(line);
      if (t.compare(0, 7, "export ") == 0) t = trimmed(t.substr(7));
      // csh: "setenv NAME value"
      bool setenv = t.compare(0, 7, "setenv ") == 0;
      if (setenv) t = trimmed(t.substr(7)) + " ";
      if (t.compare(0, name.size() + 1, name + (setenv ? " " : "=")) == 0) found = {file, number};
    }
  }
  return found;
}

}  // namespace

LoginFiles loginFilesOf(uid_t uid) {
  LoginFiles f;
  const struct passwd *pw = getpwuid(uid);
  if (pw == nullptr) return f;
  f.user = pw->pw_name;
  f.home = pw->pw_dir;
  std::string shell = pw->pw_shell;
  std::string base = shell.substr(shell.rfind('/') + 1);
  f.csh = base == "csh" || base == "tcsh";
  // bash reads the first of these that exists; other Bourne shells
  // ~/.profile; a C shell its rc file (tcsh ~/.tcshrc before ~/.cshrc),
  // then ~/.login.
  std::vector<std::string> own = {".profile"};
  if (base == "bash") own = {".bash_profile", ".bash_login", ".profile"};
  if (f.csh) own = {base == "tcsh" ? ".tcshrc" : ".cshrc", ".cshrc"};
  f.first = f.home + "/" + own.back();
  for (const std::string &name : own)
    if (isFile(f.home + "/" + name)) {
      f.first = f.home + "/" + name;
      break;
    }
  for (const std::string &file : f.csh ? std::vector<std::string>{"/etc/csh.cshrc", "/etc/csh.login", f.first,
                                                                   f.home + "/.login"}
                                       : std::vector<std::string>{"/etc/profile", f.first})
    readWithSources(file, f.home, f.read, 0);
  // DB2 sources it from the instance's db2profile (db2cshrc) for the
  // owner's settings.
  std::string userprofile = f.home + (f.csh ? "/sqllib/usercshrc" : "/sqllib/userprofile");
  if (isFile(userprofile)) {
    f.userprofile = userprofile;
    readWithSources(f.userprofile, f.home, f.read, 0);
  }
  return f;
}

std::string setVariableFix(const LoginFiles &files, const std::string &name,
                           const std::string &value) {
  const std::string restart = ", then restart the DB2 instance.";
  if (files.home.empty())
    return (value.empty() ? "Unset " + name : "Set " + name + "=" + value) +
           " in the environment the DB2 instance starts with (acs-doctor --pid or --as-user names "
           "the file that sets it)" + restart;
  Setting s = lastSetting(files, name);
  std::string who = s.line != 0 && s.file.compare(0, files.home.size() + 1, files.home + "/") != 0
                        ? "root"
                        : files.user;
  std::string line = files.csh ? "setenv " + name + " " + value : "export " + name + "=" + value;
  if (s.line != 0)
    return "As " + who + ": sed -i '" + std::to_string(s.line) + (value.empty() ? "d' " : "s|.*|" + line + "|' ") +
           s.file + restart;
  if (value.empty())
    return "Unset " + name + " in the environment the DB2 instance starts with (no login file of " +
           files.user + " sets it)" + restart;
  return "As " + files.user + ": echo '" + line + "' >> " + files.first +
         (files.userprofile.empty() ? "" : " (or >> " + files.userprofile + ", which DB2 sources)") +
         restart;
}

}  // namespace doctor
