#include "login_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "causes.h"
#include "process_run.h"
#include "subject.h"

namespace doctor {

const char *const kSteeringNames[5] = {"QXREG", "ZORVAN_INST", "LD_LIBRARY_PATH", "LD_PRELOAD", "LD_AUDIT"};

namespace {

constexpr int kLoginSeconds = 20;
// Where the environment starts in what the login writes.
const char kMarker[] = "ACS-DOCTOR-ENVIRONMENT";
// xtrace's prefix: its first character repeats once per level of nesting,
// then the file and line of the command, apart where no value can be.
const char kTracePrefix[] = "+\x1f${BASH_SOURCE}\x1f${LINENO}\x1f";

bool isFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string trimmed(const std::string &line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  return line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
}

std::string unquoted(const std::string &word) {
  bool quoted = word.size() >= 2 && (word.front() == '"' || word.front() == '\'') && word.back() == word.front();
  return quoted ? word.substr(1, word.size() - 2) : word;
}

bool steering(const std::string &name) {
  return std::find(std::begin(kSteeringNames), std::end(kSteeringNames), name) != std::end(kSteeringNames);
}

// Runs the script in user's login shell, or in shell (another one's, to
// trace a Bourne shell's files), with xtrace from its start where traced.
// stdout and stderr apart: the environment cannot be crowded out by the
// trace.
bool runShell(const trust::Accounts::User &user, const std::string &shell, bool traced, bool interactive,
              ChildRun &run, std::string &error) {
  std::string script = std::string("printf '%s\\0' ") + kMarker + "; exec env -0";
  std::vector<std::string> args;
  if (traced) args.push_back("-x");
  if (interactive) args.push_back("-i");
  auto login = [&]() {
    setenv("PS4", kTracePrefix, 1);
    const std::string &program = shell.empty() ? user.shell : shell;
    std::vector<std::string> argv;
    if (getuid() != 0 && user.uid == getuid()) {
      // One's own login needs no switch: a login shell with a clean
      // environment, as su - starts it.
      argv = {"-" + program.substr(program.rfind('/') + 1)};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.insert(argv.end(), {"-c", script});
      std::vector<std::string> env = {"HOME=" + user.home, "SHELL=" + user.shell, "USER=" + user.name,
                                      "LOGNAME=" + user.name, "PATH=/usr/bin:/bin", std::string("PS4=") + kTracePrefix};
      std::vector<char *> a, e;
      for (std::string &s : argv) a.push_back(&s[0]);
      for (std::string &s : env) e.push_back(&s[0]);
      a.push_back(nullptr);
      e.push_back(nullptr);
      if (chdir(user.home.c_str()) != 0) {
      }
      execve(program.c_str(), a.data(), e.data());
      return;
    }
    // runuser is su for root without authentication; older systems lack
    // it. Arguments after "--" go to the shell.
    argv = {"", "-l", user.name};
    if (!shell.empty()) argv.insert(argv.begin() + 2, {"-s", shell});
    if (traced) argv.insert(argv.begin() + 2, {"-w", "PS4"});
    argv.push_back("--");
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"-c", script});
    std::vector<char *> a;
    for (std::string &s : argv) a.push_back(&s[0]);
    a.push_back(nullptr);
    for (const char *runuser : {"/usr/sbin/runuser", "/sbin/runuser", "/bin/su", "/usr/bin/su"}) {
      argv[0] = runuser;
      a[0] = &argv[0][0];
      execv(runuser, a.data());
    }
  };
  // A profile that waits for input or hangs must not hang the doctor.
  if (!runChild(login, kLoginSeconds, run, error, -1, kOutputLimit, true)) return false;
  int status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
  if (run.timedOut)
    error = "the login shell did not finish within " + std::to_string(kLoginSeconds) + " s";
  else if (status == 127)
    error = "neither runuser nor su could be started";
  else if (run.output.find(std::string(kMarker) + '\0') == std::string::npos)
    error = "su - " + user.name + " -c env ended with status " + std::to_string(status) + " (shell " + user.shell +
            ")" + (run.cut ? ", after more than 1 MiB of output, the rest cut" : "");
  return error.empty();
}

// A C shell cannot say where it set a variable: its files are read in the
// order it reads them, with those they source.
void readCsh(const std::string &file, Login &login, int depth) {
  std::ifstream in(file);
  std::string line;
  for (int number = 1; depth < 8 && in && std::getline(in, line); ++number) {
    std::string t = trimmed(line), word;
    if (t.compare(0, 7, "setenv ") == 0 || t.compare(0, 9, "unsetenv ") == 0) {
      bool unset = t[0] == 'u';
      std::string name = trimmed(t.substr(unset ? 9 : 7));
      name = name.substr(0, name.find_first_of(" \t"));
      if (!steering(name)) continue;
      if (unset) login.settings.erase(name);
      else login.settings[name] = {file, number};
    } else if (t.compare(0, 7, "source ") == 0) {
      std::string sourced = unquoted(trimmed(t.substr(7)));
      for (const char *head : {"~/", "$HOME/", "${HOME}/", "$INSTHOME/", "${INSTHOME}/"})
        if (sourced.compare(0, strlen(head), head) == 0) sourced = login.home + "/" + sourced.substr(strlen(head));
      if (sourced[0] != '/') sourced = login.home + "/" + sourced;
      readCsh(sourced, login, depth + 1);
    }
  }
}

// The files and shell of user: which one a new setting goes into.
Login loginOf(const trust::Accounts::User &user) {
  Login l;
  l.user = user.name;
  l.home = user.home;
  l.shell = user.shell;
  std::string base = user.shell.substr(user.shell.rfind('/') + 1);
  l.csh = base == "csh" || base == "tcsh";
  // bash reads the first of these that exists; another Bourne shell
  // ~/.profile; a C shell its rc file (tcsh ~/.tcshrc before ~/.cshrc).
  std::vector<std::string> own = {".profile"};
  if (base == "bash") own = {".bash_profile", ".bash_login", ".profile"};
  if (l.csh) own = {base == "tcsh" ? ".tcshrc" : ".cshrc", ".cshrc"};
  l.first = l.home + "/" + own.back();
  for (const std::string &name : own)
    if (isFile(l.home + "/" + name)) {
      l.first = l.home + "/" + name;
      break;
    }
  return l;
}

// Where the login sets each variable: bash's own trace; for another
// Bourne shell, bash's trace of the same files (bash reads ~/.profile as
// it does, unless a file of bash's own comes first); a C shell's files.
void locate(const trust::Accounts::User &user, Login &l, const ChildRun &own, bool bash) {
  if (l.csh) {
    for (const std::string &file : {std::string("/etc/csh.cshrc"), std::string("/etc/csh.login"), l.first,
                                    l.home + "/.login"})
      readCsh(file, l, 0);
    return;
  }
  if (!l.error.empty()) return;
  if (bash) return readShellTrace(own.errors, l.home, l);
  if (isFile(l.home + "/.bash_profile") || isFile(l.home + "/.bash_login")) return;
  ChildRun traced;
  std::string error;
  if (runShell(user, "/bin/bash", true, false, traced, error)) readShellTrace(traced.errors, l.home, l);
}

// line as "NAME=value" (or "setenv NAME value"): where the assignment of
// name starts and ends, and whether the line holds nothing else ("; export
// NAME" aside), so a fix may replace it whole.
struct Assignment {
  std::string value, written;
  bool alone = true;
  bool found = false;
};
Assignment assignmentIn(const std::string &line, const std::string &name, bool csh) {
  std::string t = trimmed(line);
  if (t.compare(0, 7, "export ") == 0) t = trimmed(t.substr(7));
  if (csh && t.compare(0, 7, "setenv ") == 0) t = trimmed(t.substr(7)) + " ";
  std::size_t at = t.find(name + (csh ? " " : "="));
  while (at != std::string::npos && at != 0 && t[at - 1] != ' ' && t[at - 1] != '\t')
    at = t.find(name + (csh ? " " : "="), at + 1);
  if (at == std::string::npos) return {};
  // The value ends at a blank or ';' outside its quotes.
  std::size_t from = at + name.size() + 1, end = from;
  if (from < t.size() && (t[from] == '"' || t[from] == '\''))
    end = std::min(t.find(t[from], from + 1), t.size() - 1) + 1;
  end = std::min(t.find_first_of(" \t;", end), t.size());
  std::string value = unquoted(t.substr(from, end - from)), rest = trimmed(t.substr(end));
  return {value.find_first_of("$`") == std::string::npos ? value : "$", t.substr(at, end - at),
          at == 0 && (csh || rest.empty() || rest == "; export " + name || rest == ";export " + name), true};
}

std::string lineOf(const std::string &file, int number) {
  std::ifstream in(file);
  std::string line;
  for (int n = 1; n <= number && std::getline(in, line); ++n) {
  }
  return line;
}

// Two values are one when they are equal, or absolute paths to the same
// file (a link on the way).
bool sameValue(const std::string &a, const std::string &b) {
  struct stat x, y;
  return a == b || (!a.empty() && !b.empty() && a[0] == '/' && b[0] == '/' && stat(a.c_str(), &x) == 0 &&
                    stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino);
}

}  // namespace

// "+\x1f<file>\x1f<line>\x1f<command>": an assignment of a steering
// variable (bare, exported or declared) or its unset.
void readShellTrace(const std::string &trace, const std::string &home, Login &login) {
  std::size_t at = 0;
  for (std::size_t end; at < trace.size(); at = end + 1) {
    end = std::min(trace.find('\n', at), trace.size());
    std::string line = trace.substr(at, end - at);
    std::size_t a = line.find('\x1f'), b = a == std::string::npos ? a : line.find('\x1f', a + 1),
                c = b == std::string::npos ? b : line.find('\x1f', b + 1);
    if (c == std::string::npos || line.find_first_not_of('+') != a) continue;
    std::string file = line.substr(a + 1, b - a - 1), command = trimmed(line.substr(c + 1));
    int number = std::atoi(line.substr(b + 1, c - b - 1).c_str());
    if (file.empty() || number <= 0) continue;
    if (file[0] != '/') file = home + "/" + file;
    for (const char *head : {"export ", "declare -x ", "declare -gx ", "typeset -x ", "unset "}) {
      std::string h = head;
      if (command.compare(0, h.size(), h) != 0) continue;
      if (h == "unset ") {
        login.settings.erase(trimmed(command.substr(h.size())));
        command.clear();
      } else {
        command = command.substr(h.size());
      }
      break;
    }
    // "A=1 B='x y'": each word an assignment.
    for (std::size_t w = 0; w < command.size();) {
      std::size_t equals = command.find('=', w), word = command.find_first_of(" '", w);
      if (equals == std::string::npos || (word != std::string::npos && word < equals)) break;
      std::string name = command.substr(w, equals - w);
      if (steering(name)) login.settings[name] = {file, number};
      std::size_t next = equals + 1;
      while (next < command.size() && command[next] != ' ')
        next = command[next] == '\'' ? std::min(command.find('\'', next + 1), command.size() - 1) + 1 : next + 1;
      w = next + 1;
    }
  }
}

Login runLogin(const trust::Accounts::User &user, bool interactive) {
  Login l = loginOf(user);
  l.interactive = interactive;
  std::string base = user.shell.substr(user.shell.rfind('/') + 1);
  ChildRun run;
  // Traced from its start where the shell can say; where runuser cannot
  // pass PS4 (an older su), untraced.
  bool bash = base == "bash";
  if (!runShell(user, "", bash, interactive, run, l.error) && bash) {
    l.error.clear();
    bash = false;
    run = ChildRun();
    runShell(user, "", false, interactive, run, l.error);
  }
  std::size_t at = run.output.find(std::string(kMarker) + '\0');
  std::string block = at == std::string::npos ? "" : run.output.substr(at + sizeof kMarker);
  for (std::size_t from = 0, end = 0; from < block.size(); from = end + 1) {
    end = std::min(block.find('\0', from), block.size());
    std::string entry = block.substr(from, end - from);
    if (entry.find('=') != std::string::npos && entry[0] != '=') l.environment.push_back(entry);
  }
  locate(user, l, run, bash);
  return l;
}

Login loginFilesOf(uid_t uid) {
  const trust::Accounts::User *user = accounts().user(uid);
  struct stat home;
  // A user without a home directory (/nonexistent) has no login files to edit.
  if (user == nullptr || stat(user->home.c_str(), &home) != 0 || !S_ISDIR(home.st_mode)) return Login();
  Login l = runLogin(*user, false);
  l.environment.clear();
  return l;
}

fix::Fixes setVariableFix(const Login &login, const std::string &name, const std::string &value) {
  const std::string restart = "Then restart the DB2 instance, so that it starts with the new setting.";
  if (login.home.empty())
    return {fix::advice((value.empty() ? "Unset " + name : "Set " + name + "=" + value) +
                        " in the environment the DB2 instance starts with (acs-doctor --pid or --as-user names "
                        "the file that sets it), then restart the DB2 instance.")};
  auto found = login.settings.find(name);
  const Setting *s = found != login.settings.end() ? &found->second : nullptr;
  Assignment a = s != nullptr ? assignmentIn(lineOf(s->file, s->line), name, login.csh) : Assignment();
  if (s != nullptr && !a.found) s = nullptr;  // set on the line by a command this reading cannot follow
  // The value is one word of the line, quoted: the shell runs that line
  // at every login.
  std::string word = value.find('<') == 0 ? value : fix::shellQuote(value);
  std::string line = login.csh ? "setenv " + name + " " + word : "export " + name + "=" + word;
  // A value the check has, but the line does not give: the process was
  // started with another environment than its login shell's.
  const char *now = login.checked ? getenv(name.c_str()) : nullptr;
  bool elsewhere = login.checked && s != nullptr && a.value != "$" && (now == nullptr || a.value != now);
  std::string checked = now == nullptr ? name + " unset" : name + "=" + now;
  std::string again = "restart the DB2 instance from a login shell of " + login.user + " (su - " + login.user + ")";
  if (elsewhere && sameValue(a.value, value))
    return {fix::advice(s->file + " line " + std::to_string(s->line) + " already sets " + name + "=" + a.value +
                        ", but the " + checked + " checked does not come from it: " + again + ".")};
  std::string assignment = login.csh ? name + " " + word : name + "=" + word;
  if (s != nullptr)
    return {actOn(login.user, s->file,
                  (value.empty() ? fix::editLine("", s->file, s->line, a.alone ? "" : a.written, "")
                   : a.alone     ? fix::replaceLine("", s->file, s->line, line)
                                 : fix::editLine("", s->file, s->line, a.written, assignment))
                      .argv),
            fix::advice(elsewhere ? "Then " + again + ": the " + checked +
                                        " checked does not come from that line, which sets " + a.value + "."
                                  : restart)};
  if (value.empty())
    return {fix::advice("Unset " + name + " in the environment the DB2 instance starts with (no login file of " +
                        login.user + " sets it), then restart the DB2 instance.")};
  fix::Fix add = actOn(login.user, login.first, fix::appendLine("", login.first, line).argv);
  if (!add.argv.empty()) add.appendTo = login.first;
  return {add, fix::advice(restart)};
}

}  // namespace doctor
