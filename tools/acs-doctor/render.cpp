#include "doctor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "explain.h"

namespace doctor {

namespace {

using nlohmann::json;

std::string text(const json &value) { return value.is_string() ? value.get<std::string>() : ""; }

void row(std::FILE *out, const char *label, const std::string &value, const std::string &remark = "") {
  std::fprintf(out, "  %-19s %s%s\n", label, visible(value).c_str(),
               remark.empty() ? "" : ("  (" + remark + ")").c_str());
}

void subjectLines(std::FILE *out, const json &s, const json &identity) {
  std::string source = text(s["source"]), user = text(s["user"]);
  std::string how = source == "pid"     ? "as process " + std::to_string(s["pid"].get<long>()) + " runs"
                    : source == "login" ? "with " + user + "'s login environment (su - " + user + ")"
                                        : "with this process's own identity and environment";
  std::string groups;
  for (const json &g : identity["groups"]) groups += (groups.empty() ? "" : ",") + std::to_string(g.get<long>());
  std::fprintf(out, "Checked as %s (uid %ld, gid %ld%s), %s\n", user.c_str(), identity["uid"].get<long>(),
               identity["gid"].get<long>(), groups.empty() ? "" : (", groups " + groups).c_str(), how.c_str());
  if (identity.value("raised", false))
    std::fprintf(out, "  with raised privileges, as that process has: effective uid %ld, gid %ld\n",
                 identity["euid"].get<long>(), identity["egid"].get<long>());
  for (const auto &v : s["environment"].items()) {
    if (v.value()["value"].is_null())
      std::fprintf(out, "  %s %s\n", v.key().c_str(), text(v.value()["origin"]).c_str());
    else
      std::fprintf(out, "  %s=%s, %s\n", v.key().c_str(), visible(text(v.value()["value"])).c_str(),
                   text(v.value()["origin"]).c_str());
  }
  // The checking process started with it: it decides where the back
  // end's own dependencies are found.
  if (identity["ld_library_path"].is_string())
    std::fprintf(out, "  LD_LIBRARY_PATH=%s, with the rest of that environment\n",
                 visible(text(identity["ld_library_path"])).c_str());
  std::fprintf(out, "  working directory %s\n", visible(text(identity["cwd"])).c_str());
}

void scanDetails(std::FILE *out, const json &scan) {
  if (scan.is_null()) return;
  std::fprintf(out, "  first-instance scan of %s:\n", text(scan["directory"]).c_str());
  if (!scan["opened"].get<bool>()) {
    std::fprintf(out, "    cannot open it: %s\n", text(scan["error"]).c_str());
  } else if (scan["instance001_has_agent"].get<bool>()) {
    std::fprintf(out, "    Instance001 has Db2Agent: taken without scanning\n");
  } else {
    std::fprintf(out, "    Instance001: no Instance001/Db2Agent, scanning in directory order\n");
    for (const json &e : scan["entries"])
      std::fprintf(out, "    %-20s %s\n", visible(text(e["name"])).c_str(),
                   e["chosen"].get<bool>() ? "chosen: a directory holding Db2Agent"
                                           : ("passed over: " + text(e["reason"])).c_str());
    if (scan["entries"].empty()) std::fprintf(out, "    (no other entries)\n");
  }
}

void discoveryDetails(std::FILE *out, const json &r) {
  const json &d = r["discovery"];
  std::string user = text(r["identity"]["user"]);
  bool found = d["found"].get<bool>();
  std::fprintf(out, "\nDiscovery as %s (uid %ld):\n", user.c_str(), r["identity"]["uid"].get<long>());
  row(out, "registry directory", text(d["registry"]["path"]),
      text(d["registry"]["origin"]) == "QXREG"  ? "from QXREG"
      : d["registry"]["qxreg_ignored"].is_string() ? "default, QXREG ignored with raised privileges"
                                                   : "default, QXREG unset or empty");
  std::string origin = text(d["instance"]["origin"]);
  if (!origin.empty())
    row(out, "instance", text(d["instance"]["name"]),
        "from " + origin + (origin == "vendor options" ? ", simulated vmName '" + text(r["vm_name"]) + "'" : ""));
  else
    row(out, "instance", "(none)", "ZORVAN_INST unset and the scan found none");
  scanDetails(out, d["scan"]);
  const char *const paths[][3] = {{"properties", "properties file", ""},
                                  {"home", "home directory", "dZORVANHOME"},
                                  {"base_dir", "base directory", ""}};
  for (const auto &p : paths)
    if (!text(d[p[0]]).empty()) row(out, p[1], text(d[p[0]]), p[2]);
  if (!text(d["backend"]["path"]).empty())
    row(out, "back end", text(d["backend"]["path"]),
        (found ? "passes the execute test for " : "fails the execute test for ") + user);
  if (found)
    std::fprintf(out, "  result: found; DB2 would chdir to %s and dlopen the back end\n",
                 visible(text(d["base_dir"])).c_str());
  else
    std::fprintf(out, "  result: discovery fails (%s); db2ACSInitialize would return 11\n",
                 text(d["result"]).c_str());
}

void loadDetails(std::FILE *out, const json &r) {
  const json &load = r["load"];
  if (load.is_null()) {
    if (r["discovery"]["found"].get<bool>())
      std::fprintf(out, "\nEntry points not checked: add --load to load the back end.\n");
    return;
  }
  std::fprintf(out, "\nBack end load (--load): %s\n", visible(text(load["path"])).c_str());
  if (load.value("died", false) || load.value("hung", false)) {
    std::fprintf(out, "  %s: DB2's process would %s here\n", text(load["error"]).c_str(),
                 load.value("hung", false) ? "hang" : "die");
  } else if (!load["found"].get<bool>()) {
    std::fprintf(out, "  not found\n");
  } else if (!load["loaded"].get<bool>()) {
    std::fprintf(out, "  found but failed to load: %s\n", text(load["error"]).c_str());
  } else {
    std::size_t resolved = 0;
    for (const json &e : load["entry_points"]) resolved += e["resolved"].get<bool>() ? 1 : 0;
    std::fprintf(out, "  loaded; %zu of %zu entry points resolve\n", resolved, load["entry_points"].size());
    for (const json &e : load["entry_points"])
      if (!e["resolved"].get<bool>()) std::fprintf(out, "  missing: %s\n", text(e["symbol"]).c_str());
    for (const json &l : load["libraries"]) std::fprintf(out, "  it loads %s\n", visible(text(l)).c_str());
  }
  if (load["loaded"].get<bool>() && !r["discovery"]["found"].get<bool>())
    std::fprintf(out, "  but DB2 would never load it: discovery stops first (%s), and "
                      "db2ACSInitialize returns 11 before any dlopen\n",
                 text(r["discovery"]["result"]).c_str());
}

void tmpDetails(std::FILE *out, const json &r) {
  std::fprintf(out, "\n/tmp, judged for %s:\n", text(r["identity"]["user"]).c_str());
  std::fprintf(out, "  trace file          %s: %s\n", text(r["trace_file"]["state"]).c_str(),
               text(r["trace_file"]["detail"]).c_str());
  if (r["markers"].empty()) std::fprintf(out, "  debug markers       none\n");
  for (const json &m : r["markers"])
    std::fprintf(out, "  debug marker        %s (owner %s): %s\n", text(m["path"]).c_str(),
                 text(m["owner"]).c_str(), m["holds"].get<bool>() ? "holds" : "does not hold");
}

}  // namespace

void printProblems(std::FILE *out, const json &problems) {
  for (const char *level : {"error", "warning", "note"})
    for (const json &p : problems) {
      if (text(p["severity"]) != level) continue;
      std::string tag = level;
      for (char &ch : tag) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      std::fprintf(out, "%-8s %s\n", tag.c_str(), text(p["cause"]).c_str());
      for (const json &f : p["fixes"]) std::fprintf(out, "         fix: %s\n", text(f).c_str());
    }
}

void renderText(const json &r, bool verbose, std::FILE *out) {
  std::fprintf(out, "acs-doctor: %s\n", text(r["headline"]).c_str());
  subjectLines(out, r["checked_as"], r["identity"]);
  std::fprintf(out, "\n");
  if (r["problems"].empty()) std::fprintf(out, "No problems found.\n");
  printProblems(out, r["problems"]);
  discoveryDetails(out, r);
  loadDetails(out, r);
  tmpDetails(out, r);
  if (!verbose) return;
  std::fprintf(out, "\nWho besides root and %s can change what DB2 runs, path by path:\n",
               text(r["identity"]["user"]).c_str());
  for (const json &e : r["trust"]["chain"])
    std::fprintf(out, "  %s (%s): %s\n", visible(text(e["path"])).c_str(), text(e["role"]).c_str(),
                 visible(text(e["verdict"])).c_str());
  std::fprintf(out, "\nLibrary trace of the discovery as %s:\n", text(r["identity"]["user"]).c_str());
  for (const json &line : r["discovery"]["trace"]) {
    std::string shown = text(line);
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    std::fprintf(out, "  %s\n", visible(shown).c_str());
  }
}

void writeVisible(const std::function<void(std::FILE *)> &render, std::FILE *out) {
  char *text = nullptr;
  std::size_t size = 0;
  std::FILE *memory = open_memstream(&text, &size);
  if (memory == nullptr) return;
  render(memory);
  std::fclose(memory);
  std::string all(text, size), line;
  std::free(text);
  for (std::size_t at = 0, end = 0; at < all.size(); at = end + 1) {
    end = std::min(all.find('\n', at), all.size());
    line = visible(all.substr(at, end - at));
    std::fprintf(out, "%s%s", line.c_str(), end < all.size() ? "\n" : "");
  }
}

void renderBrief(const json &r, std::FILE *out) {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string line = std::string(host) + ": " + text(r["headline"]);
  if (!r["binds"].get<bool>())
    for (const json &p : r["problems"])
      if (text(p["severity"]) == "error") {
        line += " " + text(p["cause"]);
        break;
      }
  std::fprintf(out, "%s\n", visible(line).c_str());
}

}  // namespace doctor
