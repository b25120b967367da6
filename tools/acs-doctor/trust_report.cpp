#include "checker.h"

#include <vector>

#include "trust_chain.h"

namespace doctor {

using nlohmann::json;

json trustReport(const json &paths, uid_t owner, const std::string &ownerName) {
  // Discovery's order; a path it did not reach decides nothing yet.
  const std::pair<trust::Role, const char *> known[] = {
      {trust::Role::Library, "acs_library"},   {trust::Role::Registry, "registry"},
      {trust::Role::Instances, "instances"},    {trust::Role::Instance, "instance_dir"},
      {trust::Role::InstanceBase, "instance_base"}, {trust::Role::Properties, "properties"},
      {trust::Role::Home, "home"},              {trust::Role::HomeBase, "base_dir"},
      {trust::Role::Backend, "library"}};
  std::vector<trust::Subject> subjects;
  for (const auto &k : known) {
    std::string path = paths.value(k.second, "");
    if (!path.empty()) subjects.push_back({k.first, path});
  }
  trust::TrustChain checked =
      trust::checkTrustChain({owner, ownerName}, subjects, trust::Accounts::fromSystem());
  std::vector<trust::Entry> found = checked.findings();
  json chain = json::array();
  for (const trust::Entry &e : checked.chain)
    chain.push_back({{"path", e.path}, {"role", e.role}, {"kind", e.kind}, {"owner", e.ownerName},
                     {"group", e.groupName}, {"mode", e.mode},
                     {"who", e.who.empty() ? json() : json(e.who)}, {"verdict", e.verdict}});
  json findings = json::array();
  for (const trust::Entry &e : found) {
    std::string what = e.kind == "missing"
                           ? " (" + e.role + ") is missing, and " + e.who
                           : " (" + e.role + ", owner " + e.ownerName + ":" + e.groupName + ", mode " +
                                 e.mode + ") can be changed by " + e.who;
    findings.push_back({{"severity", "error"}, {"id", "changeable-by-others"},
                        {"cause", e.path + what + ", and with it the code DB2 runs as " + ownerName},
                        {"fix", e.fix}});
  }
  return {{"who", trust::whoCanChange(found)}, {"chain", chain}, {"findings", findings}};
}

}  // namespace doctor
