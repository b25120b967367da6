#include "accounts.h"

#include <grp.h>
#include <pwd.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace trust {

namespace {

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!text.empty() && text.back() == separator) fields.emplace_back();
  return fields;
}

bool parseId(const std::string &text, unsigned long &id) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  id = strtoul(text.c_str(), nullptr, 10);
  return true;
}

// The inside ranges of a uid_map or gid_map ("inside outside count").
Accounts::Ranges readMap(const char *path) {
  Accounts::Ranges ranges;
  std::ifstream map(path);
  unsigned long inside = 0, outside = 0, count = 0;
  while (map >> inside >> outside >> count) ranges.emplace_back(inside, count);
  return ranges;
}

}  // namespace

Accounts Accounts::fromSystem() {
  Accounts accounts;
  accounts.uidRanges = readMap("/proc/self/uid_map");
  accounts.gidRanges = readMap("/proc/self/gid_map");
  setpwent();
  while (const struct passwd *pw = getpwent())
    accounts.users.push_back({pw->pw_name, pw->pw_uid, pw->pw_gid, pw->pw_dir, pw->pw_shell});
  endpwent();
  setgrent();
  while (const struct group *gr = getgrent()) {
    Group group{gr->gr_name, gr->gr_gid, {}};
    for (char **member = gr->gr_mem; member != nullptr && *member != nullptr; ++member)
      group.members.emplace_back(*member);
    accounts.groups.push_back(group);
  }
  endgrent();
  return accounts;
}

Accounts Accounts::fromFiles(const std::string &passwdFile, const std::string &groupFile) {
  Accounts accounts;
  std::ifstream passwd(passwdFile);
  unsigned long uid = 0, gid = 0;
  for (std::string line; std::getline(passwd, line);) {
    std::vector<std::string> f = split(line, ':');
    if (f.size() >= 4 && parseId(f[2], uid) && parseId(f[3], gid))
      accounts.users.push_back({f[0], static_cast<uid_t>(uid), static_cast<gid_t>(gid), f.size() > 5 ? f[5] : "",
                                f.size() > 6 ? f[6] : ""});
  }
  std::ifstream group(groupFile);
  for (std::string line; std::getline(group, line);) {
    std::vector<std::string> f = split(line, ':');
    if (f.size() < 3 || !parseId(f[2], gid)) continue;
    Group entry{f[0], static_cast<gid_t>(gid), {}};
    if (f.size() >= 4)
      for (const std::string &member : split(f[3], ','))
        if (!member.empty()) entry.members.push_back(member);
    accounts.groups.push_back(entry);
  }
  return accounts;
}

std::string Accounts::userName(uid_t uid) const {
  const User *found = user(uid);
  return found != nullptr ? found->name : "uid " + std::to_string(uid);
}

std::string Accounts::groupName(gid_t gid) const {
  for (const Group &group : groups)
    if (group.gid == gid) return group.name;
  return "gid " + std::to_string(gid);
}

std::vector<std::string> Accounts::members(gid_t gid) const {
  std::vector<std::string> names;
  for (const Group &group : groups)
    if (group.gid == gid) names.insert(names.end(), group.members.begin(), group.members.end());
  for (const User &user : users)
    if (user.gid == gid) names.push_back(user.name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool Accounts::uidOf(const std::string &name, uid_t &uid) const {
  const User *found = named(name);
  if (found != nullptr) uid = found->uid;
  return found != nullptr;
}

const Accounts::User *Accounts::user(uid_t uid) const {
  for (const User &entry : users)
    if (entry.uid == uid) return &entry;
  return nullptr;
}

const Accounts::User *Accounts::named(const std::string &name) const {
  for (const User &entry : users)
    if (entry.name == name) return &entry;
  return nullptr;
}

std::vector<gid_t> Accounts::groupsOf(const User &user) const {
  std::vector<gid_t> gids = {user.gid};
  for (const Group &group : groups)
    if (std::find(group.members.begin(), group.members.end(), user.name) != group.members.end() &&
        std::find(gids.begin(), gids.end(), group.gid) == gids.end())
      gids.push_back(group.gid);
  return gids;
}

}  // namespace trust
