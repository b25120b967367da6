// The users and groups the trust check names: read once, from the system's
// user and group databases, or, for a test, from files in their format.
#ifndef ZORVAN_TRUST_ACCOUNTS_H
#define ZORVAN_TRUST_ACCOUNTS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace trust {

class Accounts {
 public:
  struct User {
    std::string name;
    uid_t uid;
    gid_t gid;  // primary group
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

  std::vector<User> users;
  std::vector<Group> groups;
};

}  // namespace trust

#endif
