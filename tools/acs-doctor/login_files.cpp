#include <fnmatch.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "explain.h"
#include "subject.h"

namespace doctor {

const trust::Accounts &accounts() {
  static const trust::Accounts snapshot = trust::Accounts::fromSystem();
  return snapshot;
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

// A word without the quotes around it.
std::string unquoted(const std::string &word) {
  bool quoted = word.size() >= 2 && (word.front() == '"' || word.front() == '\'') && word.back() == word.front();
  return quoted ? word.substr(1, word.size() - 2) : word;
}

// "~/x", "$HOME/x", "${HOME}/x" and a path relative to the home (a login
// shell starts there); INSTHOME, which DB2's db2profile sets to the
// instance owner's home and sources userprofile through, like HOME.
std::string expand(std::string path, const std::string &home) {
  path = unquoted(path);
  for (const char *head : {"~/", "$HOME/", "${HOME}/", "$INSTHOME/", "${INSTHOME}/", "${INSTHOME?}/"}) {
    std::string h = head;
    if (path.compare(0, h.size(), h) == 0) return home + "/" + path.substr(h.size());
  }
  return path.empty() || path[0] == '/' ? path : home + "/" + path;
}

// The files a line sources: ". FILE" or "source FILE" wherever a command
// may start, as in "[ -f ~/.bashrc ] && . ~/.bashrc" or "if [ -f F ]; then
// . F; fi", which is how DB2's db2profile sources userprofile.
std::vector<std::string> sourcedBy(const std::vector<std::string> &words) {
  std::vector<std::string> files;
  bool commandStart = true, source = false;
  for (const std::string &word : words) {
    if (source) files.push_back(word);
    source = commandStart && (word == "." || word == "source");
    commandStart = word == ";" || word == "&&" || word == "||" || word == "then" || word == "else" ||
                   word == "do" || word == "{" || word == ")";
  }
  return files;
}

// A line's words up to a comment, ';' a word of its own.
std::vector<std::string> wordsOf(const std::string &line) {
  std::string spaced;
  for (char ch : line) spaced += ch == ';' ? std::string(" ; ") : std::string(1, ch);
  std::istringstream in(spaced);
  std::vector<std::string> words;
  for (std::string word; in >> word && word[0] != '#';) words.push_back(word);
  return words;
}

// "for i in /etc/profile.d/*.sh; do", the way /etc/profile sources a
// directory: the loop's variable and its words, each a pattern.
void forLoop(const std::vector<std::string> &w, std::string &name, std::vector<std::string> &patterns) {
  if (w.size() < 3 || w[0] != "for" || w[2] != "in") return;
  name = w[1];
  patterns.assign(w.begin() + 3, std::find_if(w.begin() + 3, w.end(),
                                              [](const std::string &x) { return x == ";" || x == "do"; }));
}

// The paths a pattern such as /etc/profile.d/*.sh names, sorted, as the
// shell expands it (a pattern in its last component only). glob() is not
// used: its symbol is of a newer C library than the tools may need.
std::vector<std::string> filesMatching(const std::string &pattern) {
  std::size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash), name = pattern.substr(slash + 1);
  std::vector<std::string> found;
  if (dir.find_first_of("*?[") != std::string::npos) return found;
  for (const std::string &entry : namesIn(dir))
    if (fnmatch(name.c_str(), entry.c_str(), FNM_PERIOD) == 0) found.push_back(dir + "/" + entry);
  return found;
}

// Every line of file in the order the shell runs it, a sourced file's
// lines in the place that sources it; ". $i" in a for loop sources each
// file the loop's patterns match, in the shell's (sorted) order.
void readWithSources(const std::string &file, const std::string &home, std::vector<std::string> &read,
                     std::vector<LoginLine> &lines, int depth) {
  if (std::find(read.begin(), read.end(), file) != read.end() || depth > 8 || !isFile(file)) return;
  read.push_back(file);
  std::ifstream in(file);
  std::string line, loop;
  std::vector<std::string> patterns;
  for (int number = 1; std::getline(in, line); ++number) {
    lines.push_back({file, number, trimmed(line)});
    std::vector<std::string> words = wordsOf(lines.back().text);
    forLoop(words, loop, patterns);
    for (const std::string &sourced : sourcedBy(words)) {
      std::string bare = unquoted(sourced);
      if (loop.empty() || (bare != "$" + loop && bare != "${" + loop + "}")) {
        readWithSources(expand(sourced, home), home, read, lines, depth + 1);
        continue;
      }
      for (const std::string &pattern : patterns)
        for (const std::string &match : filesMatching(expand(pattern, home)))
          readWithSources(match, home, read, lines, depth + 1);
    }
  }
}

// The last line the shell runs that assigns name, the value it assigns
// (unquoted; "$" when it is computed) and the assignment as written
// ("NAME=value", "NAME value" for csh); line 0 when none does. alone: the
// line holds nothing else ("; export NAME" aside), so the fix may replace
// it whole; else only the assignment, as "export QXREG=/a ZORVAN_INST=x"
// keeps ZORVAN_INST.
struct Setting {
  LoginLine line{"", 0, ""};
  std::string value, written;
  bool alone = true;
};
Setting lastSetting(const LoginFiles &files, const std::string &name) {
  Setting found;
  for (const LoginLine &l : files.lines) {
    std::string t = l.text;
    if (t.compare(0, 7, "export ") == 0) t = trimmed(t.substr(7));
    // csh: "setenv NAME value"
    bool setenv = t.compare(0, 7, "setenv ") == 0;
    if (setenv) t = trimmed(t.substr(7)) + " ";
    if (t.compare(0, name.size() + 1, name + (setenv ? " " : "=")) != 0) continue;
    // The value ends at a blank or ';' outside its quotes.
    std::size_t at = name.size() + 1, end = at;
    if (at < t.size() && (t[at] == '"' || t[at] == '\'')) end = std::min(t.find(t[at], at + 1), t.size() - 1) + 1;
    end = std::min(t.find_first_of(" \t;", end), t.size());
    std::string value = unquoted(t.substr(at, end - at)), rest = trimmed(t.substr(end));
    found = {l, value.find_first_of("$`") == std::string::npos ? value : "$", t.substr(0, end),
             setenv || rest.empty() || rest == "; export " + name || rest == ";export " + name};
  }
  return found;
}

// Two values are one when they are equal, or absolute paths to the same
// file (a link on the way).
bool sameValue(const std::string &a, const std::string &b) {
  struct stat x, y;
  return a == b || (!a.empty() && !b.empty() && a[0] == '/' && b[0] == '/' && stat(a.c_str(), &x) == 0 &&
                    stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino);
}

}  // namespace

LoginFiles loginFilesOf(uid_t uid) {
  LoginFiles f;
  const trust::Accounts::User *pw = accounts().user(uid);
  struct stat home;
  // A user without a home directory (/nonexistent) has no login files to edit.
  if (pw == nullptr || stat(pw->home.c_str(), &home) != 0 || !S_ISDIR(home.st_mode)) return f;
  f.user = pw->name;
  f.home = pw->home;
  std::string shell = pw->shell;
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
  std::vector<std::string> read;
  for (const std::string &file : f.csh ? std::vector<std::string>{"/etc/csh.cshrc", "/etc/csh.login", f.first,
                                                                   f.home + "/.login"}
                                       : std::vector<std::string>{"/etc/profile", f.first})
    readWithSources(file, f.home, read, f.lines, 0);
  // DB2 sources it from the instance's db2profile (db2cshrc) for the
  // owner's settings.
  std::string userprofile = f.home + (f.csh ? "/sqllib/usercshrc" : "/sqllib/userprofile");
  if (isFile(userprofile)) {
    f.userprofile = userprofile;
    readWithSources(f.userprofile, f.home, read, f.lines, 0);
  }
  return f;
}

fix::Fixes setVariableFix(const LoginFiles &files, const std::string &name, const std::string &value) {
  const std::string restart = "Then restart the DB2 instance, so that it starts with the new setting.";
  if (files.home.empty())
    return {fix::advice((value.empty() ? "Unset " + name : "Set " + name + "=" + value) +
                        " in the environment the DB2 instance starts with (acs-doctor --pid or --as-user names "
                        "the file that sets it), then restart the DB2 instance.")};
  Setting found = lastSetting(files, name);
  const LoginLine &s = found.line;
  // The value is one word of the line, quoted: the shell runs that line
  // at every login.
  std::string word = value.find('<') == 0 ? value : fix::shellQuote(value);
  std::string line = files.csh ? "setenv " + name + " " + word : "export " + name + "=" + word;
  // A value the check has, but the line does not give: the process was
  // started with another environment than its login shell's.
  const char *now = files.environmentChecked ? getenv(name.c_str()) : nullptr;
  bool elsewhere = files.environmentChecked && s.number != 0 && found.value != "$" &&
                   (now == nullptr || found.value != now);
  std::string checked = now == nullptr ? name + " unset" : name + "=" + now;
  std::string login = "restart the DB2 instance from a login shell of " + files.user + " (su - " + files.user + ")";
  if (elsewhere && sameValue(found.value, value))
    return {fix::advice(s.file + " line " + std::to_string(s.number) + " already sets " + name + "=" + found.value +
                        ", but the " + checked + " checked does not come from it: " + login + ".")};
  std::string assignment = files.csh ? name + " " + word : name + "=" + word;
  if (s.number != 0)
    return {actOn(files.user, s.file,
                  (value.empty() ? fix::editLine("", s.file, s.number, found.alone ? "" : found.written, "")
                   : found.alone ? fix::replaceLine("", s.file, s.number, line)
                                 : fix::editLine("", s.file, s.number, found.written, assignment))
                      .argv),
            fix::advice(elsewhere ? "Then " + login + ": the " + checked +
                                        " checked does not come from that line, which sets " + found.value + "."
                                  : restart)};
  if (value.empty())
    return {fix::advice("Unset " + name + " in the environment the DB2 instance starts with (no login file of " +
                        files.user + " sets it), then restart the DB2 instance.")};
  fix::Fix add = actOn(files.user, files.first, fix::appendLine("", files.first, line).argv);
  if (!add.argv.empty()) add.appendTo = files.first;
  return {add, fix::advice(restart)};
}

}  // namespace doctor
