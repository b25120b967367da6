// acs-doctor --trace FILE: a trace log read back as calls. Per process,
// the ACS calls in the order they were made, each with its result and
// whether the library or the back end gave it; for the first failure, its
// cause, from the same table of causes the live check uses.
//
// A trace line is "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss <tag>: <message>".
// Lines of several processes may interleave, a line may be cut at the
// formatting limit, the last one may still be being written, and anything
// else may have been appended to the file; none of that stops the reading.
#include "trace_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "acs_return_codes.h"
#include "causes.h"
#include "process_run.h"
#include "report.h"
#include "subject.h"
#include "trace_line.h"
#include "zorvan/discovery.h"

namespace doctor {

namespace {

using nlohmann::json;

constexpr off_t kTraceTailBytes = off_t(16) << 20;
// A trace left on for months holds more processes than a reader can take
// in: the newest are explained, the others counted.
constexpr std::size_t kTraceProcesses = 1000;
// The explanation of that, as JSON.
constexpr std::size_t kTraceDocumentLimit = std::size_t(64) << 20;

struct Call {
  const EntryPoint *entry = nullptr;
  bool finished = false;
  int rc = 0;
  bool notBound = false;           // the library failed it: no back end bound
  bool forwarded = false;          // the back end was called and gave rc
  bool bindingFailed = false;      // db2ACSInitialize could not bind
  std::vector<std::string> inner;  // "tag: message" of the loader and discovery
};

struct Process {
  long pid = 0;
  std::vector<Call> calls;
  std::string registry;  // as its db2ACSInitialize logged it
};

const EntryPoint *entryOfTag(const std::string &tag) {
  for (const EntryPoint &e : kEntryPoints)
    if (tag == e.tag) return &e;
  return nullptr;
}

std::string codeText(int rc) {
  const char *name = acsReturnCodeName(rc);
  return std::to_string(rc) + (name != nullptr ? std::string(" (") + name + ")" : " (no published name)");
}

bool queryApi(const Call &call) { return call.entry == &kEntryPoints[0]; }

bool failed(const Call &c) {
  // DB2's contract: no further object matches the query.
  bool endOfListing = std::string(c.entry->function) == "db2ACSGetNextObject" && c.rc == DB2ACS_RC_END_OF_DATA;
  return c.finished && !queryApi(c) && (c.notBound || c.bindingFailed || (c.rc != DB2ACS_RC_OK && !endOfListing));
}

const char *outcome(const Call &c) {
  if (!c.finished) return "unfinished (no leaving line)";
  if (failed(c)) return "FAILED";
  return c.rc == DB2ACS_RC_END_OF_DATA && !queryApi(c) ? "ok (end of the listing)" : "ok";
}

std::vector<Problem> whyItFailed(const Call &call, const std::string &registry, const Context &base) {
  std::string function = call.entry->function;
  if (call.bindingFailed) {
    Facts f = interpret(call.inner);
    f.registry = registry;
    f.instancesDir = registry + "/Zorvan";
    Context c = base;
    c.registryFromVariable = registry != ZORVAN_DEFAULT_REGISTRY;
    std::vector<Problem> problems = f.stage == Stage::Bound ? explainLoad(f, c) : explainDiscovery(f, c);
    if (problems.empty()) problems.push_back(describe("discovery-failed", {}));
    return problems;
  }
  CauseValues v = checkValues(base);
  v.insert({{"function", function}, {"code", codeText(call.rc)}, {"rc", std::to_string(call.rc)}});
  return {describe(call.notBound ? "call-failed-unbound" : "call-failed-in-backend", v)};
}

// A process's last call without a leaving line: it was still in it when
// the trace was read, or it died or hung there; in the back end's own
// initialisation when "Library to be loaded" is the last line it wrote.
Problem unfinished(const Call &call, const Context &c) {
  std::string loading = std::string(ZORVAN_TAG_LOADER) + ": " + textBefore(ZORVAN_TEXT_LIBRARY_TO_LOAD);
  CauseValues v = checkValues(c);
  v["function"] = call.entry->function;
  bool inLoad = !call.inner.empty() && startsWith(call.inner.back(), loading);
  if (inLoad) v["lib"] = interpret(call.inner).libraryPath;
  return describe(inLoad ? "call-unfinished/loading" : "call-unfinished", v);
}

// One record: a line of the library's, and one of its processes' calls.
void readRecord(long pid, const std::string &tag, const std::string &message, std::vector<Process> &processes,
                std::map<long, std::size_t> &byPid) {
  auto found = byPid.emplace(pid, processes.size()).first;
  if (found->second == processes.size()) processes.push_back(Process{pid, {}, ""});
  Process &p = processes[found->second];
  const EntryPoint *entry = entryOfTag(tag);
  if (entry != nullptr && message == ZORVAN_TEXT_ENTERED) {
    Call call;
    call.entry = entry;
    // db2ACSQueryApiVersion answers 1 at once and writes no leaving line.
    call.finished = queryApi(call);
    call.rc = call.finished ? 1 : 0;
    p.calls.push_back(call);
    return;
  }
  if (p.calls.empty()) return;
  Call &call = p.calls.back();
  if (entry == nullptr) {
    call.inner.push_back(tag + ": " + message);
    return;
  }
  if (entry != call.entry) return;
  std::string leaving = textBefore(ZORVAN_TEXT_LEAVING_RESULT), qxreg = textBefore(ZORVAN_TEXT_QXREG);
  if (startsWith(message, leaving) && std::sscanf(message.c_str() + leaving.size(), "%d", &call.rc) == 1) {
    call.finished = true;
  } else if (message == ZORVAN_TEXT_NOT_BOUND) {
    call.notBound = true;
  } else if (message == ZORVAN_TEXT_BINDING_FAILED) {
    call.bindingFailed = true;
  } else if (entry->calling != nullptr && message == entry->calling) {
    call.forwarded = true;
  } else if (startsWith(message, qxreg)) {
    p.registry = message.substr(qxreg.size());
    if (!p.registry.empty() && p.registry.back() == ']') p.registry.pop_back();
  }
}

// The context of a trace's writer: uid, and pid while it still runs.
Context writerContext(uid_t uid, pid_t pid, const std::string &user) {
  Context c;
  c.uid = uid;
  c.pid = pid;
  c.user = user;
  c.registryOrigin = "as the trace shows it";
  // Root's own login files say nothing of the instance owner's.
  if (uid != 0) c.login = loginFilesOf(uid);
  return c;
}

}  // namespace

json readTrace(const std::string &bytes, uid_t owner) {
  std::vector<Process> processes;
  std::map<long, std::size_t> byPid, lastLine;
  std::size_t records = 0, foreign = 0, index = 0;
  long pid = 0;
  std::string line, rest;
  // The processes whose last lines are the newest.
  for (std::istringstream lines(bytes); std::getline(lines, line); ++index)
    if (zorvan::splitTraceLine(line, pid, rest)) lastLine[pid] = index;
  std::vector<std::size_t> ends;
  for (const auto &p : lastLine) ends.push_back(p.second);
  std::sort(ends.begin(), ends.end());
  std::size_t newest = ends.size() > kTraceProcesses ? ends[ends.size() - kTraceProcesses] : 0;
  index = 0;
  for (std::istringstream lines(bytes); std::getline(lines, line); ++index) {
    if (line.empty()) continue;  // the scan's messages end in a newline of their own
    if (!zorvan::splitTraceLine(line, pid, rest)) {
      ++foreign;
      continue;
    }
    ++records;
    if (lastLine[pid] < newest) continue;
    // A tag cut at the formatting limit: the record is kept, without a message.
    std::size_t colon = rest.find(": ");
    bool whole = colon != std::string::npos && colon != 0;
    readRecord(pid, whole ? rest.substr(0, colon) : rest, whole ? rest.substr(colon + 2) : "", processes, byPid);
  }
  json doc = {{"exit_code", kExitBinds}, {"foreign_lines", foreign},
              {"skipped_processes", lastLine.size() - std::min(lastLine.size(), kTraceProcesses)},
              {"partial_last_line", !bytes.empty() && bytes.back() != '\n'}, {"processes", json::array()}};
  // Whom a process's lines stand for: the trace file's owner, the user of
  // every process the library lets write it, unless that is root, whose
  // file takes every user's lines. A writer that still runs with the
  // library mapped is checked best as itself (--pid); a writer of root's
  // file that has gone is left to the reader to name. A trace left on for
  // months holds thousands of processes that failed alike: the writers
  // that have gone share one context, and each failure is explained once.
  const Context gone = writerContext(owner, 0, owner != 0 ? userName(owner) : "<instance owner>");
  std::map<std::string, json> explained;
  auto explain = [&](const Process &p, const Call &c) {
    Subject running;
    std::string error;
    bool runs = !mappedAcsLibrary(static_cast<pid_t>(p.pid)).empty() &&
                subjectFromPid(std::to_string(p.pid), running, error) && (owner == 0 || running.uid == owner);
    Context writer = runs ? writerContext(running.uid, static_cast<pid_t>(p.pid), running.user) : gone;
    std::string key = std::to_string(writer.pid) + ' ' + c.entry->function + ' ' + std::to_string(c.rc) +
                      (c.finished ? "f" : "") + (c.notBound ? "n" : "") + (c.bindingFailed ? "b" : "") + p.registry;
    for (const std::string &inner : c.inner) key += '\n' + inner;
    auto found = explained.find(key);
    if (found == explained.end())
      found = explained.emplace(key, problemsJson(failed(c) ? whyItFailed(c, p.registry, writer)
                                                            : std::vector<Problem>{unfinished(c, writer)})).first;
    return found->second;
  };
  for (const Process &p : processes) {
    json calls = json::array(), first, problems = json::array();
    for (std::size_t i = 0; i < p.calls.size(); ++i) {
      const Call &c = p.calls[i];
      std::string from = c.notBound || c.bindingFailed || queryApi(c) ? "library" : c.forwarded ? "back end" : "";
      calls.push_back({{"index", i + 1}, {"function", c.entry->function},
                       {"rc", c.finished ? json(c.rc) : json()}, {"from", from}, {"outcome", outcome(c)}});
      if (first.is_null() && failed(c)) {
        first = i + 1;
        problems = explain(p, c);
        doc["exit_code"] = kExitDoesNotBind;
      }
    }
    if (first.is_null() && !p.calls.empty() && !p.calls.back().finished)
      problems = explain(p, p.calls.back());
    doc["processes"].push_back({{"pid", p.pid}, {"calls", calls}, {"first_failure", first}, {"problems", problems}});
  }
  return records == 0 ? json() : doc;
}

namespace {

void renderText(const std::string &path, const json &doc, std::FILE *out) {
  std::size_t failing = 0;
  for (const json &p : doc["processes"]) failing += p["first_failure"].is_null() ? 0 : 1;
  std::size_t count = doc["processes"].size(), foreign = doc["foreign_lines"].get<std::size_t>();
  std::fprintf(out, "acs-doctor: %s: %zu process%s, %s.\n", path.c_str(), count, count == 1 ? "" : "es",
               failing == 0 ? "no call failed" : (std::to_string(failing) + " with a failed call").c_str());
  if (doc["skipped_bytes"].get<std::size_t>() != 0)
    std::fprintf(out, "Only its last %lld MiB were read, the first %zu bytes skipped; to read those, split it at "
                      "line ends (split -C %lldM %s part.) and explain each part.\n",
                 static_cast<long long>(kTraceTailBytes >> 20), doc["skipped_bytes"].get<std::size_t>(),
                 static_cast<long long>(kTraceTailBytes >> 20), path.c_str());
  if (doc["skipped_processes"].get<std::size_t>() != 0)
    std::fprintf(out, "Only the newest %zu processes are explained; %zu older ones are left out.\n", kTraceProcesses,
                 doc["skipped_processes"].get<std::size_t>());
  for (const json &p : doc["processes"]) {
    std::fprintf(out, "\nprocess %ld:\n", p["pid"].get<long>());
    std::fprintf(out, "%3s  %-26s %6s  %-9s %s\n", "#", "function", "rc", "from", "outcome");
    for (const json &c : p["calls"]) {
      std::string rc = c["rc"].is_null() ? "-" : std::to_string(c["rc"].get<int>());
      std::fprintf(out, "%3zu  %-26s %6s  %-9s %s%s\n", c["index"].get<std::size_t>(),
                   c["function"].get<std::string>().c_str(), rc.c_str(), c["from"].get<std::string>().c_str(),
                   c["outcome"].get<std::string>().c_str(), c["index"] == p["first_failure"] ? "   <- first failure" : "");
    }
    printProblems(out, problemsFrom(p["problems"]));
  }
  if (foreign != 0)
    std::fprintf(out, "\n%zu line%s that are not the library's trace lines were skipped.\n", foreign,
                 foreign == 1 ? "" : "s");
  if (doc["partial_last_line"].get<bool>())
    std::fprintf(out, "The last line has no newline: it was still being written, or the file "
                      "was cut.\n");
}

}  // namespace

namespace {

// Reading a trace file that a hung file system serves never ends: the
// doctor gives up after this long.
constexpr int kTraceSeconds = 60;

void readingTooLong(int) {
  static const char kMessage[] = "acs-doctor: --trace: the file could not be read within 60 s\n";
  if (write(2, kMessage, sizeof kMessage - 1) < 0) {
  }
  _exit(kExitUsage);
}

// The newest kTraceTailBytes of a regular file, from its first whole line;
// skipped says how many bytes came before. Anything else (a FIFO, a
// device, a link to one) is refused: it could block or never end.
bool readTail(const std::string &path, std::string &bytes, struct stat &st, std::size_t &skipped, std::string &error) {
  // Judged before it is opened: opening a device can act on it, opening a
  // FIFO waits for a writer. Opened, it must still be that file.
  signal(SIGALRM, readingTooLong);
  alarm(kTraceSeconds);
  struct stat opened;
  bool named = stat(path.c_str(), &st) == 0;
  int fd = named && S_ISREG(st.st_mode) ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
  if (named && !S_ISREG(st.st_mode)) {
    error = "not a regular file (" + std::string(S_ISFIFO(st.st_mode) ? "a FIFO" : S_ISDIR(st.st_mode) ? "a directory"
                                                                                                         : "a device or socket") +
            "); a trace log is one";
    return false;
  }
  if (fd < 0 || fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    error = fd < 0 ? std::string("cannot read it: ") + strerror(errno) : "it was replaced while it was opened";
    if (fd >= 0) close(fd);
    return false;
  }
  // Tracing left on for months makes gigabytes, and reading them whole
  // takes ten times that in memory on DB2's own server.
  off_t from = st.st_size > kTraceTailBytes ? st.st_size - kTraceTailBytes : 0;
  char buffer[1 << 16];
  for (off_t at = from; bytes.size() < static_cast<std::size_t>(kTraceTailBytes);) {
    ssize_t n = pread(fd, buffer, std::min<std::size_t>(sizeof buffer, kTraceTailBytes - bytes.size()), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = std::string("cannot read it: ") + strerror(errno);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  alarm(0);
  close(fd);
  std::size_t start = 0;
  if (from != 0) {
    std::size_t newline = bytes.find('\n');
    start = newline == std::string::npos ? bytes.size() : newline + 1;
    bytes.erase(0, start);
  }
  skipped = static_cast<std::size_t>(from) + start;
  return error.empty();
}

// Whose rights the reading takes: the trace file's owner, the only user
// besides root whose processes the library lets write it; nobody for a
// file of root's, which takes every user's lines and so proves none.
bool becomeReader(uid_t owner) {
  const trust::Accounts::User *pw = owner != 0 ? accounts().user(owner) : accounts().named("nobody");
  uid_t uid = pw != nullptr ? pw->uid : owner != 0 ? owner : 65534;
  gid_t gid = pw != nullptr ? pw->gid : 65534;
  std::vector<gid_t> groups = pw != nullptr ? accounts().groupsOf(*pw) : std::vector<gid_t>{gid};
  if (geteuid() != 0) return true;
  return setgroups(groups.size(), groups.data()) == 0 && setresgid(gid, gid, gid) == 0 &&
         setresuid(uid, uid, uid) == 0 && prctl(PR_SET_DUMPABLE, 0) == 0;
}

}  // namespace

int explainTraceFile(const std::string &path, bool asJson, std::FILE *out, std::FILE *err) {
  std::string error, bytes;
  struct stat st;
  std::size_t skipped = 0;
  if (!readTail(path, bytes, st, skipped, error)) {
    std::fprintf(err, "acs-doctor: --trace %s: %s\n", fix::visible(path).c_str(), error.c_str());
    return kExitUsage;
  }
  // Everything the reading looks up on the file system (the paths a trace
  // names, which anyone who can write it may forge) is looked up with the
  // reader's rights, in a process of its own.
  ChildRun run;
  auto reader = [&]() {
    if (!becomeReader(st.st_uid)) _exit(126);
    json doc = readTrace(bytes, st.st_uid);
    writeAll(1, doc.dump(-1, ' ', false, json::error_handler_t::replace));
    _exit(0);
  };
  if (!runChild(reader, kTraceSeconds, run, error, -1, kTraceDocumentLimit) || run.timedOut || run.cut) {
    std::fprintf(err, "acs-doctor: --trace %s: %s\n", fix::visible(path).c_str(),
                 !error.empty() ? error.c_str() : run.timedOut ? "could not be explained within 60 s" : "too large to explain");
    return kExitUsage;
  }
  json doc = json::parse(run.output, nullptr, false);
  if (doc.is_discarded()) {
    std::fprintf(err, "acs-doctor: --trace %s: could not be read as its owner (%s)\n", fix::visible(path).c_str(),
                 fix::visible(run.output.substr(0, 200)).c_str());
    return kExitUsage;
  }
  if (doc.is_null()) {
    std::fprintf(err, "acs-doctor: --trace %s: no trace lines in it (%s); a trace line starts "
                      "with LIBDB2ACS-<pid>:\n",
                 fix::visible(path).c_str(), bytes.empty() ? "the file is empty" : "is it a trace log?");
    return kExitUsage;
  }
  doc["skipped_bytes"] = skipped;
  if (asJson)
    writeJson(doc, out);
  else
    writeVisible([&](std::FILE *text) { renderText(path, doc, text); }, out);
  return doc["exit_code"].get<int>();
}

}  // namespace doctor
