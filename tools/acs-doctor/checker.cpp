#include "doctor.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/resource.h>
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

void collect(const char *message, void *context) {
  static_cast<std::vector<std::string> *>(context)->emplace_back(message);
}

json identity() {
  char cwd[4096];
  const char *libraryPath = getenv("LD_LIBRARY_PATH");
  return {{"ld_library_path", libraryPath != nullptr ? json(libraryPath) : json()},
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
std::vector<trust::Subject> trustSubjects(const json &report, const std::string &baseDir, const LoginFiles &login) {
  std::vector<trust::Subject> subjects;
  for (const auto &k : kPaths) {
    std::string path = report["paths"][k.second];
    if (!path.empty()) subjects.push_back({k.first, path});
  }
  std::vector<std::string> dirs = searchPath(baseDir);
  for (const std::string &dir : dirs) {
    std::string rest;
    for (const std::string &other : dirs)
      if (other != dir) rest += (rest.empty() ? "" : ":") + other;
    subjects.push_back({trust::Role::SearchPath, dir, setVariableFix(login, "LD_LIBRARY_PATH", rest)});
  }
  return subjects;
}

// Who besides root and the effective user (whose privileges the back end
// gets) can change what DB2 runs: "trust" {"who", "chain", "outside" (how
// many paths belong to ids outside this user namespace)} and "findings",
// each an error naming the path, its owner, its mode and who can write it,
// with the chown/chmod that takes that away.
json trustOf(const std::vector<trust::Subject> &subjects) {
  std::string ownerName = userName(geteuid());
  trust::TrustChain checked =
      trust::checkTrustChain({geteuid(), ownerName}, subjects, trust::Accounts::fromSystem());
  std::vector<trust::Entry> found = checked.findings();
  json chain = json::array(), findings = json::array();
  std::size_t outside = 0;
  for (const trust::Entry &e : checked.chain) {
    chain.push_back({{"path", e.path}, {"role", e.role}, {"kind", e.kind}, {"owner", e.ownerName},
                     {"group", e.groupName}, {"mode", e.mode},
                     {"who", e.who.empty() ? json() : json(e.who)}, {"verdict", e.verdict}});
    outside += e.outside ? 1 : 0;
  }
  for (const trust::Entry &e : found) {
    std::string what = e.kind == "missing"
                           ? " (" + e.role + ") is missing, and " + e.who
                           : " (" + e.role + ", owner " + e.ownerName + ":" + e.groupName + ", mode " +
                                 e.mode + ") can be changed by " + e.who;
    // The chain's own commands change owners and modes, root's to run; a
    // way out of the search names whom it is for itself.
    findings.push_back({{"severity", "error"}, {"id", "changeable-by-others"},
                        {"cause", e.path + what + ", and with it the code DB2 runs as " + ownerName},
                        {"fix", (e.leaves ? "" : "As root: ") + e.fix}});
  }
  return {{"trust", {{"who", trust::whoCanChange(found)}, {"chain", chain}, {"outside", outside}}},
          {"findings", findings}};
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

// dlopen(path, RTLD_LAZY) from the back end's own directory, as the
// library does, then each entry point in its resolution order.
json loadBackend(Facts &f, const Context &context, std::vector<trust::Subject> subjects) {
  f.loadTried = true;
  int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!f.baseDir.empty() && chdir(f.baseDir.c_str()) != 0) {
  }
  std::vector<std::string> before, after;
  dl_iterate_phdr(addObject, &before);
  void *handle = dlopen(f.libraryPath.c_str(), RTLD_LAZY);
  const char *why = handle == nullptr ? dlerror() : nullptr;
  dl_iterate_phdr(addObject, &after);
  // What the back end brought along, each now a path DB2 runs, and the
  // directories their run paths have the loader search, as it searches
  // LD_LIBRARY_PATH: a library added there is found first.
  json libraries = json::array();
  std::vector<std::string> runPath;
  for (const std::string &name : after) {
    std::string path = absolute(name, f.baseDir);
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    addRunPath(name, runPath);
    if (path == f.libraryPath) continue;
    libraries.push_back(path);
    subjects.push_back({trust::Role::Dependency, path});
  }
  for (const std::string &dir : runPath)
    subjects.push_back({trust::Role::RunPath, absolute(dir, f.baseDir),
                        "Ask the back end's vendor for a build without " + dir + " in its run path (readelf -d " +
                            f.libraryPath + " shows it)"});
  f.loaded = handle != nullptr;
  f.loadError = f.loaded ? "" : why != nullptr ? why : "dlopen failed";
  if (here >= 0 && fchdir(here) == 0) close(here);
  json entries = json::array();
  for (const EntryPoint &e : kEntryPoints) {
    if (e.symbol == nullptr) continue;
    bool found = handle != nullptr && dlsym(handle, e.symbol) != nullptr;
    if (f.loaded && !found) f.missing.push_back(e.symbol);
    entries.push_back({{"symbol", e.symbol}, {"resolved", found}});
  }
  json load = {{"path", f.libraryPath}, {"found", access(f.libraryPath.c_str(), F_OK) == 0},
               {"loaded", f.loaded}, {"complete", f.loaded && f.missing.empty()},
               {"entry_points", entries}, {"libraries", libraries}, {"run_path", runPath}, {"signal", nullptr}};
  if (!f.loaded) load["error"] = f.loadError;
  json part = trustOf(subjects);
  part["load"] = load;
  part["problems"] = problemsJson(explainLoad(f, context));
  return part;
}

void send(const json &part) {
  writeAll(kReportFd, part.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace

void discardTrace(const char *, void *) {}

void runChecker(const char *requestText) {
  json request = json::parse(requestText, nullptr, false);
  if (request.is_discarded()) _exit(2);
  json report = {{"identity", nullptr}, {"cwd_error", nullptr}};
  std::string cwd = request.value("cwd", "");
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
    report["cwd_error"] = cwd + ": " + strerror(errno);
    // Where su - starts a login shell that cannot enter the home directory.
    if (request.value("source", "") == "login" && chdir("/") != 0) {
    }
  }
  report["identity"] = identity();
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
  Context context;
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
    Problem p = describe("registry-relative/live", {{"qxreg", visible(qxreg)}, {"registry", f.registry},
                                                    {"qxregFix", setVariableFix(context.login, "QXREG", f.registry)}});
    p.severity = Severity::Warning;
    problems.push_back(p);
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
  report["problems"] = problemsJson(problems);
  // Who else can change any of them: each such path is an ERROR that
  // turns "binds" into exit 1.
  std::string searchFrom = f.baseDir.empty() ? cwd : f.baseDir;
  std::vector<trust::Subject> subjects = trustSubjects(report, searchFrom, context.login);
  report.update(trustOf(subjects));
  send(report);

  if (request.value("load", false) && !f.libraryPath.empty()) {
    // A back end that kills the process is the finding; its core is not.
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    send(loadBackend(f, context, subjects));
  }
  _exit(0);
}

}  // namespace doctor
