#include "trace_calls.h"

#include <cstdio>
#include <map>
#include <sstream>

#include "acs_return_codes.h"
#include "explain.h"
#include "trace_line.h"
#include "zorvan/discovery.h"
#include "zorvan/trace_texts.h"

namespace doctor {

namespace {

const EntryPoint *entryOfTag(const std::string &tag) {
  for (const EntryPoint &e : kEntryPoints)
    if (tag == e.tag) return &e;
  return nullptr;
}

bool readLeaving(const std::string &message, int &rc) {
  std::string head = textBefore(ZORVAN_TEXT_LEAVING_RESULT);
  return startsWith(message, head) && std::sscanf(message.c_str() + head.size(), "%d", &rc) == 1;
}

std::string codeText(int rc) {
  const char *name = acsReturnCodeName(rc);
  return std::to_string(rc) + (name != nullptr ? std::string(" (") + name + ")" : " (no published name)");
}

CallOutcome outcomeOf(TracedCall &call) {
  if (!call.finished) return CallOutcome::Unfinished;
  if (call.function == "db2ACSQueryApiVersion") {
    call.rc = 1;  // it answers 1 and writes no leaving line
    return CallOutcome::Ok;
  }
  if (call.notBound || call.bindingFailed) return CallOutcome::Failed;
  if (call.rc == DB2ACS_RC_OK) return CallOutcome::Ok;
  // DB2's contract: no further object matches the query.
  if (call.function == "db2ACSGetNextObject" && call.rc == DB2ACS_RC_END_OF_DATA)
    return CallOutcome::EndOfListing;
  return CallOutcome::Failed;
}

void explainFailure(TracedProcess &p, const std::string &registry, const Context &base) {
  const TracedCall &call = p.calls[static_cast<std::size_t>(p.firstFailure)];
  if (call.bindingFailed) {
    Facts f = interpret(call.inner);
    f.registry = registry;
    f.instancesDir = registry + "/Zorvan";
    Context c = base;
    c.registryFromVariable = registry != ZORVAN_DEFAULT_REGISTRY;
    p.problems = f.stage == Stage::Bound ? explainLoad(f, c) : explainDiscovery(f, c);
    if (p.problems.empty()) p.problems.push_back(describe("discovery-failed", {}));
    return;
  }
  if (call.notBound) {
    p.problems.push_back({Severity::Error,
                          call.function + " failed in the library with " + codeText(call.rc) +
                              ": no back end was bound (db2ACSInitialize failed or was not called "
                              "in this process).",
                          "Fix db2ACSInitialize first; check with acs-doctor --as-user " + base.user + "."});
    return;
  }
  p.problems.push_back({Severity::Error,
                        call.function + " returned " + codeText(call.rc) +
                            ": the error came from the back end (" + call.function +
                            "pp), not from this library.",
                        "Look up return code " + std::to_string(call.rc) +
                            " in the back end's documentation and its own log."});
}

// One line without its newline; false when it is no trace line.
bool parseTraceLine(const std::string &line, TraceRecord &out) {
  std::string rest;
  if (!zorvan::splitTraceLine(line, out.pid, rest)) return false;
  std::size_t colon = rest.find(": ");
  // A tag cut at the formatting limit: the record is kept, without a message.
  out.tag = colon == std::string::npos || colon == 0 ? rest : rest.substr(0, colon);
  out.message = colon == std::string::npos || colon == 0 ? "" : rest.substr(colon + 2);
  return true;
}

}  // namespace

ParsedTrace parseTrace(const std::string &bytes) {
  ParsedTrace parsed;
  parsed.partialLastLine = !bytes.empty() && bytes.back() != '\n';
  std::istringstream lines(bytes);
  TraceRecord record;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;  // the scan's messages end in a newline of their own
    if (parseTraceLine(line, record))
      parsed.records.push_back(record);
    else
      ++parsed.foreignLines;
  }
  return parsed;
}

const char *outcomeName(CallOutcome outcome) {
  // In the order of CallOutcome.
  static const char *const kNames[] = {"ok", "ok (end of the listing)", "FAILED",
                                       "unfinished (no leaving line)"};
  return kNames[static_cast<int>(outcome)];
}

std::vector<TracedProcess> tracedProcesses(const ParsedTrace &trace, uid_t owner) {
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
    const EntryPoint *entry = entryOfTag(r.tag);
    if (entry != nullptr && r.message == ZORVAN_TEXT_ENTERED) {
      TracedCall call;
      call.function = entry->function;
      // db2ACSQueryApiVersion answers at once and writes no leaving line.
      call.finished = entry->calling == nullptr;
      p.calls.push_back(call);
      continue;
    }
    if (p.calls.empty()) continue;
    TracedCall &call = p.calls.back();
    int rc = 0;
    if (entry != nullptr && entry->function == call.function) {
      std::string head = textBefore(ZORVAN_TEXT_QXREG);
      if (readLeaving(r.message, rc)) {
        call.finished = true;
        call.rc = rc;
      } else if (r.message == ZORVAN_TEXT_NOT_BOUND) {
        call.notBound = true;
      } else if (r.message == ZORVAN_TEXT_BINDING_FAILED) {
        call.bindingFailed = true;
      } else if (entry->calling != nullptr && r.message == entry->calling) {
        call.forwarded = true;
      } else if (startsWith(r.message, head)) {
        std::string value = r.message.substr(head.size());
        if (!value.empty() && value.back() == ']') value.pop_back();
        registryOf[r.pid] = value;
      }
    } else if (entry == nullptr) {
      call.inner.push_back(r.tag + ": " + r.message);
    }
  }
  Context context;
  context.user = userName(owner);
  context.uid = owner;
  context.registryOrigin = "as the trace shows it";
  // A trace root wrote says nothing of the instance owner's login files.
  if (owner != 0) context.login = loginFilesOf(owner);
  for (TracedProcess &p : processes) {
    for (std::size_t i = 0; i < p.calls.size(); ++i) {
      p.calls[i].outcome = outcomeOf(p.calls[i]);
      if (p.firstFailure < 0 && p.calls[i].outcome == CallOutcome::Failed)
        p.firstFailure = static_cast<int>(i);
    }
    if (p.firstFailure >= 0) explainFailure(p, registryOf[p.pid], context);
  }
  return processes;
}

}  // namespace doctor
