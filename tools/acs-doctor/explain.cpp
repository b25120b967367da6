#include "explain.h"

#include <dirent.h>
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>

#include "causes.h"
#include "zorvan/discovery.h"

namespace doctor {

namespace {

const char kKey[] = "dZORVANHOME";

std::string ownerName(uid_t uid) {
  const struct passwd *pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : std::to_string(uid);
}

std::string modeText(unsigned mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Values every cause may use.
CauseValues baseValues(const UserCheck &c, const Subject &s) {
  const Facts &f = c.facts;
  const SteeringVariable *qxreg = s.variable("QXREG");
  bool fromVariable = qxreg != nullptr && qxreg->set && !qxreg->value.empty();
  std::string origin = fromVariable ? "QXREG " + qxreg->origin
                                    : "the default; QXREG " +
                                          (qxreg != nullptr ? qxreg->origin : std::string("unset"));
  return factValues(f, c.run.user, origin);
}

// A directory on the way that the user cannot search, found by the child.
bool explainBlocked(const UserCheck &c, CauseValues v, const std::string &target,
                    std::vector<Problem> &out) {
  if (c.run.blockedDir.empty()) return false;
  v["target"] = target;
  v["dir"] = c.run.blockedDir;
  v["dirOwner"] = ownerName(c.run.blockedOwner);
  v["dirMode"] = modeText(c.run.blockedMode);
  out.push_back(describe(Cause::DirectoryNotSearchable, v));
  return true;
}

// The registry itself is missing: the cause behind every later failure.
bool explainMissingRegistry(const UserCheck &c, const Subject &s, const CauseValues &v,
                            std::vector<Problem> &out) {
  const SteeringVariable *qxreg = s.variable("QXREG");
  bool fromVariable = qxreg != nullptr && qxreg->set && !qxreg->value.empty();
  return explainRegistryMissing(c.facts.registry, fromVariable, v, out);
}

void explainNoInstance(const UserCheck &c, const Subject &s, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  CauseValues v = baseValues(c, s);
  if (explainMissingRegistry(c, s, v, out)) return;
  if (!f.scanOpened) {
    if (f.scanOpenErrno == ENOENT) {
      out.push_back(describe(Cause::InstancesDirMissing, v));
    } else if (!explainBlocked(c, v, f.instancesDir, out)) {
      v["error"] = strerror(f.scanOpenErrno);
      out.push_back(describe(Cause::InstancesDirUnreadable, v));
    }
    return;
  }
  v["example"] = "<instance>";
  for (const ScanEntry &e : f.scan)
    if (e.reason == "no Db2Agent file in it") {
      v["example"] = e.name;
      break;
    }
  v["scanned"] = f.scan.empty() ? " and " + f.instancesDir + " holds no other entry"
                                : ", and none of the " + std::to_string(f.scan.size()) +
                                      " entries scanned is a directory holding Db2Agent";
  out.push_back(describe(Cause::NoAgent, v));
}

void explainNoProperties(const UserCheck &c, const Subject &s, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  CauseValues v = baseValues(c, s);
  if (explainMissingRegistry(c, s, v, out)) return;
  if (f.instanceOrigin == "ZORVAN_INST" && f.instance.empty()) {
    out.push_back(describe(Cause::EmptyInstanceVariable, v));
    return;
  }
  if (c.run.propertiesErrno == EACCES && explainBlocked(c, v, f.propertiesPath, out)) return;
  std::string instanceDir = f.registry + "/Zorvan/" + f.instance;
  v["instanceDir"] = instanceDir;
  if (!isDirectory(instanceDir)) {
    out.push_back(describe(f.instanceOrigin == "ZORVAN_INST"       ? Cause::InstanceNotRegisteredByVariable
                           : f.instanceOrigin == "vendor options" ? Cause::InstanceNotRegisteredByVendorOptions
                                                                  : Cause::InstanceNotRegistered,
                           v));
    return;
  }
  int error = c.run.propertiesErrno != 0 ? c.run.propertiesErrno : ENOENT;
  v["error"] = strerror(error);
  out.push_back(describe(error == ENOENT ? Cause::PropertiesMissing : Cause::PropertiesUnreadable, v));
}

void explainNoHome(const UserCheck &c, const Subject &s, std::vector<Problem> &out) {
  out.push_back(explainKeyLine(c.facts.propertiesPath, baseValues(c, s)));
}

void explainNotAccessible(const UserCheck &c, const Subject &s, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  const std::string &lib = f.libraryPath;
  if (lib.empty()) return explainNoHome(c, s, out);
  CauseValues v = baseValues(c, s);
  if (lib.find('\r') != std::string::npos) {
    out.push_back(describe(Cause::CrLfLineEnds, v));
    return;
  }
  if (c.run.libraryErrno == EACCES && explainBlocked(c, v, lib, out)) return;
  struct stat st;
  bool present = stat(lib.c_str(), &st) == 0;
  int statError = present ? 0 : errno;
  int error = c.run.libraryErrno != 0 ? c.run.libraryErrno : present ? EACCES : statError;
  if (present) {
    v["mode"] = modeText(st.st_mode);
    v["owner"] = ownerName(st.st_uid);
  }
  v["error"] = strerror(error);
  if (!present && statError == ENOENT)
    out.push_back(describe(isDirectory(f.home) ? Cause::BackendMissing : Cause::HomeMissing, v));
  else if (present && !S_ISREG(st.st_mode))
    out.push_back(describe(Cause::BackendNotRegular, v));
  else if (present && (st.st_mode & 0111) == 0)
    out.push_back(describe(Cause::BackendNotExecutable, v));
  else if (present && error == EACCES)
    out.push_back(describe(Cause::BackendNotExecutableForUser, v));
  else
    out.push_back(describe(Cause::BackendFailsTest, v));
}

}  // namespace

bool explainRegistryMissing(const std::string &registry, bool fromVariable, CauseValues values,
                            std::vector<Problem> &out) {
  if (isDirectory(registry)) return false;
  std::string similar = similarSibling(registry);
  if (fromVariable && registry != ZORVAN_DEFAULT_REGISTRY && isDirectory(ZORVAN_DEFAULT_REGISTRY)) {
    out.push_back(describe(Cause::RegistryMissingDefaultExists, values));
  } else if (fromVariable && !similar.empty()) {
    values["similar"] = similar;
    out.push_back(describe(Cause::RegistryMissingSimilarExists, values));
  } else {
    out.push_back(describe(Cause::RegistryMissing, values));
  }
  return true;
}

CauseValues factValues(const Facts &f, const std::string &user, const std::string &origin) {
  return {{"registry", f.registry},       {"origin", origin},
          {"user", user},                 {"instances", f.registry + "/Zorvan"},
          {"instance", f.instance},       {"properties", f.propertiesPath},
          {"home", visible(f.home)},      {"lib", visible(f.libraryPath)},
          {"limit", std::to_string(ZORVAN_PATH_MAX - 1)}};
}

Problem explainKeyLine(const std::string &propertiesPath, CauseValues v) {
  PropertiesReading p = readProperties(propertiesPath);
  v["properties"] = propertiesPath;
  if (p.keyLine != 0 && !p.hasValue) {
    v["line"] = std::to_string(p.keyLine);
    return describe(Cause::KeyWithoutValue, v);
  }
  if (p.nearMiss.line != 0) {
    v["line"] = std::to_string(p.nearMiss.line);
    v["text"] = visible(p.nearMiss.text);
    v["why"] = p.nearMiss.why;
    v["value"] = p.nearMiss.value;
    return describe(Cause::KeyNearMiss, v);
  }
  return describe(Cause::KeyMissing, v);
}

std::string visible(const std::string &text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\r') out += "\\r";
    else if (ch == '\n') out += "\\n";
    else if (ch == '\t') out += "\\t";
    else out += ch;
  }
  return out;
}

std::string similarSibling(const std::string &path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::size_t slash = trimmed.rfind('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  DIR *dir = opendir(parent.c_str());
  if (dir == nullptr) return "";
  std::string found;
  while (const struct dirent *e = readdir(dir)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == ".." || entry == name) continue;
    std::string candidate = (parent == "/" ? "" : parent) + "/" + entry;
    if (editDistance(entry, name, 2) <= 2 && isDirectory(candidate)) {
      found = candidate;
      break;
    }
  }
  closedir(dir);
  return found;
}

PropertiesReading readProperties(const std::string &path) {
  PropertiesReading r;
  // A path out of a trace may name anything; only a regular file is read.
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return r;
  std::ifstream in(path, std::ios::binary);
  if (!in) return r;
  r.readable = true;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    std::size_t end = line.find_first_of(" \t", start);
    std::string first = line.substr(start, end == std::string::npos ? end : end - start);
    if (first == kKey) {
      r.keyLine = number;
      std::size_t v = end == std::string::npos ? end : line.find_first_not_of(" \t", end);
      if (v != std::string::npos) {
        std::size_t ve = line.find_first_of(" \t", v);
        r.value = line.substr(v, ve == std::string::npos ? ve : ve - v);
        r.hasValue = true;
      }
      return r;
    }
    NearMiss miss;
    if (r.nearMiss.line == 0 && nearMissKey(line, miss)) {
      miss.line = number;
      r.nearMiss = miss;
    }
  }
  return r;
}

std::vector<Problem> explainDiscovery(const UserCheck &check, const Subject &subject) {
  std::vector<Problem> out;
  switch (check.facts.stage) {
    case Stage::Bound:
      break;
    case Stage::NoInstance:
      explainNoInstance(check, subject, out);
      break;
    case Stage::NoProperties:
      explainNoProperties(check, subject, out);
      break;
    case Stage::PathTooLong:
      out.push_back(describe(Cause::PropertiesPathTooLong, baseValues(check, subject)));
      break;
    case Stage::HomeTooLong:
      out.push_back(describe(Cause::HomeTooLong, baseValues(check, subject)));
      break;
    case Stage::NotAccessible:
      explainNotAccessible(check, subject, out);
      break;
    case Stage::Other:
      out.push_back(describe(Cause::DiscoveryUnexpected, baseValues(check, subject)));
      break;
  }
  return out;
}

}  // namespace doctor
