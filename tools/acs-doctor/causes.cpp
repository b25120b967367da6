// The one table of causes: each row a stable id, its severity, its wording
// and the fixes it prints. A fix is built from typed parts (fix.h), never
// formatted from text: whatever a path or a value holds, a printed
// command does what it says and no more.
#include <stdlib.h>
#include <unistd.h>

#include "explain.h"
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
  fixes.push_back(on(v, path, {"setfacl", "-m", "u:" + at(v, "user") + ":" + rights, path}));
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
     "QXREG is the relative path '{qxreg}', found from the working directory as {registry}; loading the "
     "back end moves the process into its base directory for good, so the process's next "
     "db2ACSInitialize looks for '{qxreg}' there.",
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

}  // namespace

const char *severityName(Severity severity) {
  static const char *const kNames[] = {"error", "warning", "note"};  // in the order of Severity
  return kNames[static_cast<int>(severity)];
}

Problem describe(const std::string &key, const CauseValues &values) {
  const Row &row = rowOf(key);
  std::string id = row.key;
  return {row.severity, fill(row.text, values), row.fixes(values), id.substr(0, id.find('/'))};
}

}  // namespace doctor
