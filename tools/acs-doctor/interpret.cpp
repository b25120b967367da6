#include "interpret.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "trace_text_match.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_texts.h"

namespace doctor {

namespace {

const char kNameTag[] = "GetZorvanInstanceName";
const char kScanTag[] = "get_first_zorvan_instname";
const char kBaseTag[] = "GetZorvanBaseDir";
// The text between the two conversions of ZORVAN_TEXT_SCAN_OPEN_FAILED.
const char kScanOpenMiddle[] = ") failed with errno: ";

bool endsWith(const std::string &text, const char *tail) {
  std::size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The text between head and tail when message is head...tail.
bool between(const std::string &message, const char *head, const char *tail, std::string &out) {
  std::size_t h = std::strlen(head), t = std::strlen(tail);
  if (!startsWith(message, head) || message.size() < h + t || !endsWith(message, tail))
    return false;
  out = message.substr(h, message.size() - h - t);
  return true;
}

std::string lastComponent(const std::string &path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

ScanEntry &entryNamed(Facts &facts, const std::string &name) {
  for (ScanEntry &e : facts.scan)
    if (e.name == name) return e;
  facts.scan.push_back(ScanEntry{name, false, ""});
  return facts.scan.back();
}

void readScan(const DiscoveryRun &run, Facts &facts) {
  facts.scanRan = run.scanCalled;
  facts.instancesDir = run.registry + "/Zorvan";
  bool probeMissed = false;
  for (const std::string &line : run.scanTrace) {
    std::string m, text;
    if (!messageOf(line, kScanTag, m)) continue;
    std::size_t at;
    if (startsWith(m, textBefore(ZORVAN_TEXT_SCAN_OPEN_FAILED)) && (at = m.rfind(kScanOpenMiddle)) != std::string::npos) {
      facts.scanOpened = false;
      facts.scanOpenErrno = std::atoi(m.c_str() + at + std::strlen(kScanOpenMiddle));
    } else if (startsWith(m, "Instance001 doesnt have DB2 iKA installed.")) {
      probeMissed = true;
    } else if (startsWith(m, "stat(") &&
               (at = m.find(", DB2 Agent is not installed under instance = ")) !=
                   std::string::npos) {
      std::string dir = m.substr(at + std::strlen(", DB2 Agent is not installed under instance = "));
      entryNamed(facts, lastComponent(dir)).reason = "no Db2Agent file in it";
    } else if (startsWith(m, "stat(") && (at = m.rfind(") failed, errno: ")) != std::string::npos) {
      std::string path = m.substr(5, at - 5);
      int error = std::atoi(m.c_str() + at + std::strlen(") failed, errno: "));
      entryNamed(facts, lastComponent(path)).reason =
          std::string("cannot be examined: ") + std::strerror(error) +
          (error == ENOENT ? " (a dangling symbolic link?)" : "");
    } else if (startsWith(m, "not a dir : ")) {
      entryNamed(facts, m.substr(std::strlen("not a dir : "))).reason =
          "not a directory (only directories are instances)";
    } else if (startsWith(m, "Skipping ") && (at = m.find(": its ")) != std::string::npos) {
      entryNamed(facts, m.substr(9, at - 9)).reason =
          "its path is longer than " + std::to_string(ZORVAN_PATH_MAX - 1) + " bytes";
    } else if (between(m, "Got instance name:  ", "", text)) {
      entryNamed(facts, text).chosen = true;
    }
  }
  facts.defaultProbeHit = run.scanResult == 0 && !probeMissed;
}

void readBase(const DiscoveryRun &run, Facts &facts) {
  facts.stage = run.baseResult == 0 ? Stage::Bound : Stage::Other;
  for (const std::string &line : run.baseTrace) {
    std::string m, text;
    if (!messageOf(line, kBaseTag, m)) continue;
    bool failing = run.baseResult != 0;
    if (between(m, textBefore(ZORVAN_TEXT_PROPERTIES_PATH).c_str(), "", text)) {
      facts.propertiesPath = text;
    } else if (startsWith(m, ZORVAN_TEXT_SCAN_FAILED)) {
      if (failing) facts.stage = Stage::NoInstance;
    } else if (startsWith(m, "Properties path does not fit")) {
      if (failing) facts.stage = Stage::PathTooLong;
    } else if (between(m, textBefore(ZORVAN_TEXT_NO_PROPERTIES).c_str(), "", text)) {
      facts.propertiesPath = text;
      if (failing) facts.stage = Stage::NoProperties;
    } else if (startsWith(m, "dZORVANHOME in ") && m.find(" is longer than ") != std::string::npos) {
      if (failing) facts.stage = Stage::HomeTooLong;
    } else if (between(m, textBefore(ZORVAN_TEXT_NOT_ACCESSIBLE).c_str(),
                       textAfter(ZORVAN_TEXT_NOT_ACCESSIBLE).c_str(), text)) {
      facts.libraryPath = text;
      facts.libraryAccessible = false;
      if (failing) facts.stage = Stage::NotAccessible;
    } else if (between(m, "Home directory (dZORVANHOME) is ", "", text)) {
      facts.home = text;
      facts.libraryPath = text + "/Base/" ZORVAN_BACKEND_LIBRARY;
      facts.libraryAccessible = true;
    }
  }
  // A path the execute test saw names its home: "<home>/Base/libqxacsint.so".
  const std::string tail = "/Base/" ZORVAN_BACKEND_LIBRARY;
  if (facts.home.empty() && endsWith(facts.libraryPath, tail.c_str()))
    facts.home = facts.libraryPath.substr(0, facts.libraryPath.size() - tail.size());
  if (!facts.home.empty()) facts.baseDir = facts.home + "/Base";
  if (run.baseResult == 0) facts.baseDir = run.baseDir;
}

}  // namespace

bool messageOf(const std::string &line, const char *tag, std::string &message) {
  std::size_t n = std::strlen(tag);
  if (line.compare(0, n, tag) != 0 || line.compare(n, 2, ": ") != 0) return false;
  message = line.substr(n + 2);
  while (!message.empty() && message.back() == '\n') message.pop_back();
  return true;
}

Facts interpret(const DiscoveryRun &run) {
  Facts facts;
  facts.registry = run.registry;
  if (run.nameFound != 0) {
    facts.instance = run.name;
    bool vendorOptions = false;
    for (const std::string &line : run.nameTrace) {
      std::string m;
      if (messageOf(line, kNameTag, m) && startsWith(m, "GUI case:")) vendorOptions = true;
    }
    facts.instanceOrigin = vendorOptions ? "vendor options" : "ZORVAN_INST";
  } else if (run.scanCalled) {
    readScan(run, facts);
    if (run.scanResult == 0) {
      facts.instance = run.scanName;
      facts.instanceOrigin = "first-instance scan";
    }
  }
  readBase(run, facts);
  return facts;
}

}  // namespace doctor
