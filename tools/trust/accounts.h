// The users and groups the trust check names: read once, from the system's
// user and group databases, or, for a test, from files in their format.
#ifndef ZORVAN_TRUST_ACCOUNTS_H
#define ZORVAN_TRUST_ACCOUNTS_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace trust {

class Accounts {
 public:
  struct User {
    std::string name;
    uid_t uid;
    gid_t gid;  // primary group
    std::string home = "";
    std::string shell = "";
  };
  struct Group {
    std::string name;
    gid_t gid;
    std::vector<std::string> members;  // as listed in the group database
  };

  // Every user and group the C library enumerates (getpwent, getgrent):
  // the files and whatever other sources the system is configured with.
  static Accounts fromSystem();
  // passwd- and group-format files ("name:x:uid:gid:..." and
  // "name:x:gid:member,member"); unreadable files give no accounts.
  static Accounts fromFiles(const std::string &passwdFile, const std::string &groupFile);

  // The name, or "uid 42" / "gid 42" when there is none.
  std::string userName(uid_t uid) const;
  std::string groupName(gid_t gid) const;
  // The group's members: those listed and those whose primary group it
  // is, each once, sorted by name.
  std::vector<std::string> members(gid_t gid) const;
  // The uid of a user name; false when there is no such user.
  bool uidOf(const std::string &name, uid_t &uid) const;
  // The user with that uid, or that name; null when there is none.
  const User *user(uid_t uid) const;
  const User *named(const std::string &name) const;
  // The groups a user is in: its primary group and those that list it.
  std::vector<gid_t> groupsOf(const User &user) const;
  // Whether an id a file shows stands for a user or group here. In a user
  // namespace an owner outside it shows as the overflow id, which stands
  // for no one (/proc/self/uid_map, gid_map); from files, every id does.
  bool userMapped(uid_t uid) const { return mapped(uidRanges, uid); }
  bool groupMapped(gid_t gid) const { return mapped(gidRanges, gid); }

  std::vector<User> users;
  std::vector<Group> groups;
  // The ids inside this namespace, as first and count; empty: every id.
  using Ranges = std::vector<std::pair<unsigned long, unsigned long>>;
  Ranges uidRanges, gidRanges;

 private:
  static bool mapped(const Ranges &ranges, unsigned long id) {
    for (const auto &range : ranges)
      if (id >= range.first && id - range.first < range.second) return true;
    return ranges.empty();
  }
};

}  // namespace trust

#endif
