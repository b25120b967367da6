#include "doctor.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>

#include "db2acs_protocol.h"
#include "explain.h"
#include "subject.h"
#include "trust_chain.h"
#include "zorvan/acs_types.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_sink.h"

namespace doctor {

namespace {

using nlohmann::json;

const char kSystemPreload[] = "/etc/ld.so.preload";

void collect(const char *message, void *context) {
  static_cast<std::vector<std::string> *>(context)->emplace_back(message);
}

json identity(const Context &c) {
  char cwd[4096];
  return {{"ld_library_path", c.ldLibraryPathSet ? json(c.ldLibraryPath) : json()},
          {"user", userName(getuid())}, {"uid", getuid()}, {"euid", geteuid()}, {"gid", getgid()},
          {"egid", getegid()}, {"raised", getauxval(AT_SECURE) != 0},
          {"groups", ownGroups()}, {"cwd", getcwd(cwd, sizeof cwd) != nullptr ? cwd : ""}};
}

json scanJson(const Facts &f) {
  if (!f.scanRan) return json();
  json scan = {{"directory", f.instancesDir}, {"opened", f.scanOpened},
               {"instance001_has_agent", f.defaultProbeHit}, {"entries", json::array()}};
  if (!f.scanOpened) scan["error"] = strerror(f.scanOpenErrno);
  for (const ScanEntry &e : f.scan) {
    json entry = {{"name", e.name}, {"chosen", e.chosen}};
    if (!e.chosen) entry["reason"] = e.reason;
    scan["entries"].push_back(entry);
  }
  return scan;
}

// Every path from the library DB2 loads to the back end, in discovery's
// order, by its name in the report's "paths".
const std::pair<trust::Role, const char *> kPaths[] = {
    {trust::Role::Library, "acs_library"},        {trust::Role::Installed, "installed_library"},
    {trust::Role::Registry, "registry"},
    {trust::Role::Instances, "instances"},        {trust::Role::Instance, "instance_dir"},
    {trust::Role::InstanceBase, "instance_base"}, {trust::Role::Properties, "properties"},
    {trust::Role::Home, "home"},                  {trust::Role::HomeBase, "base_dir"},
    {trust::Role::Backend, "library"}};

// The subjects of the trust chain: the paths discovery reached (report
// "paths"; an empty one was not reached), and the directories the dynamic
// loader searches for every library the back end needs, each with the
// login-file fix that takes it out of LD_LIBRARY_PATH.
std::vector<trust::Subject> trustSubjects(const json &report, const std::string &baseDir, const Context &c) {
  std::vector<trust::Subject> subjects;
  for (const auto &k : kPaths) {
    std::string path = report["paths"][k.second];
    if (!path.empty()) subjects.push_back({k.first, path});
  }
  std::vector<std::string> dirs = searchPath(c, baseDir);
  for (const std::string &dir : dirs) {
    std::string rest;
    for (const std::string &other : dirs)
      if (other != dir) rest += (rest.empty() ? "" : ":") + other;
    subjects.push_back({trust::Role::SearchPath, dir, setVariableFix(c.login, "LD_LIBRARY_PATH", rest)});
  }
  return subjects;
}

// The words of a list the dynamic loader reads (LD_PRELOAD: blanks or
// colons between them; LD_AUDIT and /etc/ld.so.preload likewise).
std::vector<std::string> loaderList(const std::string &list) {
  std::vector<std::string> words;
  for (std::size_t at = 0, end = 0; at < list.size(); at = end + 1) {
    end = std::min(list.find_first_of(" \t\n:", at), list.size());
    if (end > at) words.push_back(list.substr(at, end - at));
  }
  return words;
}

// What the subject's environment and the system put into DB2's process
// before the back end: the libraries LD_PRELOAD and LD_AUDIT name and
// /etc/ld.so.preload with those it names. They are judged here, never
// loaded: the check itself starts without them. A name without a '/' is
// found where LD_LIBRARY_PATH leads; in the system's directories it is
// root's. A process with raised privileges ignores the variables.
void addPreloads(const Context &c, const json &loader, const std::string &cwd, std::vector<trust::Subject> &subjects) {
  std::vector<std::string> dirs = searchPath(c, cwd);
  auto judge = [&](trust::Role role, const std::string &list) {
    for (const std::string &name : loaderList(list)) {
      std::string path = name.find('/') != std::string::npos ? absolute(name, cwd) : "";
      for (std::size_t i = 0; path.empty() && i < dirs.size(); ++i)
        if (access((dirs[i] + "/" + name).c_str(), F_OK) == 0) path = dirs[i] + "/" + name;
      if (!path.empty()) subjects.push_back({role, path});
    }
  };
  if (getauxval(AT_SECURE) == 0) {
    judge(trust::Role::Preload, loader.value("LD_PRELOAD", ""));
    judge(trust::Role::Audit, loader.value("LD_AUDIT", ""));
  }
  std::string error, list = readFileBytes(kSystemPreload, error);
  subjects.push_back({trust::Role::PreloadList, kSystemPreload});
  judge(trust::Role::SystemPreload, list);
}

// Who besides root and the effective user (whose privileges the back end
// gets) can change what DB2 runs: "trust" {"who", "chain", "outside" (how
// many paths belong to ids outside this user namespace)} and "findings",
// each an error naming the path, its owner, its mode and who can write it,
// with the chown/chmod that takes that away.
json trustOf(const std::vector<trust::Subject> &subjects) {
  std::string ownerName = userName(geteuid());
  trust::TrustChain checked =
      trust::checkTrustChain({geteuid(), ownerName}, subjects, accounts());
  std::vector<trust::Entry> found = checked.findings();
  json chain = json::array(), findings = json::array();
  std::size_t outside = 0;
  for (const trust::Entry &e : checked.chain) {
    chain.push_back({{"path", e.path}, {"role", e.role}, {"kind", e.kind}, {"owner", e.ownerName},
                     {"group", e.groupName}, {"mode", e.mode},
                     {"who", e.who.empty() ? json() : json(e.who)}, {"verdict", e.verdict}});
    outside += e.outside ? 1 : 0;
  }
  std::vector<Problem> problems;
  for (const trust::Entry &e : found) {
    CauseValues v = {{"path", e.path}, {"user", ownerName},
                     {"what", e.kind == "missing" ? " (" + e.role + ") is missing, and " + e.who
                                                  : " (" + e.role + ", owner " + e.ownerName + ":" + e.groupName +
                                                        ", mode " + e.mode + ") can be changed by " + e.who}};
    v.given = e.fixes;
    problems.push_back(describe("changeable-by-others", v));
  }
  return {{"trust", {{"who", trust::whoCanChange(found)}, {"chain", chain}, {"outside", outside}}},
          {"findings", problemsJson(problems)}};
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

// The load process's report: the last line that starts with it.
const char kLoadReport[] = "acs-doctor-load-report ";

// Runs the back end in a process of its own, as the subject with its whole
// environment (LD_PRELOAD and the rest, as DB2's process has them), and
// reads what it reports; the verdict is made here, where no code of the
// subject's has run. With raw facts in hand: "load", its problems, and the
// libraries it brought along and the directories their run paths name,
// added to the trust chain's subjects.
json loadBackend(Facts &f, const Context &context, const json &loader, int seconds, int exe, const char *path,
                 std::vector<trust::Subject> &subjects, std::vector<Problem> &problems) {
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
  json facts = at == std::string::npos ? json() : json::parse(run.output.substr(at + 1 + sizeof kLoadReport - 1),
                                                              nullptr, false);
  int signal = ran && WIFSIGNALED(run.status) && !run.timedOut ? WTERMSIG(run.status) : 0;
  json load = {{"path", f.libraryPath}, {"found", access(f.libraryPath.c_str(), F_OK) == 0}, {"loaded", false},
               {"complete", false}, {"entry_points", json::array()}, {"libraries", json::array()},
               {"run_path", json::array()}, {"signal", nullptr}};
  if (!ran || facts.is_discarded() || facts.is_null()) {
    // It died or hung in the back end: what it reports comes after.
    std::string ended = !ran ? "could not start: " + (exe < 0 ? std::string("its program cannot be opened") : error)
                        : run.timedOut ? "did not finish within " + std::to_string(seconds) + " s"
                        : signal != 0  ? "was killed by signal " + std::to_string(signal)
                                       : "ended with status " + std::to_string(WEXITSTATUS(run.status));
    std::string died = "the checking process " + ended + " while loading it";
    load.update({{"died", ran && !run.timedOut}, {"hung", run.timedOut}, {"error", died},
                 {"signal", signal != 0 ? json(signal) : json()},
                 {"signal_name", signal != 0 ? json(strsignal(signal)) : json()}});
    CauseValues v = checkValues(context);
    v.insert({{"lib", f.libraryPath}, {"seconds", std::to_string(seconds)}, {"error", died},
              {"signal", std::to_string(signal)}, {"signalName", signal != 0 ? strsignal(signal) : ""}});
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
    load["entry_points"].push_back({{"symbol", e.symbol}, {"resolved", found}});
  }
  // What the back end brought along, each now a path DB2 runs, and the
  // directories their run paths have the loader search, as it searches
  // LD_LIBRARY_PATH: a library added there is found first.
  for (const json &library : facts.value("libraries", json::array())) {
    std::string dependency = absolute(library.get<std::string>(), f.baseDir);
    if (dependency == f.libraryPath) continue;
    load["libraries"].push_back(dependency);
    subjects.push_back({trust::Role::Dependency, dependency});
  }
  for (const json &dir : facts.value("run_path", json::array())) {
    std::string named = dir.get<std::string>();
    load["run_path"].push_back(named);
    subjects.push_back({trust::Role::RunPath, absolute(named, f.baseDir),
                        {fix::advice("Ask the back end's vendor for a build without " + named +
                                     " in its run path (readelf -d " + f.libraryPath + " shows it).")}});
  }
  load["loaded"] = f.loaded;
  load["complete"] = f.loaded && f.missing.empty();
  if (!f.loaded) load["error"] = f.loadError;
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

void send(const json &part) { writeAll(1, part.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"); }

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
    if (!why.empty()) {
      send({{"error", why}});
      _exit(127);
    }
  }
  json report = {{"identity", nullptr}, {"cwd_error", nullptr}};
  // The dynamic loader's variables it was started without.
  const json loader = request.value("loader", json::object());
  Context context;
  context.ldLibraryPathSet = loader.contains("LD_LIBRARY_PATH");
  context.ldLibraryPath = loader.value("LD_LIBRARY_PATH", "");
  std::string cwd = request.value("cwd", "");
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
    report["cwd_error"] = cwd + ": " + strerror(errno);
    // Where su - starts a login shell that cannot enter the home directory.
    if (request.value("source", "") == "login" && chdir("/") != 0) {
    }
  }
  report["identity"] = identity(context);
  cwd = report["identity"]["cwd"].get<std::string>();

  // Discovery once, as db2ACSInitialize makes it: the registry fixed, then
  // GetZorvanBaseDir with DB2's control block, zero-filled; with a vmName
  // it carries a vendor-options record, as when DB2 is driven with vendor
  // options.
  db2acs::ControlBlock cb{};
  unsigned char record[ACS_VENDOR_OPTIONS_SIZE] = {};
  std::string vmName = request.value("vm_name", "");
  if (request.value("vm_name_given", false)) {
    vmName.copy(reinterpret_cast<char *>(record) + ACS_VO_VM_NAME, vmName.size());
    cb.options = {ACS_VENDOR_OPTIONS_SIZE, record};
  }
  std::vector<std::string> trace;
  char base[ZORVAN_PATH_MAX] = {};
  zorvanSetTraceSink(collect, &trace);
  fixRegistryDir();
  int result = GetZorvanBaseDir(base, sizeof base, reinterpret_cast<const db2ACS_CB *>(&cb));
  zorvanSetTraceSink(discardTrace, nullptr);

  Facts f = interpret(trace);
  f.registry = qxReg;
  f.instancesDir = f.registry + "/Zorvan";
  if ((result == 0) != (f.stage == Stage::Bound)) f.stage = Stage::Other;
  for (std::string *p : {&f.registry, &f.instancesDir, &f.propertiesPath, &f.home, &f.baseDir, &f.libraryPath})
    *p = absolute(*p, cwd);

  const char *qxreg = getenv("QXREG");
  context.live = true;
  context.user = userName(getuid());
  context.uid = getuid();
  context.registryFromVariable = qxreg != nullptr && qxreg[0] != '\0' && f.qxregIgnored.empty();
  context.registryOrigin = !f.qxregIgnored.empty() ? "the default; QXREG is ignored with raised privileges"
                           : (context.registryFromVariable ? "QXREG " : "the default; QXREG ") +
                                 request["origins"].value("QXREG", "");
  // Root checking as itself is not DB2: its own login files are no fix.
  if (request.value("source", "") != "self" || getuid() != 0) {
    context.login = loginFilesOf(getuid());
    context.login.environmentChecked = true;
  }

  std::vector<Problem> problems = explainDiscovery(f, context);
  // Loading the back end moves the process into the base directory for
  // good: its next db2ACSInitialize looks a relative registry up there.
  if (context.registryFromVariable && qxreg[0] != '/') {
    CauseValues v = {{"qxreg", qxreg}, {"registry", f.registry}};
    v.given = setVariableFix(context.login, "QXREG", f.registry);
    problems.push_back(describe("registry-relative/live", v));
  }
  json tmp = inspectTmp(problems);
  report["discovery"] = {{"result", stageName(f.stage)},
                         {"found", f.stage == Stage::Bound},
                         {"registry", {{"path", f.registry}, {"origin", context.registryFromVariable ? "QXREG" : "default"},
                                       {"qxreg_ignored", f.qxregIgnored.empty() ? json() : json(f.qxregIgnored)}}},
                         {"instance", {{"name", f.instanceOrigin.empty() ? json() : json(f.instance)},
                                       {"origin", f.instanceOrigin.empty() ? json() : json(f.instanceOrigin)}}},
                         {"scan", scanJson(f)},
                         {"properties", f.propertiesPath},
                         {"home", f.home},
                         {"base_dir", f.baseDir},
                         {"backend", {{"path", f.libraryPath}, {"executable", f.stage == Stage::Bound}}},
                         {"trace", trace}};
  // Absolute, for checks of who may change them.
  std::string instanceDir = f.instance.empty() ? "" : f.instancesDir + "/" + f.instance;
  const std::string paths[] = {request.value("acs_library", ""), request.value("installed_library", ""),
                               f.registry, f.instancesDir, instanceDir,
                               instanceDir.empty() ? "" : instanceDir + "/Base", f.propertiesPath,
                               f.home, f.baseDir, f.libraryPath};
  for (std::size_t i = 0; i < std::size(paths); ++i) report["paths"][kPaths[i].second] = paths[i];
  report.update(tmp);  // "trace_file" and "markers"
  // Who else can change any of them: each such path is an ERROR that
  // turns "binds" into exit 1.
  std::string searchFrom = f.baseDir.empty() ? cwd : f.baseDir;
  std::vector<trust::Subject> subjects = trustSubjects(report, searchFrom, context);
  addPreloads(context, loader, cwd, subjects);
  report["load"] = nullptr;
  if (request.value("load", false) && !f.libraryPath.empty()) {
    // Loading runs the back end's code, and whatever it loads, with the
    // check's ids: never root's, which DB2 never runs it with either.
    if (getuid() == 0 || geteuid() == 0) {
      CauseValues v = {{"lib", f.libraryPath}};
      v.given = {fix::advice("Check as the DB2 instance owner, whom DB2 runs it as: acs-doctor --as-user <instance "
                             "owner> --load.")};
      problems.push_back(describe("backend-not-loaded-as-root", v));
    } else {
      report["load"] = loadBackend(f, context, loader, request.value("timeout", 60), exe, path, subjects, problems);
    }
  }
  report.update(trustOf(subjects));
  report["problems"] = problemsJson(problems);
  send(report);
  _exit(0);
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
