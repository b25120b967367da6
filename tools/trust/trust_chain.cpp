#include "trust_chain.h"

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "access_list.h"
#include "path_walk.h"
#include "zorvan/discovery.h"

namespace trust {

namespace {

const char kOnThePath[] = "on the path to ";

struct Place {
  std::string path;
  Role role;
  bool own;          // the path's own (as written or as reached), not one above it
  fix::Fixes leave;  // its way out of the search
};

std::string joinPhrases(const std::vector<std::string> &phrases) {
  std::string out;
  for (size_t i = 0; i < phrases.size(); ++i) {
    if (i > 0) out += i + 1 == phrases.size() ? " and " : ", ";
    out += phrases[i];
  }
  return out;
}

bool isFileRole(Role role) {
  return role == Role::Library || role == Role::Installed || role == Role::Properties || role == Role::Backend ||
         role == Role::Preload || role == Role::Audit || role == Role::PreloadList || role == Role::SystemPreload;
}

// A directory that others rely on as it is: "/", the shared temporary
// directories and any sticky one.
bool shared(const std::string &dir, const struct stat &st) {
  return dir == "/" || dir == "/tmp" || dir == "/var/tmp" || (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0);
}

fix::Fix moveOut(const Place &place, const std::string &dir) {
  return fix::advice("Move " + std::string(roleName(place.role)) + " out of " + dir +
                     ", which others share, into a directory only root and the instance owner can change.");
}

fix::Fix asRoot(const std::vector<std::string> &argv) { return fix::command("root", argv); }

class Judge {
 public:
  Judge(const InstanceOwner &owner, const Accounts &accounts)
      : owner_(owner), accounts_(accounts) {}

  void judge(const Place &place, Entry &entry) const {
    entry.path = place.path;
    entry.role = place.own ? roleName(place.role) : kOnThePath + std::string(roleName(place.role));
    struct stat st;
    if (lstat(place.path.c_str(), &st) != 0) {
      judgeMissing(place, entry);
    } else {
      judgeExisting(place, st, entry);
    }
    std::vector<std::string> phrases;
    for (const Writer &writer : entry.writers) phrases.push_back(writer.phrase);
    entry.who = joinPhrases(phrases);
    if (!entry.writers.empty())
      entry.verdict =
          entry.kind == "missing" ? "missing, and " + entry.who : entry.who + " can change it";
  }

 private:
  bool trusted(uid_t uid) const { return uid == 0 || uid == owner_.uid; }

  // Members of the group other than root and the instance owner.
  std::vector<std::string> otherMembers(gid_t gid) const {
    std::vector<std::string> others;
    for (const std::string &name : accounts_.members(gid)) {
      uid_t uid;
      bool known = accounts_.uidOf(name, uid);
      if (name == owner_.name || (known && trusted(uid))) continue;
      others.push_back(name);
    }
    return others;
  }

  // The group's writer, when it has members besides root and the
  // instance owner.
  void addGroup(gid_t gid, std::vector<Writer> &writers) const {
    std::vector<std::string> others = accounts_.groupMapped(gid) ? otherMembers(gid) : std::vector<std::string>{};
    if (others.empty()) return;
    std::string phrase = "group " + accounts_.groupName(gid) + " (";
    for (size_t i = 0; i < others.size(); ++i) phrase += (i > 0 ? ", " : "") + others[i];
    phrase += ")";
    writers.push_back({Writer::Kind::Group, phrase, phrase});
  }

  // Who besides root and the instance owner may write the path by its
  // permissions alone: the mode bits, or its access list when it has one.
  std::vector<Writer> bitWriters(const std::string &path, const struct stat &st) const {
    std::vector<Writer> writers;
    AccessList list = readAccessList(path);
    if (list.present) {
      for (uid_t uid : list.users)
        if (!trusted(uid)) {
          std::string name = accounts_.userName(uid);
          writers.push_back({Writer::Kind::User, "user " + name, name});
        }
      if (list.owningGroup) addGroup(st.st_gid, writers);
      for (gid_t gid : list.groups) addGroup(gid, writers);
    } else if ((st.st_mode & S_IWGRP) != 0) {
      addGroup(st.st_gid, writers);
    }
    if (list.present ? list.others : (st.st_mode & S_IWOTH) != 0)
      writers.push_back({Writer::Kind::Everyone, "everyone", "everyone"});
    return writers;
  }

  void judgeExisting(const Place &place, const struct stat &st, Entry &entry) const {
    const std::string &path = place.path;
    // In a directory the dynamic loader searches, others adding an entry
    // is the danger itself: a library put there is found first.
    bool searched = place.own && (place.role == Role::SearchPath || place.role == Role::RunPath);
    entry.owner = st.st_uid;
    entry.group = st.st_gid;
    entry.ownerName = accounts_.userName(st.st_uid);
    entry.groupName = accounts_.groupName(st.st_gid);
    entry.mode = modeText(st.st_mode);
    bool link = S_ISLNK(st.st_mode);
    bool dir = S_ISDIR(st.st_mode);
    entry.kind = link                  ? "symbolic link"
                 : dir                 ? "directory"
                 : S_ISREG(st.st_mode) ? "file"
                                       : "other";

    // A link cannot be changed in place; its owner can replace it only
    // where a sticky directory lets others add entries.
    bool ownerCounts = !link || stickyOpen(parentOf(path));
    // An owner or group outside this user namespace cannot be judged from
    // here; the entry says so instead of naming the overflow id a writer.
    entry.outside = !accounts_.userMapped(st.st_uid) || !accounts_.groupMapped(st.st_gid);
    if (ownerCounts && !trusted(st.st_uid) && accounts_.userMapped(st.st_uid))
      entry.writers.push_back(
          {Writer::Kind::Owner, "its owner " + entry.ownerName, entry.ownerName});
    bool sticky = dir && (st.st_mode & S_ISVTX) != 0 && !searched;
    if (!link && !sticky)
      for (const Writer &writer : bitWriters(path, st)) entry.writers.push_back(writer);

    bool chown = false, chmod = false;
    for (const Writer &writer : entry.writers)
      (writer.kind == Writer::Kind::Owner ? chown : chmod) = true;
    std::vector<std::string> chownArgs = {"chown", "root:root", path};
    if (link) chownArgs.insert(chownArgs.begin() + 1, "-h");
    if (chown) entry.fixes.push_back(asRoot(chownArgs));
    if (chmod) entry.fixes.push_back(asRoot({"chmod", "go-w", path}));
    // A shared directory such as /tmp stays as it is: a search leaves it,
    // anything else moves out of it.
    if (searched && (st.st_mode & S_ISVTX) != 0 && !entry.writers.empty())
      entry.fixes = !place.leave.empty() ? place.leave
                                         : fix::Fixes{fix::advice("Take " + path + " out of LD_LIBRARY_PATH.")};
    else if (!entry.fixes.empty() && shared(path, st))
      entry.fixes = {moveOut(place, path)};
    if (sticky && !bitWriters(path, st).empty())
      entry.verdict = "ok: others may add entries, but replace only their own";
    else
      entry.verdict = entry.outside ? "not judged: its owner or group is outside this user namespace" : "ok";
  }

  // A path missing below a directory others can write: they can create it.
  void judgeMissing(const Place &place, Entry &entry) const {
    entry.kind = "missing";
    std::string parent = parentOf(place.path);
    struct stat st;
    std::vector<Writer> creators;
    if (lstat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) creators = bitWriters(parent, st);
    if (creators.empty()) {
      entry.verdict = "missing";
      return;
    }
    for (Writer &writer : creators) {
      entry.writers.push_back({Writer::Kind::Creator, writer.who + " can create it", writer.who});
    }
    // Below an open sticky directory only a placeholder of root's keeps
    // the name; elsewhere closing the directory does, unless others rely
    // on it being open.
    if ((st.st_mode & S_ISVTX) == 0)
      entry.fixes = {shared(parent, st) ? moveOut(place, parent) : asRoot({"chmod", "go-w", parent})};
    else if (place.own && isFileRole(place.role))
      entry.fixes = {asRoot({"install", "-o", "root", "-g", "root", "-m", "0644", "/dev/null", place.path})};
    else
      entry.fixes = {asRoot({"install", "-d", "-o", "root", "-g", "root", "-m", "0755", place.path})};
  }

  bool stickyOpen(const std::string &dir) const {
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 &&
           !bitWriters(dir, st).empty();
  }

  const InstanceOwner &owner_;
  const Accounts &accounts_;
};

}  // namespace

const char *roleName(Role role) {
  switch (role) {
    case Role::Library:
      return "the library DB2 loads";
    case Role::Installed:
      return "the library installed for DB2";
    case Role::Registry:
      return "the registry directory";
    case Role::Instances:
      return "the instances directory";
    case Role::Instance:
      return "the instance directory";
    case Role::InstanceBase:
      return "the instance's Base directory";
    case Role::Properties:
      return "the instance's .properties";
    case Role::Home:
      return "the home directory";
    case Role::HomeBase:
      return "the home's Base directory";
    case Role::Backend:
      return "the back end";
    case Role::SearchPath:
      return "a directory in LD_LIBRARY_PATH";
    case Role::Dependency:
      return "a library the back end loads";
    case Role::Preload:
      return "a library LD_PRELOAD names";
    case Role::Audit:
      return "a library LD_AUDIT names";
    case Role::PreloadList:
      return "the list of libraries every program preloads";
    case Role::SystemPreload:
      return "a library every program preloads";
    case Role::RunPath:
      return "a directory in the back end's run path";
  }
  return "";
}

std::vector<Path> installationPaths(const std::string &library, const std::string &registry,
                                          const std::string &instance, const std::string &home) {
  std::vector<Path> paths;
  if (!library.empty()) paths.push_back({Role::Library, library});
  std::string instances = registry + "/Zorvan";
  std::string instanceDir = instances + "/" + instance;
  paths.insert(paths.end(), {{Role::Registry, registry},
                                   {Role::Instances, instances},
                                   {Role::Instance, instanceDir},
                                   {Role::InstanceBase, instanceDir + "/Base"},
                                   {Role::Properties, instanceDir + "/Base/.properties"},
                                   {Role::Home, home},
                                   {Role::HomeBase, home + "/Base"},
                                   {Role::Backend, home + "/Base/" ZORVAN_BACKEND_LIBRARY}});
  return paths;
}

std::string modeText(mode_t mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::vector<Entry> TrustChain::findings() const {
  std::vector<Entry> out;
  for (const Entry &entry : chain)
    if (!entry.writers.empty()) out.push_back(entry);
  return out;
}

TrustChain checkTrustChain(const InstanceOwner &owner, const std::vector<Path> &paths,
                           const Accounts &accounts) {
  // Every path once, in the order met; a path first met above one path
  // and then as another's own path takes the own role.
  std::vector<Place> places;
  std::map<std::string, size_t> index;
  auto add = [&](const std::string &path, const Path &judged, bool own) {
    auto found = index.find(path);
    if (found == index.end()) {
      index[path] = places.size();
      places.push_back({path, judged.role, own, judged.leave});
    } else if (own && !places[found->second].own) {
      places[found->second] = {path, judged.role, own, judged.leave};
    }
  };
  for (const Path &judged : paths) {
    std::string written = absolutePath(judged.path);
    Walk walk = walkPath(written);
    for (size_t i = 0; i < walk.visited.size(); ++i) {
      const std::string &path = walk.visited[i];
      bool end = i + 1 == walk.visited.size() && walk.reached;
      add(path, judged, end || path == written);
    }
  }

  TrustChain result;
  Judge judge(owner, accounts);
  for (const Place &place : places) {
    Entry entry;
    judge.judge(place, entry);
    result.chain.push_back(entry);
  }
  return result;
}

std::string whoCanChange(const std::vector<Entry> &findings) {
  std::vector<std::string> names;
  bool everyone = false;
  for (const Entry &entry : findings)
    for (const Writer &writer : entry.writers) {
      if (writer.who == "everyone") {
        everyone = true;
      } else if (std::find(names.begin(), names.end(), writer.who) == names.end()) {
        names.push_back(writer.who);
      }
    }
  if (everyone) names.push_back("everyone");
  return joinPhrases(names);
}

std::string headline(const std::vector<Entry> &findings) {
  std::string who = whoCanChange(findings);
  return who.empty() ? "" : who + " can change what DB2 runs";
}

}  // namespace trust
