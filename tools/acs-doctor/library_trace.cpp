#include "library_trace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "zorvan/discovery.h"
#include "zorvan/trace_texts.h"

namespace doctor {

namespace {

bool endsWith(const std::string &text, const std::string &tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The values in place of a format's conversions when message has the
// format's shape: its fixed pieces in order, the last one at the end.
bool fields(const std::string &m, const char *format, std::vector<std::string> &values) {
  std::vector<std::string> pieces(1);
  for (const char *p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] != '\0' && p[1] != '%') {
      pieces.emplace_back();
      ++p;
    } else {
      pieces.back() += *p;
    }
  }
  while (!pieces.back().empty() && pieces.back().back() == '\n') pieces.back().pop_back();
  if (!startsWith(m, pieces[0]) || !endsWith(m, pieces.back())) return false;
  std::size_t at = pieces[0].size(), end = m.size() - pieces.back().size();
  if (end < at) return false;
  values.clear();
  for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
    std::size_t next = m.find(pieces[i], at);
    if (next == std::string::npos || next > end) return false;
    values.push_back(m.substr(at, next - at));
    at = next + pieces[i].size();
  }
  if (pieces.size() > 1) values.push_back(m.substr(at, end - at));
  return true;
}

// The value of a format's one conversion, or (second given) of its two.
bool between(const std::string &m, const char *format, std::string &first, std::string *second = nullptr) {
  std::vector<std::string> values;
  if (!fields(m, format, values) || values.size() != (second != nullptr ? 2u : 1u)) return false;
  first = values[0];
  if (second != nullptr) *second = values[1];
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

// The message of "tag: message" when the tag matches, trailing newlines
// removed; false for another tag.
bool messageOf(const std::string &line, const char *tag, std::string &message) {
  std::size_t n = std::strlen(tag);
  if (line.compare(0, n, tag) != 0 || line.compare(n, 2, ": ") != 0) return false;
  message = line.substr(n + 2);
  while (!message.empty() && message.back() == '\n') message.pop_back();
  return true;
}

void readName(const std::string &m, Facts &f) {
  std::string text;
  if (startsWith(m, ZORVAN_TEXT_VENDOR_OPTIONS)) {
    f.instanceOrigin = "vendor options";
  } else if (f.instanceOrigin == "vendor options" && between(m, ZORVAN_TEXT_VM_NAME, text)) {
    f.instance = text;
  } else if (between(m, ZORVAN_TEXT_VM_NAME_IGNORED, text)) {
    f.instanceIgnored = text;
    f.instanceIgnoredFrom = "vendor options";
    f.instanceOrigin = f.instance = "";
  } else if (between(m, ZORVAN_TEXT_ZORVAN_INST_IGNORED, text)) {
    f.instanceIgnored = text;
    f.instanceIgnoredFrom = "ZORVAN_INST";
  } else if (between(m, ZORVAN_TEXT_INSTANCE_VARIABLE, text)) {
    f.instanceOrigin = "ZORVAN_INST";
    f.instance = text;
  }
}

void readScan(const std::string &m, Facts &f, bool &probeMissed) {
  std::string text, value;
  f.scanRan = true;
  if (between(m, ZORVAN_TEXT_SCAN_OPEN_FAILED, text, &value)) {
    f.scanOpened = false;
    f.scanOpenErrno = std::atoi(value.c_str());
  } else if (startsWith(m, textBefore(ZORVAN_TEXT_NO_DEFAULT_AGENT))) {
    probeMissed = true;
  } else if (between(m, ZORVAN_TEXT_NO_AGENT, text, &value)) {
    entryNamed(f, lastComponent(value)).reason = "no Db2Agent file in it";
  } else if (between(m, ZORVAN_TEXT_ENTRY_STAT_FAILED, text, &value)) {
    int error = std::atoi(value.c_str());
    entryNamed(f, lastComponent(text)).reason =
        std::string("cannot be examined: ") + std::strerror(error) +
        (error == ENOENT ? " (a dangling symbolic link?)" : "");
  } else if (between(m, ZORVAN_TEXT_NOT_A_DIR, text)) {
    entryNamed(f, text).reason = "not a directory (only directories are instances)";
  } else if (between(m, ZORVAN_TEXT_ENTRY_TOO_LONG, text, &value)) {
    entryNamed(f, text).reason =
        "its path is longer than " + std::to_string(ZORVAN_PATH_MAX - 1) + " bytes";
  } else if (between(m, ZORVAN_TEXT_GOT_INSTANCE, text)) {
    entryNamed(f, text).chosen = true;
  }
}

void readBase(const std::string &m, Facts &f) {
  std::string text;
  if (between(m, ZORVAN_TEXT_PROPERTIES_PATH, text)) {
    f.propertiesPath = text;
  } else if (between(m, ZORVAN_TEXT_PUBLISHED, text) && startsWith(text, "ZORVAN_INST=")) {
    f.instance = text.substr(std::strlen("ZORVAN_INST="));
    f.instanceOrigin = "first-instance scan";
  } else if (startsWith(m, ZORVAN_TEXT_SCAN_FAILED)) {
    f.stage = Stage::NoInstance;
  } else if (startsWith(m, textBefore(ZORVAN_TEXT_PROPERTIES_PATH_TOO_LONG))) {
    f.stage = Stage::PathTooLong;
  } else if (between(m, ZORVAN_TEXT_NO_PROPERTIES, text)) {
    f.propertiesPath = text;
    f.stage = Stage::NoProperties;
  } else if (startsWith(m, textBefore(ZORVAN_TEXT_HOME_TOO_LONG))) {
    f.stage = Stage::HomeTooLong;
  } else if (between(m, ZORVAN_TEXT_NOT_ACCESSIBLE, text)) {
    f.libraryPath = text;
    f.stage = text.empty() ? Stage::NoHome : Stage::NotAccessible;
  } else if (between(m, ZORVAN_TEXT_HOME, text)) {
    f.home = text;
    f.libraryPath = text + "/Base/" ZORVAN_BACKEND_LIBRARY;
    f.stage = Stage::Bound;
  }
}

// The loader's lines after a discovery that succeeded.
void readLoader(const std::string &m, Facts &f) {
  std::string text;
  if (between(m, ZORVAN_TEXT_LIBRARY_TO_LOAD, text)) {
    f.loadTried = f.loaded = true;
    f.libraryPath = text;
  }
  std::vector<std::string> values;
  if (fields(m, ZORVAN_TEXT_DLOPEN_FAILED, values) && values.size() == 3) {
    f.loaded = false;
    f.loadError = values[1];
  }
  for (const EntryPoint &e : kEntryPoints)
    if (e.label != nullptr && between(m, e.label, text) && (text == "(nil)" || text == "0"))
      f.missing.push_back(e.symbol);
}

}  // namespace

std::string textBefore(const char *format) {
  const char *percent = std::strchr(format, '%');
  return percent == nullptr ? format : std::string(format, percent);
}

bool startsWith(const std::string &text, const std::string &head) {
  return text.compare(0, head.size(), head) == 0;
}

Facts interpret(const std::vector<std::string> &messages) {
  Facts f;
  bool probeMissed = false;
  for (const std::string &line : messages) {
    std::string m;
    std::vector<std::string> values;
    if (messageOf(line, ZORVAN_TAG_FIX_REGISTRY, m) && fields(m, ZORVAN_TEXT_QXREG_IGNORED, values) &&
        values.size() == 3) {
      f.qxregIgnored = values[0];
      f.qxregReason = values[1];
      // The directory at fault, when its owner or its write bits are.
      for (const char *fault : {ZORVAN_TEXT_FOREIGN_OWNER, ZORVAN_TEXT_CALLER_OWNER, ZORVAN_TEXT_WORLD_WRITABLE,
                                ZORVAN_TEXT_GROUP_WRITABLE})
        if (fields(std::string(f.qxregReason), fault, values) && !values.empty()) f.qxregFaultDir = values[0];
    } else if (messageOf(line, ZORVAN_TAG_INSTANCE_NAME, m)) {
      readName(m, f);
    } else if (messageOf(line, ZORVAN_TAG_SCAN, m)) {
      readScan(m, f, probeMissed);
    } else if (messageOf(line, ZORVAN_TAG_BASE_DIR, m)) {
      readBase(m, f);
    } else if (messageOf(line, ZORVAN_TAG_LOADER, m)) {
      if (startsWith(m, ZORVAN_TEXT_BASE_DIR_FAILED) && f.stage == Stage::Bound) f.stage = Stage::Other;
      if (f.stage == Stage::Bound) readLoader(m, f);
    }
  }
  f.defaultProbeHit = f.scanRan && f.instanceOrigin == "first-instance scan" && !probeMissed;
  // A path the execute test saw names its home: "<home>/Base/libqxacsint.so".
  const std::string tail = "/Base/" ZORVAN_BACKEND_LIBRARY;
  if (f.home.empty() && endsWith(f.libraryPath, tail))
    f.home = f.libraryPath.substr(0, f.libraryPath.size() - tail.size());
  if (!f.home.empty()) f.baseDir = f.home + "/Base";
  return f;
}

// In the order of Stage.
const char *const kStageNames[] = {"bound", "no-instance", "properties-path-too-long", "properties-not-opened",
                                   "no-home-directory", "home-too-long", "backend-not-accessible", "unexpected"};

const char *stageName(Stage stage) { return kStageNames[static_cast<int>(stage)]; }

Stage stageNamed(const std::string &name) {
  for (int i = 0; i < static_cast<int>(Stage::Other); ++i)
    if (name == kStageNames[i]) return static_cast<Stage>(i);
  return Stage::Other;
}

}  // namespace doctor
