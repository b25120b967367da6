#include "checking_process.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "causes.h"
#include "db2acs_protocol.h"
#include "process_run.h"
#include "report.h"
#include "subject.h"
#include "trust_chain.h"
#include "zorvan/acs_types.h"
#include "zorvan/discovery.h"
#include "zorvan/tmp_rules.h"
#include "zorvan/trace.h"
#include "zorvan/trace_sink.h"

namespace doctor {

namespace {

using nlohmann::json;

const char kSystemPreload[] = "/etc/ld.so.preload";
// The load process's report: the last line that starts with it.
const char kLoadReport[] = "acs-doctor-load-report ";

void collect(const char *message, void *context) {
  static_cast<std::vector<std::string> *>(context)->emplace_back(message);
}

// Every path from the library DB2 loads to the back end, in discovery's
// order, by its name in the report's "paths".
const std::pair<trust::Role, const char *> kPaths[] = {
    {trust::Role::Library, "acs_library"},        {trust::Role::Installed, "installed_library"},
    {trust::Role::Registry, "registry"},          {trust::Role::Instances, "instances"},
    {trust::Role::Instance, "instance_dir"},      {trust::Role::InstanceBase, "instance_base"},
    {trust::Role::Properties, "properties"},      {trust::Role::Home, "home"},
    {trust::Role::HomeBase, "base_dir"},          {trust::Role::Backend, "library"}};

// The trust chain's paths: those discovery reached (an empty one was not
// reached), and the directories the dynamic loader searches for every
// library the back end needs, each with the login-file fix that takes it
// out of LD_LIBRARY_PATH.
std::vector<trust::Path> trustPaths(const Report &r, const std::string &baseDir, const Context &c) {
  std::vector<trust::Path> paths;
  for (std::size_t i = 0; i < r.paths.size(); ++i)
    if (!r.paths[i].second.empty()) paths.push_back({kPaths[i].first, r.paths[i].second});
  std::vector<std::string> dirs = searchPath(c, baseDir);
  for (const std::string &dir : dirs) {
    std::string rest;
    for (const std::string &other : dirs)
      if (other != dir) rest += (rest.empty() ? "" : ":") + other;
    paths.push_back({trust::Role::SearchPath, dir, setVariableFix(c.login, "LD_LIBRARY_PATH", rest)});
  }
  return paths;
}

// What the subject's environment and the system put into DB2's process
// before the back end: the libraries LD_PRELOAD and LD_AUDIT name (blanks
// or colons between them) and /etc/ld.so.preload with those it names.
// They are judged here, never loaded: the check itself starts without
// them. A name without a '/' is found where LD_LIBRARY_PATH leads; in the
// system's directories it is root's. A process with raised privileges
// ignores the variables.
void addPreloads(const Context &c, const json &loader, const std::string &cwd, std::vector<trust::Path> &paths) {
  std::vector<std::string> dirs = searchPath(c, cwd);
  auto judge = [&](trust::Role role, const std::string &list) {
    for (std::size_t at = 0, end = 0; at < list.size(); at = end + 1) {
      end = std::min(list.find_first_of(" \t\n:", at), list.size());
      std::string name = list.substr(at, end - at), path = name.find('/') != std::string::npos ? absolute(name, cwd) : "";
      for (std::size_t i = 0; !name.empty() && path.empty() && i < dirs.size(); ++i)
        if (access((dirs[i] + "/" + name).c_str(), F_OK) == 0) path = dirs[i] + "/" + name;
      if (!path.empty()) paths.push_back({role, path});
    }
  };
  if (getauxval(AT_SECURE) == 0) {
    judge(trust::Role::Preload, loader.value("LD_PRELOAD", ""));
    judge(trust::Role::Audit, loader.value("LD_AUDIT", ""));
  }
  std::string error, list = readFileBytes(kSystemPreload, error);
  paths.push_back({trust::Role::PreloadList, kSystemPreload});
  judge(trust::Role::SystemPreload, list);
}

// Who besides root and the effective user (whose privileges the back end
// gets) can change what DB2 runs: the chain, path by path, and each path
// someone else can change as an error with the chown/chmod that takes it
// away.
void judgeTrust(const std::vector<trust::Path> &paths, Report &r) {
  std::string owner = userName(geteuid());
  trust::TrustChain checked = trust::checkTrustChain({geteuid(), owner}, paths, accounts());
  std::vector<trust::Entry> found = checked.findings();
  r.chain.clear();
  r.outside = 0;
  for (const trust::Entry &e : checked.chain) {
    r.chain.push_back({e.path, e.role, e.kind, e.ownerName, e.groupName, e.mode, e.who, e.verdict});
    r.outside += e.outside ? 1 : 0;
  }
  r.trustWho = trust::whoCanChange(found);
  for (const trust::Entry &e : found) {
    CauseValues v = {{"path", e.path}, {"user", owner},
                     {"what", e.kind == "missing" ? " (" + e.role + ") is missing, and " + e.who
                                                  : " (" + e.role + ", owner " + e.ownerName + ":" + e.groupName +
                                                        ", mode " + e.mode + ") can be changed by " + e.who}};
    v.given = e.fixes;
    r.problems.push_back(describe("changeable-by-others", v));
  }
}

// Why the library would write no line into the trace file; "" when it would.
std::string traceRefusal(const struct stat &st, const std::string &user) {
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link, which the library never follows";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO, not a regular file";
  if (S_ISDIR(st.st_mode)) return "it is a directory, not a regular file";
  if (!S_ISREG(st.st_mode)) return "it is a device or socket, not a regular file";
  if (!zorvan::traceFileAccepts(st, getuid()))
    return "it belongs to " + userName(st.st_uid) + ", neither root nor " + user;
  int fd = open(ZORVAN_TRACE_PATH, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "it is not writable for " + user;
  close(fd);
  return "";
}

// The fixed /tmp paths that silently change a DB2 call: the debug markers
// that hold an entry point and the trace file that switches tracing on,
// judged with the library's own rules (zorvan/tmp_rules.h) for the user
// the checking process is. A trace file another user's processes trace
// into stays theirs: the fix lets both trace, and takes it from no one.
void inspectTmp(Report &r) {
  std::string user = userName(getuid());
  for (const EntryPoint &e : kEntryPoints) {
    struct stat st;
    if (lstat(e.marker, &st) != 0) continue;
    bool holds = zorvan::markerHolds(e.marker, getuid());
    std::string owner = userName(st.st_uid);
    r.markers.push_back({e.marker, e.function, owner, holds});
    // /tmp is sticky: only the marker's owner (or root) may remove it.
    r.problems.push_back(describe(holds ? "marker-holds" : "marker-of-another-user",
                                  {{"marker", e.marker}, {"owner", owner}, {"function", e.function}, {"user", user}}));
  }
  struct stat st;
  if (lstat(ZORVAN_TRACE_PATH, &st) != 0) return;
  std::string refusal = traceRefusal(st, user), owner = userName(st.st_uid);
  CauseValues v = {{"trace", ZORVAN_TRACE_PATH}, {"user", user}, {"owner", owner}, {"refusal", refusal}};
  r.traceState = refusal.empty() ? "on" : "off";
  r.traceDetail = refusal.empty() ? "every call of " + user + "'s DB2 processes appends to it" : refusal;
  bool theirs = S_ISREG(st.st_mode) && st.st_uid != 0 && st.st_uid != getuid();
  if (refusal.empty()) {
    r.problems.push_back(describe("tracing-on", v));
  } else if (theirs) {
    // Root's own processes are not DB2's: only a note for root.
    v.given = {fix::command("root", {"chown", "-h", "root", ZORVAN_TRACE_PATH}),
               fix::command("root", {"setfacl", "-P", "-m",
                                     "u:" + std::to_string(st.st_uid) + ":rw,u:" + std::to_string(getuid()) + ":rw",
                                     ZORVAN_TRACE_PATH})};
    Problem p = describe("tracing-is-another-users", v);
    if (getuid() == 0) {
      p.fixes.clear();
      p.severity = Severity::Note;
    }
    r.problems.push_back(p);
  } else if (S_ISREG(st.st_mode)) {
    v.given = {st.st_uid == getuid() ? fix::command(user, {"chmod", "u+w", ZORVAN_TRACE_PATH})
                                     : fix::command("root", {"setfacl", "-P", "-m", "u:" + std::to_string(getuid()) + ":rw",
                                                             ZORVAN_TRACE_PATH})};
    r.problems.push_back(describe("tracing-silently-off", v));
  } else {
    v.given = {fix::command("root", {"rm", "-f", ZORVAN_TRACE_PATH}),
               fix::command(user, {"install", "-m", "600", "/dev/null", ZORVAN_TRACE_PATH})};
    r.problems.push_back(describe("tracing-silently-off", v));
  }
}

// The directories the dynamic loader searches for the libraries an object
// (null: the program) needs, in its order.
std::vector<std::string> searchedFor(const char *object) {
  std::vector<std::string> dirs;
  void *handle = dlopen(object, RTLD_LAZY | RTLD_NOLOAD);
  Dl_serinfo size;
  if (handle != nullptr && dlinfo(handle, RTLD_DI_SERINFOSIZE, &size) == 0) {
    std::vector<Dl_serinfo> storage(size.dls_size / sizeof(Dl_serinfo) + 1);
    *storage.data() = size;
    if (dlinfo(handle, RTLD_DI_SERINFO, storage.data()) == 0)
      for (unsigned i = 0; i < storage[0].dls_cnt; ++i) dirs.push_back(storage[0].dls_serpath[i].dls_name);
  }
  if (handle != nullptr) dlclose(handle);
  return dirs;
}

// The directories a loaded object's run path (DT_RUNPATH, DT_RPATH) names,
// as the loader expanded them ($ORIGIN): those its search has beyond the
// program's own (LD_LIBRARY_PATH and the system's), put into dirs once.
void addRunPath(const std::string &object, std::vector<std::string> &dirs) {
  static const std::vector<std::string> program = searchedFor(nullptr);
  for (const std::string &dir : searchedFor(object.c_str()))
    if (std::find(program.begin(), program.end(), dir) == program.end() &&
        std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
      dirs.push_back(dir);
}

int addObject(struct dl_phdr_info *info, std::size_t, void *names) {
  if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
    static_cast<std::vector<std::string> *>(names)->push_back(info->dlpi_name);
  return 0;
}

// Runs the back end in a load process, as the subject with its whole
// environment (LD_PRELOAD and the rest, as DB2's process has it), and
// reads what it reports; the verdict is made here, where no code of the
// subject's has run. The libraries it brought along and the directories
// their run paths name join the trust chain's paths.
Load loadBackend(Facts &f, const Context &context, const json &loader, int seconds, int exe, const char *path,
                 std::vector<trust::Path> &paths, std::vector<Problem> &problems) {
  f.loadTried = true;
  std::vector<std::string> environment;
  for (char **entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  for (const auto &v : loader.items()) environment.push_back(v.key() + "=" + v.value().get<std::string>());
  auto start = [&]() {
    std::vector<char *> envp;
    for (std::string &e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string name = "acs-doctor", flag = kLoadFlag, base = f.baseDir, lib = f.libraryPath;
    char *argv[] = {&name[0], &flag[0], &base[0], &lib[0], nullptr};
    fexecve(exe, argv, envp.data());
    if (path != nullptr) execve(path, argv, envp.data());
  };
  ChildRun run;
  std::string error;
  bool ran = exe >= 0 && runChild(start, seconds, run, error, exe);
  std::size_t at = run.output.rfind(std::string("\n") + kLoadReport);
  json facts = at == std::string::npos ? json() : json::parse(run.output.substr(at + sizeof kLoadReport), nullptr, false);
  int signal = ran && WIFSIGNALED(run.status) && !run.timedOut ? WTERMSIG(run.status) : 0;
  Load load;
  load.path = f.libraryPath;
  load.found = access(f.libraryPath.c_str(), F_OK) == 0;
  if (!ran || !facts.is_object()) {
    // It died or hung in the back end: what it reports comes after.
    std::string ended = !ran            ? "could not start: " + (exe < 0 ? "its program cannot be opened" : error)
                        : run.timedOut  ? "did not finish within " + std::to_string(seconds) + " s"
                        : signal != 0   ? "was killed by signal " + std::to_string(signal)
                                        : "ended with status " + std::to_string(WEXITSTATUS(run.status));
    load.died = ran && !run.timedOut;
    load.hung = run.timedOut;
    load.error = "the checking process " + ended + " while loading it";
    load.signal = signal;
    load.signalName = signal != 0 ? strsignal(signal) : "";
    CauseValues v = checkValues(context);
    v.insert({{"lib", f.libraryPath}, {"seconds", std::to_string(seconds)}, {"error", load.error},
              {"signal", std::to_string(signal)}, {"signalName", load.signalName}});
    problems.insert(problems.begin(), describe(run.timedOut ? "backend-hangs-while-loading"
                                               : signal == 0  ? "backend-load-failed"
                                                              : "backend-killed-the-process",
                                               v));
    return load;
  }
  f.loaded = facts.value("loaded", false);
  f.loadError = f.loaded ? "" : facts.value("error", "dlopen failed");
  json resolved = facts.value("resolved", json::array());
  for (const EntryPoint &e : kEntryPoints) {
    if (e.symbol == nullptr) continue;
    bool found = std::find(resolved.begin(), resolved.end(), e.symbol) != resolved.end();
    if (f.loaded && !found) f.missing.push_back(e.symbol);
    load.entryPoints.emplace_back(e.symbol, found);
  }
  // What the back end brought along, each now a path DB2 runs, and the
  // directories their run paths have the loader search, as it searches
  // LD_LIBRARY_PATH: a library added there is found first.
  for (const json &library : facts.value("libraries", json::array())) {
    std::string dependency = absolute(library.get<std::string>(), f.baseDir);
    if (dependency == f.libraryPath) continue;
    load.libraries.push_back(dependency);
    paths.push_back({trust::Role::Dependency, dependency});
  }
  for (const json &dir : facts.value("run_path", json::array())) {
    std::string named = dir.get<std::string>();
    load.runPath.push_back(named);
    paths.push_back({trust::Role::RunPath, absolute(named, f.baseDir),
                     {fix::advice("Ask the back end's vendor for a build without " + named +
                                  " in its run path (readelf -d " + f.libraryPath + " shows it).")}});
  }
  load.loaded = f.loaded;
  load.complete = f.loaded && f.missing.empty();
  load.error = f.loadError;
  for (const Problem &p : explainLoad(f, context)) problems.push_back(p);
  return load;
}

// Enters the file system of process enter["pid"] (its mount namespace,
// root and working directory), then becomes its user; "" or why not.
std::string enterTree(const json &enter) {
  std::string proc = "/proc/" + std::to_string(enter.value("pid", 0));
  int cwd = open((proc + "/cwd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int ns = open((proc + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
  int root = open((proc + "/root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (cwd < 0 || ns < 0 || root < 0 || setns(ns, CLONE_NEWNS) != 0 || fchdir(root) != 0 || chroot(".") != 0 ||
      fchdir(cwd) != 0)
    return "cannot enter the file system process " + proc.substr(6) + " sees: " + strerror(errno);
  for (int fd : {cwd, ns, root}) close(fd);
  Subject s;
  s.uid = s.euid = enter.value("uid", 0u);
  s.gid = s.egid = enter.value("gid", 0u);
  s.groups = enter.value("groups", std::vector<gid_t>{});
  if (enter.value("switch", false) && !becomeSubject(s)) return std::string("cannot become its user: ") + strerror(errno);
  prctl(PR_SET_DUMPABLE, 0);
  return "";
}

// The login the doctor ran for the subject, as the request carries it.
Login loginFrom(const json &j) {
  Login l;
  l.user = j.value("user", "");
  l.home = j.value("home", "");
  l.first = j.value("first", "");
  l.csh = j.value("csh", false);
  const json settings = j.value("settings", json::object());
  for (const auto &s : settings.items())
    l.settings[s.key()] = {s.value().at("file").get<std::string>(), s.value().at("line").get<int>()};
  return l;
}

[[noreturn]] void send(const json &doc) {
  writeAll(1, doc.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  _exit(0);
}

}  // namespace

void discardTrace(const char *, void *) {}

void runChecker(const char *requestText) {
  // It runs as the subject, beside whatever the subject runs: not
  // dumpable, no other process of that user may trace it or write its
  // memory, and so none may decide its verdict.
  prctl(PR_SET_DUMPABLE, 0);
  json request = json::parse(requestText, nullptr, false);
  if (request.is_discarded()) _exit(2);
  // Read before any other process's tree is entered: names, and the
  // program the load process starts from.
  accounts();
  const char *path = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
  int exe = request.value("program_fd", -1);
  if (exe < 0 || fcntl(exe, F_SETFD, FD_CLOEXEC) != 0) exe = -1;
  if (request.contains("enter")) {
    std::string why = enterTree(request["enter"]);
    if (!why.empty()) send({{"error", why}});
  }
  Report r;
  // The dynamic loader's variables it was started without.
  const json loader = request.value("loader", json::object());
  Context context;
  context.ldLibraryPathSet = loader.contains("LD_LIBRARY_PATH");
  context.ldLibraryPath = loader.value("LD_LIBRARY_PATH", "");
  std::string cwd = request.value("cwd", "");
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
    r.cwdError = cwd + ": " + strerror(errno);
    // Where su - starts a login shell that cannot enter the home directory.
    if (request.value("source", "") == "login" && chdir("/") != 0) {
    }
  }
  char here[4096];
  r.identity = {userName(getuid()), getuid(), geteuid(), getgid(), getegid(), getauxval(AT_SECURE) != 0,
                ownGroups(), getcwd(here, sizeof here) != nullptr ? here : "", std::nullopt};
  if (context.ldLibraryPathSet) r.identity.ldLibraryPath = context.ldLibraryPath;
  cwd = r.identity.cwd;

  // Discovery once, as db2ACSInitialize makes it: the registry fixed, then
  // GetZorvanBaseDir with DB2's control block, zero-filled; with a vmName
  // it carries a vendor-options record, as when DB2 is driven with vendor
  // options.
  db2acs::ControlBlock cb{};
  unsigned char record[ACS_VENDOR_OPTIONS_SIZE] = {};
  if (request.value("vm_name_given", false)) {
    r.vmName = request.value("vm_name", "");
    r.vmName->copy(reinterpret_cast<char *>(record) + ACS_VO_VM_NAME, r.vmName->size());
    cb.options = {ACS_VENDOR_OPTIONS_SIZE, record};
  }
  char base[ZORVAN_PATH_MAX] = {};
  zorvanSetTraceSink(collect, &r.trace);
  fixRegistryDir();
  int result = GetZorvanBaseDir(base, sizeof base, reinterpret_cast<const db2ACS_CB *>(&cb));
  zorvanSetTraceSink(discardTrace, nullptr);

  Facts &f = r.discovery;
  f = interpret(r.trace);
  f.registry = qxReg;
  f.instancesDir = f.registry + "/Zorvan";
  if ((result == 0) != (f.stage == Stage::Bound)) f.stage = Stage::Other;
  for (std::string *p : {&f.registry, &f.instancesDir, &f.propertiesPath, &f.home, &f.baseDir, &f.libraryPath})
    *p = absolute(*p, cwd);

  const char *qxreg = getenv("QXREG");
  context.live = true;
  context.user = userName(getuid());
  context.uid = getuid();
  context.registryFromVariable = r.registryFromVariable = qxreg != nullptr && qxreg[0] != '\0' && f.qxregIgnored.empty();
  context.registryOrigin = !f.qxregIgnored.empty() ? "the default; QXREG is ignored with raised privileges"
                           : (context.registryFromVariable ? "QXREG " : "the default; QXREG ") +
                                 request["origins"].value("QXREG", "");
  // Where the login sets each variable: the doctor's run of it, or one of
  // this user's own; none for root checking as itself, which is not DB2,
  // nor in another process's tree, whose shell is not to be run.
  if (request.contains("login"))
    context.login = loginFrom(request["login"]);
  else if ((request.value("source", "") != "self" || getuid() != 0) && !request.contains("enter"))
    context.login = loginFilesOf(getuid());
  context.login.checked = true;

  r.problems = explainDiscovery(f, context);
  if (context.registryFromVariable && qxreg[0] != '/') {
    CauseValues v = {{"qxreg", qxreg}, {"registry", f.registry}};
    v.given = setVariableFix(context.login, "QXREG", f.registry);
    r.problems.push_back(describe("registry-relative/live", v));
  }
  inspectTmp(r);
  // Absolute, for checks of who may change them.
  std::string instanceDir = f.instance.empty() ? "" : f.instancesDir + "/" + f.instance;
  const std::string reached[] = {request.value("acs_library", ""), request.value("installed_library", ""),
                                 f.registry, f.instancesDir, instanceDir,
                                 instanceDir.empty() ? "" : instanceDir + "/Base", f.propertiesPath,
                                 f.home, f.baseDir, f.libraryPath};
  for (std::size_t i = 0; i < std::size(reached); ++i) r.paths.emplace_back(kPaths[i].second, reached[i]);
  // Who else can change any of them: each such path is an error.
  std::vector<trust::Path> paths = trustPaths(r, f.baseDir.empty() ? cwd : f.baseDir, context);
  addPreloads(context, loader, cwd, paths);
  if (request.value("load", false) && !f.libraryPath.empty()) {
    // Loading runs the back end's code, and whatever it loads, with the
    // check's ids: never root's, which DB2 never runs it with either.
    if (getuid() == 0 || geteuid() == 0) {
      CauseValues v = {{"lib", f.libraryPath}};
      v.given = {fix::advice("Check as the DB2 instance owner, whom DB2 runs it as: acs-doctor --as-user <instance "
                             "owner> --load.")};
      r.problems.push_back(describe("backend-not-loaded-as-root", v));
    } else {
      r.load = loadBackend(f, context, loader, request.value("timeout", 60), exe, path, paths, r.problems);
    }
  }
  judgeTrust(paths, r);
  if (!r.cwdError.empty())
    r.problems.push_back(describe("cwd-not-entered", {{"error", r.cwdError}, {"cwd", cwd},
                                                      {"where", request.value("source", "") == "login"
                                                                    ? ", where a login shell starts then" : ""}}));
  if (r.outside != 0) r.problems.push_back(describe("owner-outside-namespace", {{"count", std::to_string(r.outside)}}));
  decide(r);
  send(toJson(r));
}

void runLoadProcess(const char *baseDir, const char *libraryPath) {
  // A back end that kills the process is the finding; its core is not.
  struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // dlopen(path, RTLD_LAZY) from the back end's own directory, as the
  // library does, then each entry point in its resolution order.
  if (baseDir[0] != '\0' && chdir(baseDir) != 0) {
  }
  std::vector<std::string> before, after, runPath;
  dl_iterate_phdr(addObject, &before);
  void *handle = dlopen(libraryPath, RTLD_LAZY);
  const char *why = handle == nullptr ? dlerror() : nullptr;
  dl_iterate_phdr(addObject, &after);
  json libraries = json::array(), resolved = json::array();
  for (const std::string &name : after) {
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    addRunPath(name, runPath);
    libraries.push_back(name);
  }
  for (const EntryPoint &e : kEntryPoints)
    if (e.symbol != nullptr && handle != nullptr && dlsym(handle, e.symbol) != nullptr) resolved.push_back(e.symbol);
  json facts = {{"loaded", handle != nullptr}, {"error", why != nullptr ? why : ""}, {"resolved", resolved},
                {"libraries", libraries}, {"run_path", runPath}};
  fflush(nullptr);
  writeAll(1, std::string("\n") + kLoadReport + facts.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  _exit(0);
}

}  // namespace doctor
