#include "causes.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "process_run.h"
#include "subject.h"
#include "trust_chain.h"
#include "zorvan/discovery.h"

namespace doctor {

namespace {


using fix::Fixes;

// The value of a placeholder, or the placeholder itself when none was
// given, so that a missing value stays visible.
std::string at(const CauseValues &v, const std::string &key) {
  auto found = v.find(key);
  return found != v.end() ? found->second : "{" + key + "}";
}

fix::Fix root(const std::vector<std::string> &argv) { return fix::command("root", argv); }

Fixes plus(Fixes first, const Fixes &then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// acs-doctor checking again as the user discovery ran as.
fix::Fix checkAgain(const CauseValues &v, const std::vector<std::string> &more = {}) {
  std::vector<std::string> argv = {"acs-doctor", at(v, "checkFlag"), at(v, "checkValue")};
  argv.insert(argv.end(), more.begin(), more.end());
  return root(argv);
}

// The back end kept from DB2 until it is fixed: without the execute bit
// db2ACSInitialize returns 11 instead of loading it.
// A command on the path named by key, for whoever may run it safely.
fix::Fix on(const CauseValues &v, const std::string &path, const std::vector<std::string> &argv) {
  return actOn(at(v, "user"), path, argv);
}

fix::Fix disable(const CauseValues &v) { return on(v, at(v, "lib"), {"chmod", "a-x", at(v, "lib")}); }

Fixes reinstall(const CauseValues &v) {
  return {on(v, at(v, "lib"), {"install", "-m", "755", "<back end>", at(v, "lib")})};
}

Fixes given(const CauseValues &v) { return v.given; }

// A user as an access control list names it: a uid without a name as its
// number.
std::string aclName(const std::string &user) { return user.compare(0, 4, "uid ") == 0 ? user.substr(4) : user; }

// The properties file's line {line} rewritten, or text added as its last.
fix::Fix rewrite(const CauseValues &v, const std::string &text) {
  fix::Fix edit = fix::replaceLine("", at(v, "properties"), std::atoi(at(v, "line").c_str()), text);
  return on(v, at(v, "properties"), edit.argv);
}
fix::Fix appendTo(const CauseValues &v, const std::string &text) {
  fix::Fix add = on(v, at(v, "properties"), fix::appendLine("", at(v, "properties"), text).argv);
  if (!add.argv.empty()) add.appendTo = at(v, "properties");
  return add;
}

// Access for the user alone, through an access control list: a directory
// someone kept private stays closed to everyone else. On a way the user
// chose (QXREG), which could name any private directory, the fix says so
// first.
Fixes grant(const CauseValues &v, const std::string &rights, const std::string &path) {
  Fixes fixes;
  if (v.count("chosen") != 0)
    fixes.push_back(fix::advice(at(v, "chosen") + ", which " + at(v, "user") + " may set, leads through " + path +
                                ": grant access only if " + path + " is meant for " + at(v, "user") + "."));
  fixes.push_back(on(v, path, {"setfacl", "-m", "u:" + aclName(at(v, "user")) + ":" + rights, path}));
  if (access("/usr/bin/setfacl", X_OK) != 0 && access("/bin/setfacl", X_OK) != 0)
    fixes.push_back(fix::advice("setfacl comes with the acl package (apt-get install acl, or dnf install acl)."));
  return fixes;
}

struct Row {
  const char *key;  // the cause's stable name, and for a variant "/" and what it differs by
  Severity severity;
  const char *text;
  Fixes (*fixes)(const CauseValues &v);
};

const Row kRows[] = {
    {"registry-missing", Severity::Error,
     "The registry directory {registry} ({origin}) does not exist, so no instance can be found.",
     [](const CauseValues &v) {
       return plus(v.given, {on(v, at(v, "registry"), {"mkdir", "-p", at(v, "registry") + "/Zorvan"})});
     }},
    {"registry-relative", Severity::Error,
     "QXREG is the relative path '{registry}': the process looked it up in its working directory, "
     "which a trace does not show, so the files it read cannot be found from here.",
     [](const CauseValues &v) { return plus({root({"acs-doctor", "--pid", at(v, "pid")})}, v.given); }},
    {"registry-relative/live", Severity::Warning,
     "QXREG is the relative path '{qxreg}', found from this working directory as {registry}: a DB2 process "
     "started in another directory looks it up there, and does not find it.",
     given},
    {"registry-mistyped/default", Severity::Error,
     "QXREG names {registry}, which does not exist ({origin}); the default registry "
     ZORVAN_DEFAULT_REGISTRY " does exist.",
     given},
    {"registry-mistyped/similar", Severity::Error,
     "QXREG names {registry}, which does not exist ({origin}); {similar} does, with a similar name.", given},
    {"qxreg-ignored/directory", Severity::Error,
     "QXREG={qxreg} is ignored: DB2's process has raised privileges and {reason}, so the library uses "
     ZORVAN_DEFAULT_REGISTRY " instead.",
     given},
    {"qxreg-ignored", Severity::Error,
     "QXREG={qxreg} is ignored: DB2's process has raised privileges and {reason}, so the library uses "
     ZORVAN_DEFAULT_REGISTRY " instead.",
     given},
    {"instance-variable-ignored", Severity::Error,
     "ZORVAN_INST={value} is ignored: DB2's process has raised privileges and takes only a plain "
     "instance name, so the library looks for the first instance instead.",
     given},
    {"instance-variable-ignored/vendor-options", Severity::Error,
     "The vmName '{value}' of DB2's vendor options is ignored: DB2's process has raised privileges and takes "
     "only a plain instance name, so the library looks for the first instance instead.",
     [](const CauseValues &) {
       return Fixes{fix::advice("Correct the vmName in the options DB2 passes to the library.")};
     }},
    {"instances-directory-missing", Severity::Error,
     "The registry {registry} has no Zorvan directory ({instances} is missing), so no instance "
     "can be found.",
     [](const CauseValues &v) { return plus(v.given, {on(v, at(v, "instances"), {"mkdir", at(v, "instances")})}); }},
    {"instances-directory-unreadable", Severity::Error,
     "The instances directory {instances} cannot be read by {user}: {error}.",
     [](const CauseValues &v) { return grant(v, "rx", at(v, "instances")); }},
    {"directory-not-searchable", Severity::Error,
     "{user} cannot reach {target}: the directory {dir} (owner {dirOwner}, mode {dirMode}) is not "
     "searchable for {user}.",
     [](const CauseValues &v) { return grant(v, "x", at(v, "dir")); }},
    {"no-instance-with-agent", Severity::Error,
     "No registered instance has the DB2 agent installed: ZORVAN_INST is unset, "
     "{instances}/Instance001/Db2Agent does not exist{scanned}.",
     [](const CauseValues &v) {
       std::string agent = at(v, "instances") + "/" + at(v, "example") + "/Db2Agent";
       return plus({on(v, agent, {"touch", agent})}, v.given);
     }},
    {"instance-not-registered/variable", Severity::Error,
     "Instance '{instance}' (from ZORVAN_INST) is not registered: {instanceDir} does "
     "not exist; registered under {instances}: {registered}.{nearMiss}",
     given},
    {"instance-not-registered/vendor-options", Severity::Error,
     "Instance '{instance}' (from vendor options) is not registered: {instanceDir} does not exist.",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Correct the vmName in the options DB2 passes to the library, or register "
                                "instance " + at(v, "instance") + " under " + at(v, "registry") + "/Zorvan.")};
     }},
    {"instance-not-registered", Severity::Error,
     "Instance '{instance}' is not registered: {instanceDir} does not exist.",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Register instance " + at(v, "instance") + " under " + at(v, "registry") + "/Zorvan.")};
     }},
    {"instance-variable-empty", Severity::Error,
     "ZORVAN_INST is set but empty; an empty value still counts, so no instance is scanned for "
     "and the properties path becomes {properties}.",
     given},
    {"properties-missing", Severity::Error, "The instance's properties file {properties} does not exist.",
     [](const CauseValues &v) { return Fixes{appendTo(v, "dZORVANHOME <home directory>")}; }},
    {"properties-unreadable", Severity::Error,
     "The properties file {properties} cannot be opened by {user}: {error}.",
     [](const CauseValues &v) { return grant(v, "r", at(v, "properties")); }},
    {"properties-not-opened", Severity::Error,
     "The properties file {properties} could not be opened (missing, or not readable for the "
     "DB2 instance owner, who must be able to read it).",
     [](const CauseValues &v) { return Fixes{checkAgain(v)}; }},
    {"properties-path-too-long", Severity::Error,
     "The properties path for instance '{instance}' under {registry} is longer than {limit} bytes.",
     [](const CauseValues &) {
       return Fixes{fix::advice("Use a shorter registry path (QXREG) or instance name.")};
     }},
    {"key-without-value", Severity::Error,
     "The first dZORVANHOME line of {properties} (line {line}) has no value; it decides, later "
     "lines are not read.",
     [](const CauseValues &v) { return Fixes{rewrite(v, "dZORVANHOME <home directory>")}; }},
    {"key-near-miss", Severity::Error,
     "{properties} line {line} reads '{text}': {why}, so no home directory is known.",
     [](const CauseValues &v) { return Fixes{rewrite(v, "dZORVANHOME " + at(v, "value"))}; }},
    {"key-missing", Severity::Error,
     "{properties} has no line starting with dZORVANHOME, so no home directory is known.",
     [](const CauseValues &v) { return Fixes{appendTo(v, "dZORVANHOME <home directory>")}; }},
    {"key-changed-since", Severity::Note,
     "{properties} gave no home directory when the trace was written, but has a dZORVANHOME line now: it was "
     "changed since.",
     [](const CauseValues &v) { return Fixes{checkAgain(v)}; }},
    {"crlf-line-ends", Severity::Error,
     "{properties} has Windows (CR LF) line endings: the home read is '{home}', so the back end "
     "is looked for at '{lib}'.",
     [](const CauseValues &v) {
       return Fixes{on(v, at(v, "properties"), {"sed", "-i", "s/\\r$//", at(v, "properties")})};
     }},
    {"home-missing", Severity::Error,
     "The home directory {home} named by dZORVANHOME in {properties} does not exist.",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Install the product at " + at(v, "home") +
                                ", or name its home directory in the dZORVANHOME line of " + at(v, "properties") +
                                ".")};
     }},
    {"home-too-long", Severity::Error,
     "dZORVANHOME in {properties} is longer than the 1003 characters the library takes.",
     [](const CauseValues &) { return Fixes{fix::advice("Install the product under a shorter home directory.")}; }},
    {"backend-missing", Severity::Error, "The back end {lib} does not exist.", reinstall},
    {"backend-not-a-file", Severity::Error, "The back end {lib} is not a regular file.", reinstall},
    {"backend-not-executable", Severity::Error,
     "The back end {lib} is not executable (mode {mode}); the library insists on an executable "
     "back end.",
     [](const CauseValues &v) { return Fixes{on(v, at(v, "lib"), {"chmod", "755", at(v, "lib")})}; }},
    {"backend-on-noexec-mount", Severity::Error,
     "The back end {lib} is on a file system mounted noexec at {mount}: nothing there passes the execute test, "
     "whatever its mode ({mode}).",
     [](const CauseValues &v) {
       return Fixes{root({"mount", "-o", "remount,exec", at(v, "mount")}),
                    fix::advice("Take noexec out of the line for " + at(v, "mount") +
                                " in /etc/fstab, or install the product's home on a file system mounted without it.")};
     }},
    {"backend-execute-denied", Severity::Error,
     "The back end {lib} has mode {mode} (owner {owner}), which lets {user} execute it, but the execute test fails "
     "all the same ({error}): an access control list or a security module (SELinux, AppArmor) denies it.",
     [](const CauseValues &v) {
       return Fixes{on(v, at(v, "lib"), {"setfacl", "-b", at(v, "lib")}),
                    fix::advice("A security module's denial is in its log: ausearch -m avc -ts recent, or "
                                "journalctl -k | grep -i apparmor.")};
     }},
    {"backend-not-executable-for-user", Severity::Error,
     "The back end {lib} fails the execute test for {user} (mode {mode}, owner {owner}): it must "
     "be executable for {user}.",
     [](const CauseValues &v) { return Fixes{on(v, at(v, "lib"), {"chmod", "755", at(v, "lib")})}; }},
    {"backend-fails-test", Severity::Error, "The back end {lib} fails the execute test for {user}: {error}.",
     reinstall},
    {"backend-not-accessible", Severity::Error,
     "The back end {lib} failed the execute test (missing, not executable, or a directory above "
     "it not searchable for the DB2 instance owner).",
     [](const CauseValues &v) { return Fixes{checkAgain(v)}; }},
    {"backend-load-failed", Severity::Error, "The back end {lib} was found but failed to load: {error}",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Install the back end's missing libraries, or a back end built for this "
                                "platform; ldd " + at(v, "lib") + " lists what it needs.")};
     }},
    {"backend-load-noexec", Severity::Error,
     "The back end {lib} was found but failed to load: {error}. The loader could not map {dep} to run: it lies on a "
     "file system mounted noexec at {mount}.",
     [](const CauseValues &v) {
       return Fixes{root({"mount", "-o", "remount,exec", at(v, "mount")}),
                    fix::advice("Take noexec out of the line for " + at(v, "mount") + " in /etc/fstab, or move " +
                                at(v, "dep") + " to a file system mounted without it.")};
     }},
    {"load-follows", Severity::Note,
     "Loading {lib} failed too ({error}), as it must: DB2 never gets that far, for the cause above.", given},
    {"carriage-return", Severity::Error,
     "{name} ends in a carriage return ('{shown}'): the file that sets it has Windows (CR LF) line ends.", given},
    {"backend-lacks-entry-points", Severity::Error,
     "The back end {lib} lacks {missing}: db2ACSInitialize would return 11.",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Install a back end that exports all fourteen db2ACS*pp entry points; nm -D " +
                                at(v, "lib") + " lists what it exports.")};
     }},
    {"backend-killed-the-process", Severity::Error,
     "Loading the back end {lib} killed the checking process with signal {signal} ({signalName}): "
     "DB2's process would die here.",
     [](const CauseValues &v) {
       return Fixes{disable(v), fix::advice("Keep it so until its vendor has fixed its initialisation; ldd " +
                                            at(v, "lib") + " lists what it loads.")};
     }},
    {"backend-hangs-while-loading", Severity::Error,
     "Loading the back end {lib} did not finish within {seconds} s: DB2's process would hang here, in "
     "db2ACSInitialize.",
     [](const CauseValues &v) {
       return Fixes{disable(v), checkAgain(v, {"--load", "--timeout", "<seconds>"})};
     }},
    {"backend-not-loaded-as-root", Severity::Error,
     "The back end {lib} was not loaded: the check runs as root, and others can change what it would run as "
     "root.",
     given},
    {"call-unfinished/loading", Severity::Warning,
     "{function} stopped while loading the back end {lib}: no line follows \"Library to be loaded\". If "
     "DB2's process died or hung then, the back end's own initialisation did it.",
     [](const CauseValues &v) { return Fixes{checkAgain(v, {"--load"})}; }},
    {"call-unfinished", Severity::Note,
     "{function} has no leaving line: the process was still in it when the trace was read, or it died "
     "or hung there.",
     [](const CauseValues &v) { return Fixes{checkAgain(v)}; }},
    {"call-failed-unbound", Severity::Error,
     "{function} failed in the library with {code}: no back end was bound (db2ACSInitialize failed or was not "
     "called in this process).",
     [](const CauseValues &v) { return Fixes{checkAgain(v)}; }},
    {"call-failed-in-backend", Severity::Error,
     "{function} returned {code}: the error came from the back end ({function}pp), not from this library.",
     [](const CauseValues &v) {
       return Fixes{fix::advice("Look up return code " + at(v, "rc") +
                                " in the back end's documentation and its own log.")};
     }},
    {"marker-holds", Severity::Error,
     "Debug marker {marker} (owner {owner}) exists: every {function} call of {user} waits until it is removed, "
     "re-checking every 10 s; the operation hangs.",
     [](const CauseValues &v) { return Fixes{fix::command(at(v, "owner"), {"rm", at(v, "marker")})}; }},
    {"marker-of-another-user", Severity::Note,
     "Debug marker {marker} exists but belongs to {owner}, so it does not hold {user}'s calls; it would hold "
     "{owner}'s.",
     [](const CauseValues &v) { return Fixes{fix::command(at(v, "owner"), {"rm", at(v, "marker")})}; }},
    {"tracing-on", Severity::Warning,
     "Tracing is on: {trace} exists and every call of {user}'s DB2 processes appends to it (it grows, and records "
     "paths and vendor options).",
     [](const CauseValues &v) { return Fixes{fix::command(at(v, "owner"), {"rm", at(v, "trace")})}; }},
    {"tracing-silently-off", Severity::Warning, "{trace} exists but tracing is silently off: {refusal}.", given},
    {"tracing-is-another-users", Severity::Warning,
     "{trace} belongs to {owner}: {owner}'s DB2 processes trace into it, {user}'s do not. For both to trace, it "
     "must belong to root and be writable for both.",
     given},
    {"changeable-by-others", Severity::Error, "{path}{what}, and with it the code DB2 runs as {user}", given},
    {"login-unreadable", Severity::Warning,
     "Could not read {user}'s login environment ({error}); checked with an empty environment, which DB2's may not "
     "be.",
     given},
    {"checked-as-root", Severity::Note,
     "Checked as root with root's own environment, which passes permission tests the DB2 instance owner may fail "
     "and may lack its QXREG.",
     given},
    {"cwd-not-entered", Severity::Note,
     "Could not enter the working directory {error}; relative paths were resolved from {cwd}{where}.",
     [](const CauseValues &) { return Fixes{fix::advice("Check with --pid while DB2 runs.")}; }},
    {"owner-outside-namespace", Severity::Note,
     "{count} of the paths DB2 depends on belong to a user or group outside this user namespace (shown as the "
     "overflow id), so who can change them was not judged.",
     [](const CauseValues &) {
       return Fixes{fix::advice("Check from the host itself, as root there: acs-doctor --pid <pid of a DB2 engine "
                                "process>.")};
     }},
    {"discovery-failed", Severity::Error,
     "Discovery failed in an unexpected way (run with --verbose for the library's trace).",
     [](const CauseValues &) {
       return Fixes{fix::advice("Read the trace lines of GetZorvanBaseDir in the operator's guide's "
                                "troubleshooting table.")};
     }},
};

const Row &rowOf(const std::string &key) {
  for (const Row &row : kRows)
    if (key == row.key) return row;
  return kRows[sizeof kRows / sizeof kRows[0] - 1];
}

std::string fill(const char *text, const CauseValues &values) {
  std::string out;
  for (const char *p = text; *p != '\0'; ++p) {
    if (*p == '{') {
      const char *close = p + 1;
      while (*close != '\0' && *close != '}' && *close != ' ' && *close != '{') ++close;
      if (*close == '}') {
        auto found = values.find(std::string(p + 1, close));
        if (found != values.end()) {
          out += found->second;
          p = close;
          continue;
        }
      }
    }
    out += *p;
  }
  return out;
}


// The decision tree: each cause below is the key of its row, with its
// values put into v.


const char kKey[] = "dZORVANHOME";
const char kBlanks[] = " \t\r\n";

std::string lower(std::string text) {
  for (char &ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// Levenshtein distance, giving up (returning limit + 1) beyond limit.
std::size_t editDistance(const std::string &a, const std::string &b, std::size_t limit) {
  std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (gap > limit) return limit + 1;
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return std::min(row[b.size()], limit + 1);
}

// The first blank-separated token of line and the one after it.
void tokens(const std::string &line, const char *blanks, std::string &token, std::string &value) {
  std::size_t start = line.find_first_not_of(blanks), end = line.find_first_of(blanks, start);
  token = start == std::string::npos ? "" : line.substr(start, end == std::string::npos ? end : end - start);
  std::size_t v = end == std::string::npos ? end : line.find_first_not_of(blanks, end);
  value = v == std::string::npos ? "" : line.substr(v, line.find_first_of(blanks, v) - v);
}

// How a key token nearly is dZORVANHOME, "" when it is not near (or is
// the key): the library matches the key exactly, so a line that differs in
// case, by a character or two, or joins key and value with '=' is
// silently skipped. Naming that line is worth more than "add the line".
std::string howItMisses(const std::string &token, std::string &value) {
  std::size_t equals = token.find('=');
  if (equals != std::string::npos) {
    if (editDistance(lower(token.substr(0, equals)), lower(kKey), 2) > 2) return "";
    value = token.substr(equals + 1);
    return "the key is joined to its value with '=', but only 'dZORVANHOME <home>' (key, blank, value) "
           "is read";
  }
  if (token == kKey) return "";
  if (lower(token) == lower(kKey))
    return "the key's case differs; the library reads only dZORVANHOME, case-sensitively";
  return editDistance(token, kKey, 2) <= 2 ? "the key is misspelt; the library reads only dZORVANHOME" : "";
}

// What the properties file says about dZORVANHOME, read the way the
// library reads it: the first line whose first token is the key decides;
// before it, the first line whose key nearly is the key.
struct PropertiesReading {
  int keyLine = 0;  // 1-based line of the first key line, 0 when none
  bool hasValue = false;
  int missLine = 0;   // the first line that almost is the key line, 0 when none
  std::string text;   // that line as written
  std::string why;    // how it misses
  std::string value;  // the home it meant, "<home directory>" when none
};
PropertiesReading readProperties(const std::string &path) {
  PropertiesReading r;
  // A path out of a trace may name anything; only a regular file is read.
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return r;
  std::ifstream in(path, std::ios::binary);
  std::string line, token, value;
  for (int number = 1; std::getline(in, line); ++number) {
    tokens(line, " \t", token, value);
    if (token == kKey) {
      r.keyLine = number;
      r.hasValue = !value.empty();
      return r;
    }
    tokens(line, kBlanks, token, value);
    std::string why = r.missLine == 0 && !token.empty() ? howItMisses(token, value) : "";
    if (why.empty()) continue;
    r.missLine = number;
    r.text = line.substr(0, line.find_last_not_of("\r\n") + 1);
    r.why = why;
    r.value = value.empty() ? "<home directory>" : value;
  }
  return r;
}

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> directoriesIn(const std::string &dir) {
  std::vector<std::string> names;
  for (const std::string &name : namesIn(dir))
    if (isDirectory(dir + "/" + name)) names.push_back(name);
  return names;
}

CauseValues valuesOf(const Facts &f, const Context &c) {
  CauseValues v = checkValues(c);
  v.insert({{"registry", f.registry},       {"origin", c.registryOrigin},
            {"user", c.user},               {"instances", f.registry + "/Zorvan"},
            {"instance", f.instance},       {"properties", f.propertiesPath},
            {"home", f.home},               {"lib", f.libraryPath},
            {"limit", std::to_string(ZORVAN_PATH_MAX - 1)},
            {"pid", c.pid != 0 ? std::to_string(c.pid) : "<pid of a DB2 engine process of " + c.user + ">"}});
  return v;
}

// Whether the mode bits let the user do what bit (S_IXOTH, ...) asks, as
// the kernel decides for a process of that user without privileges: for a
// trace, whose writer cannot be asked.
bool modeAllows(const struct stat &st, uid_t uid, unsigned bit) {
  if (st.st_uid == uid) return (st.st_mode & (bit << 6)) != 0;
  if (const trust::Accounts::User *user = accounts().user(uid))
    for (gid_t group : accounts().groupsOf(*user))
      if (group == st.st_gid) return (st.st_mode & (bit << 3)) != 0;
  return (st.st_mode & bit) != 0;
}

// Whether the user discovery ran as may execute path (search, for a
// directory): asked as that user live, read off the mode bits for a trace.
bool mayExecute(const Context &c, const std::string &path, const struct stat &st) {
  if (c.live) return access(path.c_str(), X_OK) == 0 || errno != EACCES;
  return c.uid == 0 || modeAllows(st, c.uid, S_IXOTH);
}

// The first directory above target that the user may not search, put
// into v; false when there is none.
bool blocked(const Context &c, const std::string &target, CauseValues &v) {
  if (!c.live && c.uid == 0) return false;
  for (std::size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    std::string dir = target.substr(0, slash);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || mayExecute(c, dir, st)) continue;
    v["target"] = target;
    v["dir"] = dir;
    v["dirOwner"] = userName(st.st_uid);
    v["dirMode"] = trust::modeText(st.st_mode);
    return true;
  }
  return false;
}

// The directory a file system is mounted on that holds path: the topmost
// directory above it on the same device.
std::string mountPoint(const std::string &path) {
  struct stat st, up;
  std::string at = path;
  if (stat(path.c_str(), &st) != 0) return path;
  while (at != "/") {
    std::size_t slash = at.rfind('/');
    std::string parent = slash == 0 || slash == std::string::npos ? "/" : at.substr(0, slash);
    if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    at = parent;
  }
  return at;
}

// A directory the user cannot search, on a way the user chose (a QXREG, or
// a properties file others than root may write): no access is granted on
// the user's word, which could name any private directory.
std::string chosenBy(const Context &c, CauseValues &v, const std::string &properties) {
  if (c.registryFromVariable) v["chosen"] = "QXREG";
  else if (!properties.empty() && whoMayAct(c.user, properties) != "root") v["chosen"] = properties;
  return "directory-not-searchable";
}

// A directory beside path's missing last component, within two edits of it.
std::string similarSibling(const std::string &path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::size_t slash = trimmed.rfind('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  for (const std::string &entry : directoriesIn(parent))
    if (entry != name && editDistance(entry, name, 2) <= 2)
      return (parent == "/" ? "" : parent) + "/" + entry;
  return "";
}

// Each cause below is the key of its row in the table of causes, with its
// values put into v.

// The registry itself is missing: the cause behind every later failure;
// "" when it is there.
std::string registryMissing(const Facts &f, const Context &c, CauseValues &v) {
  struct stat st;
  if (stat(f.registry.c_str(), &st) == 0 ? S_ISDIR(st.st_mode) : errno != ENOENT) return "";
  std::string similar = c.registryFromVariable ? similarSibling(f.registry) : "";
  bool useDefault = c.registryFromVariable && f.registry != ZORVAN_DEFAULT_REGISTRY &&
                    isDirectory(ZORVAN_DEFAULT_REGISTRY);
  v["similar"] = similar;
  v.given = setVariableFix(c.login, "QXREG", useDefault        ? ""
                                             : !similar.empty() ? similar
                                                                : "<registry directory>");
  return useDefault ? "registry-mistyped/default" : !similar.empty() ? "registry-mistyped/similar" : "registry-missing";
}

std::string noInstance(const Facts &f, const Context &c, CauseValues &v) {
  std::string missing = registryMissing(f, c, v);
  if (!missing.empty()) return missing;
  if (!f.scanOpened && f.scanOpenErrno == ENOENT) {
    v.given = setVariableFix(c.login, "QXREG", "<registry directory>");
    return "instances-directory-missing";
  }
  if (!f.scanOpened && blocked(c, f.registry + "/Zorvan/", v)) return chosenBy(c, v, "");
  if (!f.scanOpened) {
    v["error"] = strerror(f.scanOpenErrno);
    return "instances-directory-unreadable";
  }
  v["example"] = "<instance>";
  for (const ScanEntry &e : f.scan)
    if (e.reason == "no Db2Agent file in it") {
      v["example"] = e.name;
      break;
    }
  v.given = setVariableFix(c.login, "ZORVAN_INST", v["example"]);
  v["scanned"] = f.scan.empty() ? " and " + f.registry + "/Zorvan holds no other entry"
                                : ", and none of the " + std::to_string(f.scan.size()) +
                                      " entries scanned is a directory holding Db2Agent";
  return "no-instance-with-agent";
}

std::string unregistered(const Facts &f, const Context &c, CauseValues &v) {
  if (f.instanceOrigin != "ZORVAN_INST")
    return f.instanceOrigin == "vendor options" ? "instance-not-registered/vendor-options" : "instance-not-registered";
  std::vector<std::string> registered = directoriesIn(f.registry + "/Zorvan");
  std::string list, nearMiss, best = registered.empty() ? "<instance>" : registered[0];
  for (const std::string &name : registered) {
    list += (list.empty() ? "" : ", ") + name;
    if (lower(name) == lower(f.instance)) {
      nearMiss = " '" + name + "' differs only in case (instance names are case-sensitive).";
      best = name;
    }
  }
  v["registered"] = list.empty() ? "none" : list;
  v["nearMiss"] = nearMiss;
  v.given = setVariableFix(c.login, "ZORVAN_INST", best);
  return "instance-not-registered/variable";
}

std::string noProperties(const Facts &f, const Context &c, CauseValues &v) {
  std::string missing = registryMissing(f, c, v);
  if (!missing.empty()) return missing;
  if (f.instanceOrigin == "ZORVAN_INST" && f.instance.empty()) {
    v.given = setVariableFix(c.login, "ZORVAN_INST", "");
    return "instance-variable-empty";
  }
  FILE *file = c.live ? fopen(f.propertiesPath.c_str(), "re") : nullptr;
  int error = file == nullptr ? errno : 0;
  if (file != nullptr) fclose(file);
  if ((!c.live || error == EACCES) && blocked(c, f.propertiesPath, v)) return chosenBy(c, v, "");
  v["instanceDir"] = f.registry + "/Zorvan/" + f.instance;
  struct stat st;
  if (!isDirectory(v["instanceDir"])) return unregistered(f, c, v);
  if (stat(f.propertiesPath.c_str(), &st) != 0 && errno == ENOENT) return "properties-missing";
  if (!c.live) return "properties-not-opened";
  v["error"] = strerror(error != 0 ? error : EACCES);
  return "properties-unreadable";
}

// The key line, or the line that nearly is it; a note instead when the
// file has the key now (only a trace can show a file changed since).
Problem keyLine(const Facts &f, CauseValues &v) {
  PropertiesReading p = readProperties(f.propertiesPath);
  v["line"] = std::to_string(p.keyLine != 0 && !p.hasValue ? p.keyLine : p.missLine);
  v["text"] = fix::visible(p.text);
  v["why"] = p.why;
  v["value"] = p.value;
  if (p.keyLine != 0 && !p.hasValue) return describe("key-without-value", v);
  if (p.missLine != 0) return describe("key-near-miss", v);
  if (!p.hasValue) return describe("key-missing", v);
  return describe("key-changed-since", v);
}

std::string notAccessible(const Facts &f, const Context &c, CauseValues &v) {
  const std::string &lib = f.libraryPath;
  if (lib.find('\r') != std::string::npos) return "crlf-line-ends";
  int error = c.live && access(lib.c_str(), X_OK) != 0 ? errno : 0;
  if ((!c.live || error == EACCES) && blocked(c, lib, v)) return chosenBy(c, v, f.propertiesPath);
  struct stat st;
  bool present = stat(lib.c_str(), &st) == 0;
  int statError = present ? 0 : errno;
  if (present) {
    v["mode"] = trust::modeText(st.st_mode);
    v["owner"] = userName(st.st_uid);
  }
  v["error"] = strerror(error != 0 ? error : statError != 0 ? statError : EACCES);
  if (!present && statError == ENOENT) return isDirectory(f.home) ? "backend-missing" : "home-missing";
  if (present && !S_ISREG(st.st_mode)) return "backend-not-a-file";
  if (present && (st.st_mode & 0111) == 0) return "backend-not-executable";
  // A file system mounted noexec fails every execute test, whatever the mode.
  struct statvfs fs;
  if (present && statvfs(lib.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0) {
    v["mount"] = mountPoint(lib);
    return "backend-on-noexec-mount";
  }
  if (!c.live && (c.uid == 0 || mayExecute(c, lib, st))) return "backend-not-accessible";
  // A mode that lets the user execute it, refused all the same: an access
  // control list or a security module decides.
  if (present && error == EACCES && (c.uid == 0 || modeAllows(st, c.uid, S_IXOTH))) return "backend-execute-denied";
  if (present && (error == EACCES || !c.live)) return "backend-not-executable-for-user";
  return "backend-fails-test";
}

// What a process with raised privileges ignored of its environment: a
// warning when it binds all the same, else the first causes.
std::vector<Problem> explainIgnored(const Facts &f, const Context &c, CauseValues v) {
  std::vector<Problem> out;
  if (!f.qxregIgnored.empty()) {
    char real[PATH_MAX];
    v["qxreg"] = f.qxregIgnored;
    v["reason"] = f.qxregReason;
    const std::string &dir = f.qxregFaultDir;
    struct stat st;
    // A directory others rely on stays as it is: the registry moves out.
    bool shared = dir == "/" || dir == "/tmp" || dir == "/var/tmp" ||
                  (stat(dir.c_str(), &st) == 0 && (st.st_mode & S_ISVTX) != 0);
    v.given = dir.empty() ? setVariableFix(c.login, "QXREG", realpath(f.qxregIgnored.c_str(), real) != nullptr
                                                                  ? std::string(real) : "<registry directory>")
              : shared    ? fix::Fixes{fix::advice("Move the registry out of " + dir +
                                                   ", which others share, into a directory only root can change, "
                                                   "and name that in QXREG.")}
                          : fix::Fixes{fix::command("root", {"chown", "root", dir}),
                                       fix::command("root", {"chmod", "go-w", dir})};
    if (dir.empty())
      v.given.push_back(fix::advice("Or register the instance under " ZORVAN_DEFAULT_REGISTRY "/Zorvan."));
    out.push_back(describe(dir.empty() ? "qxreg-ignored" : "qxreg-ignored/directory", v));
  }
  if (!f.instanceIgnored.empty()) {
    std::string name = f.instanceIgnored.substr(f.instanceIgnored.rfind('/') + 1);
    v["value"] = f.instanceIgnored;
    v.given = setVariableFix(c.login, "ZORVAN_INST", isDirectory(f.registry + "/Zorvan/" + name) ? name : "");
    out.push_back(describe(f.instanceIgnoredFrom == "vendor options" ? "instance-variable-ignored/vendor-options"
                                                                     : "instance-variable-ignored",
                           v));
  }
  for (Problem &p : out)
    if (f.stage == Stage::Bound) p.severity = Severity::Warning;
  return out;
}

// Why discovery stopped: the one cause.
Problem stopped(const Facts &f, const Context &c, CauseValues &v) {
  // A value from a login file with Windows line ends: its carriage return
  // is the cause, named, and never pasted into a command.
  const std::pair<const char *, std::string> values[] = {
      {"QXREG", c.registryFromVariable ? f.registry : ""},
      {"ZORVAN_INST", f.instanceOrigin == "ZORVAN_INST" ? f.instance : ""}};
  for (const auto &named : values) {
    if (named.second.empty() || named.second.back() != '\r') continue;
    v["name"] = named.first;
    v["shown"] = named.second;
    auto set = c.login.settings.find(named.first);
    v.given = {set != c.login.settings.end()
                   ? actOn(c.user, set->second.file, {"sed", "-i", "s/\\r$//", set->second.file})
                   : fix::advice("Remove the carriage return where " + std::string(named.first) +
                                 " is set, then restart the DB2 instance.")};
    return describe("carriage-return", v);
  }
  if (!c.live && !f.registry.empty() && f.registry[0] != '/') {
    v.given = setVariableFix(c.login, "QXREG", "<absolute registry directory>");
    return describe("registry-relative", v);
  }
  switch (f.stage) {
    case Stage::NoInstance: return describe(noInstance(f, c, v), v);
    case Stage::NoProperties: return describe(noProperties(f, c, v), v);
    case Stage::PathTooLong: return describe("properties-path-too-long", v);
    case Stage::NoHome: return keyLine(f, v);
    case Stage::HomeTooLong: return describe("home-too-long", v);
    case Stage::NotAccessible: return describe(notAccessible(f, c, v), v);
    default: return describe("discovery-failed", v);
  }
}

}  // namespace

Problem describe(const std::string &key, const CauseValues &values) {
  const Row &row = rowOf(key);
  std::string id = row.key;
  Problem p{row.severity, id.substr(0, id.find('/')), fill(row.text, values), {}};
  for (const fix::Fix &f : row.fixes(values)) p.fixes.push_back(fix::render(f));
  return p;
}

std::string absolute(const std::string &path, const std::string &cwd) {
  return path.empty() || path[0] == '/' ? path : (cwd == "/" ? "" : cwd) + "/" + path;
}

std::vector<std::string> searchPath(const Context &c, const std::string &baseDir) {
  const char *value = getauxval(AT_SECURE) == 0 && c.ldLibraryPathSet ? c.ldLibraryPath.c_str() : nullptr;
  std::string all = value != nullptr ? value : "";
  std::vector<std::string> dirs;
  for (std::size_t at = 0, end = 0; value != nullptr && at <= all.size(); at = end + 1) {
    end = std::min(all.find(':', at), all.size());
    dirs.push_back(absolute(end == at ? "." : all.substr(at, end - at), baseDir));
  }
  return dirs;
}

std::string whoMayAct(const std::string &user, const std::string &path) {
  auto onlyBy = [&](uid_t uid, const std::string &name) {
    return trust::checkTrustChain({uid, name}, {{trust::Role::Backend, path}}, accounts()).findings().empty();
  };
  if (onlyBy(0, "root")) return "root";
  const trust::Accounts::User *owner = accounts().named(user);
  struct stat st;
  // The user's own: the path, or the directory that holds it (where a
  // file may be replaced, as sed -i does).
  auto owns = [&](const std::string &at) {
    return lstat(at.c_str(), &st) == 0 && st.st_uid == owner->uid && !S_ISLNK(st.st_mode);
  };
  if (owner != nullptr && owner->uid != 0 && (owns(path) || owns(path.substr(0, path.rfind('/')))) &&
      onlyBy(owner->uid, owner->name))
    return owner->name;
  return "";
}

fix::Fix actOn(const std::string &user, const std::string &path, const std::vector<std::string> &argv) {
  std::string who = whoMayAct(user, path);
  if (!who.empty()) return fix::command(who, argv);
  return fix::advice("No command is offered: others than root and " + user + " can change " + path +
                     " or a directory on its way, and could point a pasted command at another file; correct it "
                     "by hand once you have seen where it leads.");
}

CauseValues checkValues(const Context &c) {
  std::string flag = c.pid != 0 ? "--pid" : "--as-user", value = c.pid != 0 ? std::to_string(c.pid) : c.user;
  return {{"check", flag + " " + value}, {"checkFlag", flag}, {"checkValue", value}};
}

std::vector<Problem> explainDiscovery(const Facts &f, const Context &c) {
  CauseValues v = valuesOf(f, c);
  std::vector<Problem> out = explainIgnored(f, c, v);
  // An ignored QXREG is the cause; what the default registry lacks is not.
  if (f.stage != Stage::Bound && f.qxregIgnored.empty()) out.push_back(stopped(f, c, v));
  return out;
}

std::vector<Problem> explainLoad(const Facts &f, const Context &c) {
  std::vector<Problem> out;
  CauseValues v = valuesOf(f, c);
  v["error"] = f.loadError;
  for (const std::string &symbol : f.missing) v["missing"] += (v["missing"].empty() ? "" : ", ") + symbol;
  if (!f.loadTried) return out;
  // Discovery failed first: the load fails for the cause already named
  // (a directory closed on the way, a mode, a carriage return in the
  // path), and is no cause of its own.
  if (f.stage != Stage::Bound && (!f.loaded || !f.missing.empty())) {
    out.push_back(describe("load-follows", v));
    return out;
  }
  struct stat st;
  // What the loader could not map to run lies on a file system mounted
  // noexec: the loader names it, found where this process's search does.
  bool unmapped = !f.loaded && f.loadError.find("failed to map segment from shared object") != std::string::npos;
  std::string dep = f.loadError.substr(0, f.loadError.find(':'));
  for (const std::string &dir : unmapped && c.live && dep.find('/') == std::string::npos ? searchPath(c, f.baseDir)
                                                                                          : std::vector<std::string>{})
    if (stat((dir + "/" + dep).c_str(), &st) == 0) {
      dep = dir + "/" + dep;
      break;
    }
  v["dep"] = dep;
  v["mount"] = mountPoint(dep);
  if (!f.loaded && c.live && stat(f.libraryPath.c_str(), &st) != 0)
    out.push_back(describe("backend-missing", v));
  else if (unmapped && dep.find('/') != std::string::npos)
    out.push_back(describe("backend-load-noexec", v));
  else if (!f.loaded)
    out.push_back(describe("backend-load-failed", v));
  else if (!f.missing.empty())
    out.push_back(describe("backend-lacks-entry-points", v));
  return out;
}

}  // namespace doctor
