#include "render.h"

#include <cstring>
#include <string>
#include <vector>

#include "json_out.h"

namespace doctor {

namespace {

using nlohmann::json;

const char *stageName(Stage stage) {
  switch (stage) {
    case Stage::Bound: return "found";
    case Stage::NoInstance: return "no-instance";
    case Stage::PathTooLong: return "properties-path-too-long";
    case Stage::NoProperties: return "properties-unreadable";
    case Stage::HomeTooLong: return "home-too-long";
    case Stage::NotAccessible: return "backend-not-executable";
    case Stage::Other: return "failed";
  }
  return "failed";
}

json orNull(const std::string &text, bool present) { return present ? json(text) : json(); }

json scanJson(const Facts &f) {
  if (!f.scanRan) return json();
  json scan = {{"directory", f.instancesDir},
               {"opened", f.scanOpened},
               {"instance001_has_agent", f.defaultProbeHit},
               {"entries", json::array()}};
  if (!f.scanOpened) scan["error"] = std::strerror(f.scanOpenErrno);
  for (const ScanEntry &e : f.scan) {
    json entry = {{"name", e.name}, {"chosen", e.chosen}};
    if (!e.chosen) entry["reason"] = e.reason;
    scan["entries"].push_back(entry);
  }
  return scan;
}

json discoveryJson(const UserCheck &c, const std::string &registryOrigin) {
  const Facts &f = c.facts;
  std::vector<std::string> trace;
  for (const auto *lines : {&c.run.nameTrace, &c.run.scanTrace, &c.run.baseTrace})
    trace.insert(trace.end(), lines->begin(), lines->end());
  bool named = !f.instanceOrigin.empty();
  return {{"user", c.run.user},
          {"uid", c.run.uid},
          {"result", stageName(f.stage)},
          {"found", f.stage == Stage::Bound},
          {"registry", {{"path", f.registry}, {"origin", registryOrigin}}},
          {"instance", {{"name", orNull(f.instance, named)},
                        {"origin", orNull(f.instanceOrigin, named)}}},
          {"scan", scanJson(f)},
          {"properties", f.propertiesPath},
          {"home", f.home},
          {"base_dir", f.baseDir},
          {"backend", {{"path", f.libraryPath}, {"executable", f.libraryAccessible}}},
          {"trace", trace}};
}

json loadJson(const BackendLoad &load) {
  if (!load.attempted) return json();
  json out = {{"path", load.path}, {"found", load.found}, {"loaded", load.loaded},
              {"entry_points", json::array()}};
  if (!load.error.empty()) out["error"] = load.error;
  for (const EntryPoint &e : load.entryPoints)
    out["entry_points"].push_back({{"symbol", e.symbol}, {"resolved", e.resolved}});
  return out;
}

json subjectJson(const Subject &s) {
  json variables = json::object();
  for (const SteeringVariable &v : s.variables)
    variables[v.name] = {{"value", orNull(v.value, v.set)}, {"origin", v.origin}};
  return {{"source", s.source},
          {"user", s.user},
          {"uid", s.uid},
          {"gid", s.gid},
          {"groups", s.groups},
          {"cwd", s.cwd},
          {"pid", s.pid == 0 ? json() : json(s.pid)},
          {"environment", variables}};
}

}  // namespace

void renderJson(const Report &r, std::FILE *out) {
  json doc = {{"binds", r.binds},
              {"verdict", r.binds ? "binds" : "does not bind"},
              {"headline", headline(r)},
              {"exit_code", r.binds ? 0 : 1},
              {"problems", problemsJson(r.problems)},
              {"vm_name", orNull(r.vmName, !r.vmName.empty())},
              {"checked_as", subjectJson(r.subject)},
              {"discovery", discoveryJson(r.check, r.registryOrigin)},
              {"load", loadJson(r.load)},
              {"judged_for", r.dbUser},
              {"trace_file", {{"state", r.traceFile.state}, {"detail", r.traceFile.detail}}},
              {"markers", json::array()}};
  for (const Marker &m : r.markers)
    doc["markers"].push_back({{"path", m.path},
                              {"entry_point", m.entryPoint},
                              {"owner", m.ownerName},
                              {"holds", m.holds}});
  writeJson(doc, out);
}

}  // namespace doctor
