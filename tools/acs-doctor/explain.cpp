#include "explain.h"

#include <limits.h>
#include <stdlib.h>
#include <grp.h>
#include <pwd.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "subject.h"
#include "trust_chain.h"
#include "zorvan/discovery.h"

namespace doctor {

namespace {

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
    v["dirMode"] = modeText(st.st_mode);
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
  v["text"] = visible(p.text);
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
    v["mode"] = modeText(st.st_mode);
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

std::string modeText(unsigned mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
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
