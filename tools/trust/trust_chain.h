// The trust chain: every file and directory that decides what DB2 runs,
// and who besides root and the instance owner can change each of them.
// Whoever can change one of them can run code as the instance owner, who
// owns every database of the instance. The instance owner owning the
// installation is fine: that user already runs DB2.
//
// The chain of a path is every path the kernel passes through to reach it,
// "/" first, symbolic links followed link by link: for a link, the link
// itself (judged as an entry of its directory) and then the chain of its
// target. So the directories above each path are part of the chain, and a
// link leads the check through everything its target depends on.
//
// Who can change an existing path:
//   - its owner, when the owner is neither root nor the instance owner
//     (not for a symbolic link: nobody can change a link in place, only
//     replace it through its directory);
//   - its group, when it is group-writable and the group has members other
//     than root and the instance owner (listed in the group database, or
//     having it as primary group); a group without such members is fine;
//   - everyone, when it is world-writable.
// A directory with the sticky bit lets others add entries but replace only
// their own, so its group or world write bit is not held against the
// directory itself; its entries then count as changeable by their owners,
// links included. A path that is missing below a directory others can
// write can be created by them, and is a finding; a path missing below a
// safe directory is not (discovery reports it as missing), and nothing
// below the first missing component is examined.
//
// A path with a POSIX access list is judged by the list: the users and
// groups it lets write (through its mask), its own group's entry and the
// one for others. "chmod go-w" takes write away from all of them, as with a
// list the group bits are the mask.
//
// No fix changes the owner or mode of /, /tmp, /var/tmp or any sticky
// directory, which others rely on: what DB2 needs is moved out of it.
#ifndef ZORVAN_TRUST_CHAIN_H
#define ZORVAN_TRUST_CHAIN_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "accounts.h"
#include "fix.h"

namespace trust {

// What a path is to DB2; the order is the order of discovery.
enum class Role {
  Library,       // the library DB2 loads (libzorvan_db2acs.so)
  Installed,     // the one installed beside acs-doctor, for DB2 to load, when no process shows which
  Registry,      // the registry directory
  Instances,     // <registry>/Zorvan
  Instance,      // <registry>/Zorvan/<instance>
  InstanceBase,  // <registry>/Zorvan/<instance>/Base
  Properties,    // .../Base/.properties
  Home,          // the home directory .properties names
  HomeBase,      // <home>/Base
  Backend,       // <home>/Base/libqxacsint.so
  SearchPath,    // a directory in LD_LIBRARY_PATH, searched for every library the process loads
  Dependency,    // a library the back end loads
  RunPath,       // a directory the run path of the back end (or of a library it loads) names
  Preload,       // a library LD_PRELOAD names: loaded into DB2's process before anything else
  Audit,         // a library LD_AUDIT names: the dynamic loader's auditor in DB2's process
  PreloadList,   // /etc/ld.so.preload
  SystemPreload, // a library /etc/ld.so.preload names
};

// "the registry directory", ".properties", ...
const char *roleName(Role role);

struct Path {
  Role role;
  std::string path;  // absolute; a relative one is taken from the current directory
  // A search directory's way out of the search: the fix when it is a
  // shared sticky one, which stays open ("take it out of LD_LIBRARY_PATH"
  // when empty).
  fix::Fixes leave = {};
};

// The paths of one installation, in discovery order. An empty library
// (not known) is left out.
std::vector<Path> installationPaths(const std::string &library, const std::string &registry,
                                          const std::string &instance, const std::string &home);

struct InstanceOwner {
  uid_t uid;
  std::string name;
};

// One way someone can change a path.
struct Writer {
  enum class Kind { Owner, User, Group, Everyone, Creator };
  Kind kind;
  // "its owner alice", "user carol" (named in an access list),
  // "group staff (alice, bob)", "everyone", "everyone can create it"
  std::string phrase;
  std::string who;  // for a headline: "alice", "group staff (alice, bob)", "everyone"
};

struct Entry {
  std::string path;
  std::string role;  // roleName, or "on the path to " + roleName for the ones above
  std::string kind;  // "directory", "file", "symbolic link", "missing", "other"
  // Unset (empty, 0) for a missing path.
  std::string ownerName;
  std::string groupName;
  uid_t owner = 0;
  gid_t group = 0;
  std::string mode;             // the permission bits in octal, "0755", "1777"
  std::vector<Writer> writers;  // empty: only root and the instance owner
  std::string who;              // the writers' phrases joined: "its owner alice and everyone"
  fix::Fixes fixes;             // root's commands, or the way out of a search; none when nothing is wrong
  std::string verdict;          // one line for a verbose listing
  bool outside = false;         // its owner or group is outside this user namespace: not judged
};

struct TrustChain {
  std::vector<Entry> chain;  // every path, in the order met, each once
  // The entries someone else can change, in chain order.
  std::vector<Entry> findings() const;
};

// Walks and judges the chain of every judged for the instance owner.
TrustChain checkTrustChain(const InstanceOwner &owner, const std::vector<Path> &paths,
                           const Accounts &accounts);

// Everyone who can change something in findings, for a headline:
// "alice, group staff (alice, bob) and everyone"; empty when none.
std::string whoCanChange(const std::vector<Entry> &findings);
// "<who> can change what DB2 runs"; empty when no finding.
std::string headline(const std::vector<Entry> &findings);

// The permission bits in octal: "0755", "1777".
std::string modeText(mode_t mode);

}  // namespace trust

#endif
