#include "explain.h"
#include "zorvan/discovery.h"

namespace doctor {

namespace {

struct Row {
  const char *key;  // the cause's stable name, and for a variant "/" and what it differs by
  const char *text;
  const char *fix;
};

// Fixes are commands for whoever reads them; those that need root say so.
const Row kRows[] = {
    {"registry-missing",
     "The registry directory {registry} ({origin}) does not exist, so no instance can be found.",
     "{qxregFix} Or as root: mkdir -p {registry}/Zorvan and register the instance there."},
    {"registry-relative",
     "QXREG is the relative path '{registry}': the process looked it up in its working directory, "
     "which a trace does not show, so the files it read cannot be found from here.",
     "Check the process itself: acs-doctor --pid {pid}; and give "
     "QXREG an absolute path: {qxregFix}"},
    {"registry-relative/live",
     "QXREG is the relative path '{qxreg}', found from the working directory as {registry}; loading the "
     "back end moves the process into its base directory for good, so the process's next "
     "db2ACSInitialize looks for '{qxreg}' there.",
     "Give QXREG the absolute path: {qxregFix}"},
    {"registry-mistyped/default",
     "QXREG names {registry}, which does not exist ({origin}); the default registry "
     ZORVAN_DEFAULT_REGISTRY " does exist.",
     "{qxregFix}"},
    {"registry-mistyped/similar",
     "QXREG names {registry}, which does not exist ({origin}); {similar} does, with a similar name.",
     "{qxregFix}"},
    {"qxreg-ignored/directory",
     "QXREG={qxreg} is ignored: DB2's process has raised privileges and {reason}, so the library uses "
     ZORVAN_DEFAULT_REGISTRY " instead.",
     "As root: chown root {dir} && chmod go-w {dir}, then check again (or register the instance under "
     ZORVAN_DEFAULT_REGISTRY "/Zorvan)."},
    {"qxreg-ignored",
     "QXREG={qxreg} is ignored: DB2's process has raised privileges and {reason}, so the library uses "
     ZORVAN_DEFAULT_REGISTRY " instead.",
     "{qxregFix} (Or register the instance under " ZORVAN_DEFAULT_REGISTRY "/Zorvan.)"},
    {"instance-variable-ignored",
     "ZORVAN_INST={value} is ignored: DB2's process has raised privileges and takes only a plain "
     "instance name, so the library looks for the first instance instead.",
     "{instFix}"},
    {"instances-directory-missing",
     "The registry {registry} has no Zorvan directory ({instances} is missing), so no instance "
     "can be found.",
     "QXREG names the directory that holds Zorvan/: {qxregFix} Or as root: mkdir {instances} and "
     "register the instance there."},
    {"instances-directory-unreadable",
     "The instances directory {instances} cannot be read by {user}: {error}.",
     "As root: chmod 755 {instances}"},
    {"directory-not-searchable",
     "{user} cannot reach {target}: the directory {dir} (owner {dirOwner}, mode {dirMode}) is not "
     "searchable for {user}.",
     "As root: chmod o+x {dir} (or chgrp a group of {user} and chmod g+x {dir})"},
    {"no-instance-with-agent",
     "No registered instance has the DB2 agent installed: ZORVAN_INST is unset, "
     "{instances}/Instance001/Db2Agent does not exist{scanned}.",
     "As root: touch {instances}/{example}/Db2Agent (or name the instance: {instFix})"},
    {"instance-not-registered/variable",
     "Instance '{instance}' (from ZORVAN_INST) is not registered: {instanceDir} does "
     "not exist; registered under {instances}: {registered}.{nearMiss}",
     "{instFix}"},
    {"instance-not-registered/vendor-options",
     "Instance '{instance}' (from vendor options) is not registered: {instanceDir} does not exist.",
     "Correct the vmName in the options DB2 passes to the library, or register instance "
     "{instance} under {registry}/Zorvan."},
    {"instance-not-registered",
     "Instance '{instance}' is not registered: {instanceDir} does not exist.",
     "Register instance {instance} under {registry}/Zorvan."},
    {"instance-variable-empty",
     "ZORVAN_INST is set but empty; an empty value still counts, so no instance is scanned for "
     "and the properties path becomes {properties}.",
     "{instFix}"},
    {"properties-missing",
     "The instance's properties file {properties} does not exist.",
     "As root: echo 'dZORVANHOME <home directory>' > {properties} (the directory holding "
     "Base/" ZORVAN_BACKEND_LIBRARY ")."},
    {"properties-unreadable",
     "The properties file {properties} cannot be opened by {user}: {error}.",
     "As root: chmod 644 {properties}"},
    {"properties-not-opened",
     "The properties file {properties} could not be opened (missing, or not readable for the "
     "DB2 instance owner).",
     "Check as the instance owner: acs-doctor {check} (the file must be readable for "
     "{user}; as root: chmod 644 {properties})."},
    {"properties-path-too-long",
     "The properties path for instance '{instance}' under {registry} is longer than {limit} bytes.",
     "Use a shorter registry path (QXREG) or instance name."},
    {"key-without-value",
     "The first dZORVANHOME line of {properties} (line {line}) has no value; it decides, later "
     "lines are not read.",
     "As root: sed -i '{line}s|.*|dZORVANHOME <home directory>|' {properties}"},
    {"key-near-miss",
     "{properties} line {line} reads '{text}': {why}, so no home directory is known.",
     "As root: sed -i '{line}s|.*|dZORVANHOME {value}|' {properties}"},
    {"key-missing",
     "{properties} has no line starting with dZORVANHOME, so no home directory is known.",
     "As root: echo 'dZORVANHOME <home directory>' >> {properties} (the directory holding "
     "Base/" ZORVAN_BACKEND_LIBRARY ")."},
    {"crlf-line-ends",
     "{properties} has Windows (CR LF) line endings: the home read is '{home}', so the back end "
     "is looked for at '{lib}'.",
     "Strip the carriage returns: sed -i 's/\\r$//' {properties}"},
    {"home-missing",
     "The home directory {home} named by dZORVANHOME in {properties} does not exist.",
     "As root: sed -i 's|^dZORVANHOME .*|dZORVANHOME <home directory>|' {properties} (or "
     "install the product at {home})."},
    {"home-too-long",
     "dZORVANHOME in {properties} is longer than the 1003 characters the library takes.",
     "Install the product under a shorter home directory."},
    {"backend-missing", "The back end {lib} does not exist.",
     "As root: install -m 755 <back end> {lib}"},
    {"backend-not-a-file", "The back end {lib} is not a regular file.",
     "As root: install -m 755 <back end> {lib}"},
    {"backend-not-executable",
     "The back end {lib} is not executable (mode {mode}); the library insists on an executable "
     "back end.",
     "As root: chmod 755 {lib}"},
    {"backend-on-noexec-mount",
     "The back end {lib} is on a file system mounted noexec: nothing there passes the execute test, whatever its "
     "mode ({mode}).",
     "As root: mount -o remount,exec \"$(findmnt -no TARGET -T {lib})\" (and take noexec out of its line in "
     "/etc/fstab), or install the product's home on a file system mounted without noexec."},
    {"backend-execute-denied",
     "The back end {lib} has mode {mode} (owner {owner}), which lets {user} execute it, but the execute test fails "
     "all the same ({error}): an access control list or a security module (SELinux, AppArmor) denies it.",
     "As root: setfacl -b {lib} removes an access control list (getfacl {lib} shows it); a security module's "
     "denial is in its log (ausearch -m avc -ts recent, or journalctl -k | grep -i apparmor)."},
    {"backend-not-executable-for-user",
     "The back end {lib} fails the execute test for {user} (mode {mode}, owner {owner}): it must "
     "be executable for {user}.",
     "As root: chmod 755 {lib}"},
    {"backend-fails-test",
     "The back end {lib} fails the execute test for {user}: {error}.",
     "As root: install -m 755 <back end> {lib}"},
    {"backend-not-accessible",
     "The back end {lib} failed the execute test (missing, not executable, or a directory above "
     "it not searchable for the DB2 instance owner).",
     "Check as the instance owner: acs-doctor {check}"},
    {"backend-load-failed",
     "The back end {lib} was found but failed to load: {error}",
     "Install the back end's missing libraries, or a back end built for this platform (check: "
     "ldd {lib})."},
    {"backend-load-noexec",
     "The back end {lib} was found but failed to load: {error}. The loader could not map {dep} to run: it lies on a "
     "file system mounted noexec.",
     "As root: mount -o remount,exec \"$(findmnt -no TARGET -T {dep})\" (and take noexec out of its line in "
     "/etc/fstab), or move {dep} to a file system mounted without noexec."},
    {"backend-lacks-entry-points",
     "The back end {lib} lacks {missing}: db2ACSInitialize would return 11.",
     "Install a back end that exports all fourteen db2ACS*pp entry points (check: nm -D {lib})."},
    {"backend-killed-the-process",
     "Loading the back end {lib} killed the checking process with signal {signal} ({signalName}): "
     "DB2's process would die here.",
     "Keep DB2 from loading it until its vendor has fixed its initialisation (as root: chmod a-x "
     "{lib}, so that db2ACSInitialize returns 11 instead), and look at it with: ldd {lib}"},
    {"backend-hangs-while-loading",
     "Loading the back end {lib} did not finish within {seconds} s: DB2's process would hang here, in "
     "db2ACSInitialize.",
     "Keep DB2 from loading it until its vendor has fixed its initialisation (as root: chmod a-x {lib}, so "
     "that db2ACSInitialize returns 11 instead); to wait longer: acs-doctor --load --timeout SECONDS"},
    {"call-unfinished/loading",
     "{function} stopped while loading the back end {lib}: no line follows \"Library to be loaded\". If "
     "DB2's process died or hung then, the back end's own initialisation did it.",
     "Load it the same way, as the instance owner: acs-doctor {check} --load"},
    {"call-unfinished",
     "{function} has no leaving line: the process was still in it when the trace was read, or it died "
     "or hung there.",
     "If the operation hung, check for a debug marker that holds it: acs-doctor {check}"},
    {"discovery-failed",
     "Discovery failed in an unexpected way (run with --verbose for the library's trace).",
     "Read the trace lines of GetZorvanBaseDir in the operator's guide's troubleshooting table."},
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
  return {Severity::Error, fill(row.text, values), fill(row.fix, values), id.substr(0, id.find('/'))};
}

}  // namespace doctor
