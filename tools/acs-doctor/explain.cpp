#include "explain.h"

#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>

#include "zorvan/discovery.h"

namespace doctor {

namespace {

const char kKey[] = "dZORVANHOME";

std::string ownerName(uid_t uid) {
  const struct passwd *pw = getpwuid(uid);
  return pw != nullptr ? pw->pw_name : std::to_string(uid);
}

std::string modeText(mode_t mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool isDirectory(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string registryFrom(const std::string &origin) {
  return origin == "QXREG" ? "from QXREG" : "the default; QXREG is unset or empty";
}

// The registry itself is missing: the cause behind every later failure.
bool explainMissingRegistry(const Facts &f, const std::string &origin, std::vector<Problem> &out) {
  if (isDirectory(f.registry)) return false;
  out.push_back({Severity::Error,
                 "The registry directory " + f.registry + " (" + registryFrom(origin) +
                     ") does not exist, so no instance can be found.",
                 "Set QXREG to the registry directory in the DB2 instance owner's environment "
                 "(then restart the instance), or install the registry at " + f.registry + "."});
  return true;
}

void explainNoInstance(const UserCheck &c, const std::string &origin, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  if (explainMissingRegistry(f, origin, out)) return;
  if (!f.scanOpened) {
    if (f.scanOpenErrno == ENOENT) {
      out.push_back({Severity::Error,
                     "The registry " + f.registry + " has no Zorvan directory (" + f.instancesDir +
                         " is missing), so no instance can be found.",
                     "Point QXREG at the registry root, the directory that holds Zorvan/."});
    } else {
      out.push_back({Severity::Error,
                     "The instances directory " + f.instancesDir + " cannot be read by " +
                         c.run.user + ": " + strerror(f.scanOpenErrno) + ".",
                     "Make " + f.instancesDir + " readable and searchable for " + c.run.user +
                         " (e.g. chmod 755 " + f.instancesDir + ")."});
    }
    return;
  }
  std::string example = "<instance>";
  for (const ScanEntry &e : f.scan)
    if (e.reason == "no Db2Agent file in it") {
      example = e.name;
      break;
    }
  std::string cause = "No registered instance has the DB2 agent installed: ZORVAN_INST is unset, " +
                      f.instancesDir + "/Instance001/Db2Agent does not exist";
  cause += f.scan.empty() ? " and " + f.instancesDir + " holds no other entry."
                          : ", and none of the " + std::to_string(f.scan.size()) +
                                " entries scanned is a directory holding Db2Agent.";
  out.push_back({Severity::Error, cause,
                 "Mark the instance DB2 should use: touch " + f.instancesDir + "/" + example +
                     "/Db2Agent (or set ZORVAN_INST=" + example + " for the instance owner)."});
}

void explainNoProperties(const UserCheck &c, const std::string &origin, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  if (explainMissingRegistry(f, origin, out)) return;
  if (f.instanceOrigin == "ZORVAN_INST" && f.instance.empty()) {
    out.push_back({Severity::Error,
                   "ZORVAN_INST is set but empty; an empty value still counts, so no instance is "
                   "scanned for and the properties path becomes " + f.propertiesPath + ".",
                   "Unset ZORVAN_INST (or set it to the instance name) in the DB2 instance "
                   "owner's environment."});
    return;
  }
  std::string instanceDir = f.instancesDir.empty() ? f.registry + "/Zorvan" : f.instancesDir;
  instanceDir += "/" + f.instance;
  if (!isDirectory(instanceDir)) {
    std::string fix;
    if (f.instanceOrigin == "ZORVAN_INST")
      fix = "Set ZORVAN_INST to a registered instance (ls " + f.registry +
            "/Zorvan), or unset it to use the first instance with the DB2 agent.";
    else if (f.instanceOrigin == "vendor options")
      fix = "Correct the vmName in the options DB2 passes to the library, or register "
            "instance " + f.instance + " under " + f.registry + "/Zorvan.";
    else
      fix = "Register instance " + f.instance + " under " + f.registry + "/Zorvan.";
    out.push_back({Severity::Error,
                   "Instance '" + f.instance + "' (from " + f.instanceOrigin +
                       ") is not registered: " + instanceDir + " does not exist.",
                   fix});
    return;
  }
  int error = c.run.propertiesErrno != 0 ? c.run.propertiesErrno : ENOENT;
  if (error == ENOENT) {
    out.push_back({Severity::Error,
                   "The instance's properties file " + f.propertiesPath + " does not exist.",
                   "Create it with the line: dZORVANHOME <home directory> (the directory "
                   "holding Base/" ZORVAN_BACKEND_LIBRARY ")."});
  } else {
    out.push_back({Severity::Error,
                   "The properties file " + f.propertiesPath + " cannot be opened by " +
                       c.run.user + ": " + strerror(error) + ".",
                   "Make " + f.propertiesPath + " and its directories readable for " +
                       c.run.user + "."});
  }
}

void explainNoHome(const UserCheck &c, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  PropertiesReading p = readProperties(f.propertiesPath);
  if (p.keyLine != 0 && !p.hasValue) {
    out.push_back({Severity::Error,
                   "The first dZORVANHOME line of " + f.propertiesPath + " (line " +
                       std::to_string(p.keyLine) +
                       ") has no value; it decides, later lines are not read.",
                   "Put the home directory on that line: dZORVANHOME <home directory>."});
  } else if (p.assignmentLine != 0) {
    out.push_back({Severity::Error,
                   f.propertiesPath + " line " + std::to_string(p.assignmentLine) +
                       " writes 'dZORVANHOME=...'; only 'dZORVANHOME <home>' (key, blank, "
                       "value) is read, so no home directory is known.",
                   "Write that line as: dZORVANHOME <home directory>."});
  } else {
    out.push_back({Severity::Error,
                   f.propertiesPath + " has no line starting with dZORVANHOME, so no home "
                                      "directory is known.",
                   "Add the line: dZORVANHOME <home directory> (the directory holding "
                   "Base/" ZORVAN_BACKEND_LIBRARY ")."});
  }
}

void explainNotAccessible(const UserCheck &c, std::vector<Problem> &out) {
  const Facts &f = c.facts;
  const std::string &lib = f.libraryPath;
  if (lib.empty()) return explainNoHome(c, out);
  if (lib.find('\r') != std::string::npos) {
    out.push_back({Severity::Error,
                   f.propertiesPath + " has Windows (CR LF) line endings: the home read is '" +
                       visible(f.home) + "', so the back end is looked for at '" + visible(lib) +
                       "'.",
                   "Strip the carriage returns: sed -i 's/\\r$//' " + f.propertiesPath});
    return;
  }
  const std::string &user = c.run.user;
  struct stat st;
  bool present = stat(lib.c_str(), &st) == 0;
  int statError = present ? 0 : errno;
  int error = c.run.libraryErrno != 0 ? c.run.libraryErrno : present ? EACCES : statError;
  if (!present && statError == ENOENT) {
    if (!isDirectory(f.home))
      out.push_back({Severity::Error,
                     "The home directory " + f.home + " named by dZORVANHOME in " +
                         f.propertiesPath + " does not exist.",
                     "Correct dZORVANHOME in " + f.propertiesPath +
                         ", or install the product at " + f.home + "."});
    else
      out.push_back({Severity::Error, "The back end " + lib + " does not exist.",
                     "Install the back end as " + lib + " (mode 755)."});
  } else if (present && !S_ISREG(st.st_mode)) {
    out.push_back({Severity::Error, "The back end " + lib + " is not a regular file.",
                   "Install the back end library file as " + lib + " (mode 755)."});
  } else if (present && (st.st_mode & 0111) == 0) {
    out.push_back({Severity::Error,
                   "The back end " + lib + " is not executable (mode " + modeText(st.st_mode) +
                       "); the library insists on an executable back end.",
                   "chmod 755 " + lib});
  } else if (present && error == EACCES) {
    out.push_back({Severity::Error,
                   "The back end " + lib + " fails the execute test for " + user + " (mode " +
                       modeText(st.st_mode) + ", owner " + ownerName(st.st_uid) +
                       "): it must be executable for " + user +
                       " and every directory above it searchable.",
                   "chmod 755 " + lib + " and make its directories searchable for " + user +
                       " (chmod o+x <dir>)."});
  } else {
    out.push_back({Severity::Error,
                   "The back end " + lib + " fails the execute test for " + user + ": " +
                       strerror(error) + ".",
                   "Install an executable back end library as " + lib + "."});
  }
}

}  // namespace

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

PropertiesReading readProperties(const std::string &path) {
  PropertiesReading r;
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
    if (r.assignmentLine == 0 && first.compare(0, sizeof kKey, std::string(kKey) + "=") == 0)
      r.assignmentLine = number;
  }
  return r;
}

std::vector<Problem> explainDiscovery(const UserCheck &check, const std::string &registryOrigin) {
  std::vector<Problem> out;
  const Facts &f = check.facts;
  switch (f.stage) {
    case Stage::Bound:
      break;
    case Stage::NoInstance:
      explainNoInstance(check, registryOrigin, out);
      break;
    case Stage::NoProperties:
      explainNoProperties(check, registryOrigin, out);
      break;
    case Stage::PathTooLong:
      out.push_back({Severity::Error,
                     "The properties path for instance '" + f.instance + "' under " + f.registry +
                         " is longer than " + std::to_string(ZORVAN_PATH_MAX - 1) + " bytes.",
                     "Use a shorter registry path (QXREG) or instance name."});
      break;
    case Stage::HomeTooLong:
      out.push_back({Severity::Error,
                     "dZORVANHOME in " + f.propertiesPath + " is longer than the 1003 characters "
                                                            "the library takes.",
                     "Install the product under a shorter home directory."});
      break;
    case Stage::NotAccessible:
      explainNotAccessible(check, out);
      break;
    case Stage::Other:
      out.push_back({Severity::Error,
                     "Discovery failed in an unexpected way (run with --verbose for the "
                     "library's trace).",
                     "Read the trace lines of GetZorvanBaseDir in the operator's guide's "
                     "troubleshooting table."});
      break;
  }
  return out;
}

}  // namespace doctor
