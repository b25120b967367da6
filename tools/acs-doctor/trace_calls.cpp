#include "trace_calls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "causes.h"
#include "explain.h"
#include "interpret.h"
#include "trace_text_match.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_texts.h"

namespace doctor {

namespace {

struct EntryText {
  const char *function;
  const char *tag;
  const char *calling;  // the calling line, written just before the back end runs
  const char *label;    // the loader's diagnostic label, "f_db2ACSVeri = %p"
  const char *symbol;
};

const EntryText kEntries[] = {
    {"db2ACSQueryApiVersion", "db2ACSQueryApiVersion()", nullptr, nullptr, nullptr},
#define ACS_ENTRY_TEXT(Name, Code, Label, Calling, Params, Args) \
  {"db2ACS" #Name, "db2ACS" #Name "()", Calling, Label, "db2ACS" #Name "pp"},
#define ACS_INITIALIZE_ENTRY ACS_ENTRY_TEXT
#define ACS_FORWARDER_ENTRY ACS_ENTRY_TEXT
#include "zorvan/entry_points.def"
#undef ACS_ENTRY_TEXT
};

const EntryText *entryOfTag(const std::string &tag) {
  for (const EntryText &e : kEntries)
    if (tag == e.tag) return &e;
  return nullptr;
}

bool readLeaving(const std::string &message, int &rc) {
  std::string head = textBefore(ZORVAN_TEXT_LEAVING_RESULT);
  if (!startsWith(message, head)) return false;
  return std::sscanf(message.c_str() + head.size(), "%d", &rc) == 1;
}

void judge(TracedCall &call) {
  if (!call.finished) {
    call.outcome = CallOutcome::Unfinished;
  } else if (call.function == "db2ACSQueryApiVersion") {
    call.rc = 1;  // it answers 1 and writes no leaving line
    call.outcome = CallOutcome::Ok;
  } else if (call.notBound || call.bindingFailed) {
    call.outcome = CallOutcome::Failed;
  } else if (call.rc == 0) {
    call.outcome = CallOutcome::Ok;
  } else if (call.function == "db2ACSGetNextObject" && call.rc == 1) {
    // The reference back end's "no more objects": a listing's normal end.
    call.outcome = CallOutcome::EndOfList;
  } else {
    call.outcome = CallOutcome::Failed;
  }
}

// The discovery run as the trace shows it, for the live check's reading.
DiscoveryRun runFromTrace(const TracedCall &call, const std::string &registry) {
  DiscoveryRun run;
  run.registry = registry;
  run.baseResult = 0;
  for (const std::string &line : call.inner) {
    std::string m;
    if (messageOf(line, "GetZorvanInstanceName", m)) {
      run.nameTrace.push_back(line);
      if (startsWith(m, "ZORVAN_INST is set to ") || startsWith(m, "vmName is ")) {
        run.nameFound = 1;
        run.name = m.substr(m.find(" is ") + 4);
        if (startsWith(m, "ZORVAN_INST is set to ")) run.name = m.substr(22);
      }
    } else if (messageOf(line, "get_first_zorvan_instname", m)) {
      run.scanCalled = true;
      run.scanTrace.push_back(line);
    } else if (messageOf(line, "GetZorvanBaseDir", m)) {
      run.baseTrace.push_back(line);
      if (startsWith(m, textBefore(ZORVAN_TEXT_SCAN_FAILED))) run.scanResult = -1;
      if (startsWith(m, "Setting the env: ") && m.find('=') != std::string::npos) {
        run.scanResult = 0;
        std::size_t eq = m.find('=');
        run.scanName = m.substr(eq + 1, m.rfind(" succeeded") - eq - 1);
      }
    } else if (messageOf(line, "initializeFptrs()", m) &&
               startsWith(m, ZORVAN_TEXT_BASE_DIR_FAILED)) {
      run.baseResult = -1;
    }
  }
  return run;
}

// Why db2ACSInitialize could not bind, from its loader and discovery lines.
void explainBinding(const TracedCall &call, const std::string &registry, TracedProcess &p) {
  DiscoveryRun run = runFromTrace(call, registry);
  Facts f = interpret(run);
  CauseValues v = factValues(f, "the DB2 instance owner", "as the trace shows it");
  if (run.baseResult != 0) {
    switch (f.stage) {
      case Stage::NoInstance:
        // QXREG was set when the registry the trace shows is not the default.
        if (!f.scanOpened && f.scanOpenErrno == ENOENT &&
            explainRegistryMissing(f.registry, f.registry != ZORVAN_DEFAULT_REGISTRY, v, p.problems))
          return;
        if (!f.scanOpened) {
          v["error"] = std::strerror(f.scanOpenErrno);
          p.problems.push_back(describe(f.scanOpenErrno == ENOENT ? Cause::InstancesDirMissing
                                                             : Cause::InstancesDirUnreadable, v));
        } else {
          v["example"] = "<instance>";
          v["scanned"] = ", and no instance directory scanned holds Db2Agent";
          p.problems.push_back(describe(Cause::NoAgent, v));
        }
        return;
      case Stage::NoProperties:
        p.problems.push_back(describe(Cause::PropertiesNotOpened, v));
        return;
      case Stage::PathTooLong:
        p.problems.push_back(describe(Cause::PropertiesPathTooLong, v));
        return;
      case Stage::HomeTooLong:
        p.problems.push_back(describe(Cause::HomeTooLong, v));
        return;
      case Stage::NotAccessible:
        if (f.libraryPath.empty() && readProperties(f.propertiesPath).hasValue)
          p.problems.push_back({Severity::Note,
                                f.propertiesPath + " gave no home directory when the trace was "
                                "written, but has a dZORVANHOME line now: it was changed since.",
                                "Check the installation as it is now: acs-doctor --as-user "
                                "<instance owner>"});
        else if (f.libraryPath.empty())
          p.problems.push_back(explainKeyLine(f.propertiesPath, v));
        else if (f.libraryPath.find('\r') != std::string::npos)
          p.problems.push_back(describe(Cause::CrLfLineEnds, v));
        else
          p.problems.push_back(describe(Cause::BackendNotAccessible, v));
        return;
      default:
        p.problems.push_back(describe(Cause::DiscoveryUnexpected, v));
        return;
    }
  }
  // Discovery succeeded: the loader's own lines say what went wrong.
  std::string missing;
  for (const std::string &line : call.inner) {
    std::string m;
    if (!messageOf(line, "initializeFptrs()", m)) continue;
    std::string head = textBefore(ZORVAN_TEXT_LIBRARY_TO_LOAD);
    if (startsWith(m, head) && m.size() >= head.size() + 2)
      v["lib"] = m.substr(head.size(), m.size() - head.size() - 2);
    head = textBefore(ZORVAN_TEXT_DLOPEN_FAILED);
    if (startsWith(m, head)) {
      std::size_t e = m.find("error = \"");
      std::size_t pwd = m.rfind("\", pwd=\"");
      if (e != std::string::npos && pwd != std::string::npos && pwd > e + 9)
        v["error"] = m.substr(e + 9, pwd - e - 9);
      p.problems.push_back(describe(Cause::BackendLoadFailed, v));
      return;
    }
    for (const EntryText &e : kEntries) {
      if (e.label == nullptr) continue;
      std::string labelHead = textBefore(e.label);
      if (startsWith(m, labelHead) && (m.substr(labelHead.size()) == "(nil)" ||
                                       m.substr(labelHead.size()) == "0"))
        missing += (missing.empty() ? "" : ", ") + std::string(e.symbol);
    }
  }
  if (!missing.empty()) {
    v["missing"] = missing;
    p.problems.push_back(describe(Cause::BackendLacksEntryPoints, v));
    return;
  }
  p.problems.push_back(describe(Cause::DiscoveryUnexpected, v));
}

void explainFailure(TracedProcess &p, const std::string &registry) {
  const TracedCall &call = p.calls[static_cast<std::size_t>(p.firstFailure)];
  if (call.bindingFailed) return explainBinding(call, registry, p);
  if (call.notBound) {
    p.problems.push_back({Severity::Error,
                          call.function + " failed in the library with " + std::to_string(call.rc) +
                              ": no back end was bound (db2ACSInitialize failed or was not called "
                              "in this process).",
                          "Fix db2ACSInitialize first; check with acs-doctor --as-user <instance owner>."});
    return;
  }
  p.problems.push_back({Severity::Error,
                        call.function + " returned " + std::to_string(call.rc) +
                            ": the error came from the back end (" + call.function +
                            "pp), not from this library.",
                        "Look up return code " + std::to_string(call.rc) +
                            " in the back end's documentation and its own log."});
}

}  // namespace

const char *outcomeName(CallOutcome outcome) {
  switch (outcome) {
    case CallOutcome::Ok: return "ok";
    case CallOutcome::EndOfList: return "ok (no more objects)";
    case CallOutcome::Failed: return "FAILED";
    case CallOutcome::Unfinished: return "unfinished (no leaving line)";
  }
  return "?";
}

std::vector<TracedProcess> tracedProcesses(const ParsedTrace &trace) {
  std::vector<TracedProcess> processes;
  std::map<long, std::size_t> byPid;
  std::map<long, std::string> registryOf;
  for (const TraceRecord &r : trace.records) {
    auto found = byPid.find(r.pid);
    if (found == byPid.end()) {
      found = byPid.emplace(r.pid, processes.size()).first;
      processes.push_back(TracedProcess{});
      processes.back().pid = r.pid;
    }
    TracedProcess &p = processes[found->second];
    const EntryText *entry = entryOfTag(r.tag);
    if (entry != nullptr && r.message == ZORVAN_TEXT_ENTERED) {
      // db2ACSQueryApiVersion writes no leaving line: the next call ends it.
      if (!p.calls.empty() && p.calls.back().function == "db2ACSQueryApiVersion")
        p.calls.back().finished = true;
      TracedCall call;
      call.function = entry->function;
      p.calls.push_back(call);
      continue;
    }
    if (p.calls.empty()) continue;
    TracedCall &call = p.calls.back();
    int rc = 0;
    if (entry != nullptr && entry->function == call.function) {
      if (readLeaving(r.message, rc)) {
        call.finished = true;
        call.rc = rc;
      } else if (r.message == ZORVAN_TEXT_NOT_BOUND) {
        call.notBound = true;
      } else if (r.message == ZORVAN_TEXT_BINDING_FAILED) {
        call.bindingFailed = true;
      } else if (entry->calling != nullptr && r.message == entry->calling) {
        call.forwarded = true;
      } else if (startsWith(r.message, textBefore(ZORVAN_TEXT_QXREG))) {
        std::string head = textBefore(ZORVAN_TEXT_QXREG);
        std::string value = r.message.substr(head.size());
        if (!value.empty() && value.back() == ']') value.pop_back();
        registryOf[r.pid] = value;
      }
    } else if (entry == nullptr) {
      call.inner.push_back(r.tag + ": " + r.message);
    }
  }
  for (TracedProcess &p : processes) {
    if (!p.calls.empty() && p.calls.back().function == "db2ACSQueryApiVersion")
      p.calls.back().finished = true;
    for (std::size_t i = 0; i < p.calls.size(); ++i) {
      judge(p.calls[i]);
      if (p.firstFailure < 0 && p.calls[i].outcome == CallOutcome::Failed)
        p.firstFailure = static_cast<int>(i);
    }
    if (p.firstFailure >= 0) explainFailure(p, registryOf[p.pid]);
  }
  return processes;
}

}  // namespace doctor
