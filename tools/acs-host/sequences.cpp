#include "sequences.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "host_blocks.h"

namespace {

// A query that has not ended after this many objects is taken as broken
// rather than looped on for ever.
constexpr std::size_t kMaxListed = 100000;

constexpr int16_t kPartitionNumber = 0;
// Set in every path's groupID before Partition: the back end must answer.
constexpr uint32_t kNoGroup = 0xFFFFFFFFu;
// Room for metadata when the query did not say how much there is.
constexpr std::size_t kMetadataRoom = 64 * 1024;

using db2acs::ObjectId;

// Everything the host hands the library during one sequence, filled as
// DB2 fills it. The control block is the same for every call.
struct Arguments {
  db2acs::ControlBlock cb{};
  VendorOptions vendorOptions{};
  db2acs::PartitionEntry partitionEntry{};
  db2acs::PartitionList partitions{};
  db2acs::OperationInfo operation{};
  std::vector<db2acs::PathEntry> paths;
  db2acs::PathList pathList{};
  db2acs::CreateObjectInfo create{};
  std::vector<uint32_t> groupIds;
  db2acs::GroupList groups{};
  db2acs::ReadList readList{};
  db2acs::PostObjectInfo post{};
  db2acs::QueryInput query{};
  db2acs::QueryOutput found{};
  std::string metadata;
  db2acs::MetaData meta{};
};

// A listed object, as the query output named it.
struct Listed {
  ObjectId id;
  db2acs::ObjectInfo object;
  uint64_t metaDataSize;
};

std::string userName() {
  const passwd *pw = getpwuid(getuid());
  return pw && pw->pw_name ? pw->pw_name : std::to_string(getuid());
}

// DB2 names a backup by the time it was taken, YYYYMMDDhhmmss.
std::string imageTimestamp() {
  char text[db2acs::kTimestampLen] = "";
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

template <std::size_t N>
std::string textOf(const char (&field)[N]) {
  std::size_t len = 0;
  while (len < N && field[len]) ++len;
  return std::string(field, len);
}

// The object's identity, as a snapshot of a database partition.
void describeObject(db2acs::ObjectInfo &o, const db2acs::SessionInfo &s, const std::string &image) {
  o.type = DB2ACS_OBJTYPE_SNAPSHOT;
  o.dbPartitionNum = s.dbPartitionNum;
  putText(o.db, textOf(s.db));
  putText(o.instance, textOf(s.instance));
  putText(o.host, textOf(s.host));
  putText(o.owner, textOf(s.user));
  putText(o.details.snapshot.imageTimestamp, image);
}

void prepareArguments(Arguments &args, const HostOptions &options) {
  db2acs::ControlBlock &cb = args.cb;
  db2acs::SessionInfo &s = cb.session;
  s.db2ID.version = 11;
  s.db2ID.release = 5;
  s.db2ID.level = 9;
  putText(s.db2ID.signature, "SQL11059");
  s.dbPartitionNum = kPartitionNumber;
  const char *instance = std::getenv("DB2INSTANCE");
  std::string user = userName();
  putText(s.db, options.database);
  putText(s.instance, instance && *instance ? instance : user);
  putText(s.host, hostName());
  putText(s.user, user);
  putText(s.libraryName, options.libraryPath);
  if (options.withVendorOptions) {
    fillVendorOptions(args.vendorOptions, options.vmName);
    cb.options = {options.optionsSize, args.vendorOptions.bytes};
  }

  // One partition, this host's, in an operation of its own.
  args.partitionEntry.num = kPartitionNumber;
  putText(args.partitionEntry.host, textOf(s.host));
  args.partitions = {1, 1, &args.partitionEntry};
  args.operation = {DB2ACS_SYNC_NONE, &args.partitions};
  cb.operation = &args.operation;

  for (const std::string &path : options.paths) {
    db2acs::PathEntry entry{};
    putText(entry.path, path);
    entry.groupID = kNoGroup;
    args.paths.push_back(entry);
  }
  args.pathList = {static_cast<uint32_t>(args.paths.size()), args.paths.data()};
  describeObject(args.create.object, s, imageTimestamp());
  args.create.db2ID = s.db2ID;

  // Every snapshot of this database, on any partition, host and owner.
  args.query = {};
  args.query.type = DB2ACS_OBJTYPE_SNAPSHOT;
  args.query.dbPartitionNum = db2acs::kAnyPartition;
  putText(args.query.db, options.database);
  putText(args.query.instance, textOf(s.instance));
  putText(args.query.host, db2acs::kAnyText);
  putText(args.query.owner, db2acs::kAnyText);
  putText(args.query.details.snapshot.imageTimestamp, db2acs::kAnyText);
}

// QueryApiVersion and Initialize; false when the sequence must stop.
bool openSession(Session &session, Arguments &args) {
  if (session.hasQueryApiVersion()) {
    session.queryApiVersion();
    if (!session.mayContinue()) return false;
  }
  session.call<AcsCall::Initialize>("", &args.cb);
  return session.mayContinue();
}

bool beginOperation(Session &session, Arguments &args, db2acs::Operation op) {
  return session.call<AcsCall::BeginOperation>(db2acs::operationName(op), op, &args.cb) ==
         DB2ACS_RC_OK;
}

// EndOperation (when an operation began, or always with --keep-going) and
// Terminate. Aborts the operation once anything failed.
void closeSession(Session &session, Arguments &args, bool operationBegan) {
  if (operationBegan || session.keepGoing()) {
    db2acs::EndAction end = session.failed() ? DB2ACS_END_ABORT : DB2ACS_END_COMMIT;
    session.call<AcsCall::EndOperation>(db2acs::endActionName(end), end, &args.cb);
  }
  session.call<AcsCall::Terminate>("", &args.cb);
}

std::string objectText(const Listed &o) {
  return std::to_string(o.id) + ", snapshot image " +
         textOf(o.object.details.snapshot.imageTimestamp) + " of " + textOf(o.object.db) +
         " partition " + std::to_string(o.object.dbPartitionNum);
}

// BeginQuery, GetNextObject until the back end ends the listing with
// END_OF_DATA (or limit objects were seen), EndQuery.
std::vector<Listed> listObjects(Session &session, Arguments &args, std::size_t limit) {
  std::vector<Listed> listed;
  bool queryBegan =
      session.call<AcsCall::BeginQuery>("snapshots", &args.query, &args.cb) == DB2ACS_RC_OK;
  if (session.mayContinue()) {
    while (listed.size() < limit && listed.size() < kMaxListed) {
      args.found = {};
      if (session.call<AcsCall::GetNextObject>("", &args.found, &args.cb) != DB2ACS_RC_OK) break;
      listed.push_back({args.found.objectID, args.found.object, args.found.metaDataSize});
      session.note("object: " + objectText(listed.back()));
    }
    if (listed.size() == kMaxListed) session.problem("the query did not end");
  }
  if (queryBegan || session.keepGoing()) session.call<AcsCall::EndQuery>("", &args.cb);
  return listed;
}

// The metadata a backup stores with its object; a restore expects to get
// exactly this back for the object it restores.
std::string backupMetadata(const db2acs::ObjectInfo &o) {
  return "backup by acs-host of " + textOf(o.db) + " partition " +
         std::to_string(o.dbPartitionNum) + ", snapshot image " +
         textOf(o.details.snapshot.imageTimestamp) + "\n";
}

// The distinct groups Partition put the paths in, for Prepare; false when
// a path got none.
bool collectGroups(Session &session, Arguments &args) {
  std::set<uint32_t> groups;
  for (std::size_t i = 0; i < args.paths.size(); ++i) {
    if (args.paths[i].groupID == kNoGroup) {
      session.problem("the back end gave path " + textOf(args.paths[i].path) + " no group");
      return false;
    }
    groups.insert(args.paths[i].groupID);
  }
  args.groupIds.assign(groups.begin(), groups.end());
  args.groups = {static_cast<uint32_t>(args.groupIds.size()), args.groupIds.data()};
  return true;
}

void backupObject(Session &session, Arguments &args) {
  bool began = beginOperation(session, args, DB2ACS_OP_CREATE | DB2ACS_OBJTYPE_SNAPSHOT);
  std::string count = "paths=" + std::to_string(args.paths.size());
  if (session.mayContinue() &&
      session.call<AcsCall::Partition>(count, &args.pathList, &args.create, &args.cb) ==
          DB2ACS_RC_OK)
    collectGroups(session, args);
  if (session.mayContinue())
    session.call<AcsCall::Prepare>("groups=" + std::to_string(args.groupIds.size()), &args.groups,
                                   &args.cb);
  if (session.mayContinue()) {
    args.readList.group = args.groups;
    if (session.call<AcsCall::Snapshot>("WRITE", DB2ACS_ACTION_WRITE, ObjectId{0}, &args.readList,
                                        &args.cb) == DB2ACS_RC_OK)
      session.note("created: snapshot image " +
                   textOf(args.create.object.details.snapshot.imageTimestamp));
  }
  if (session.mayContinue()) {
    args.post.firstActiveLog = {1, 0};
    session.call<AcsCall::Verify>("log=1.0", &args.post, &args.cb);
  }
  if (session.mayContinue()) {
    args.metadata = backupMetadata(args.create.object);
    args.meta = {args.metadata.size(), &args.metadata[0]};
    session.call<AcsCall::StoreMetaData>("bytes=" + std::to_string(args.metadata.size()),
                                         &args.meta, &args.cb);
  }
  closeSession(session, args, began);
}

// The object a restore or delete is about: the one asked for, else the
// newest listed.
bool chooseObject(Session &session, const std::vector<Listed> &listed, const HostOptions &options,
                  Listed &chosen) {
  for (const Listed &o : listed) {
    if (options.haveObject && o.id != options.objectId) continue;
    chosen = o;
    return true;
  }
  if (!session.failed())
    session.problem(options.haveObject ? "object " + std::to_string(options.objectId) + " is not listed"
                                       : "no object to restore");
  return false;
}

void restoreObject(Session &session, Arguments &args, const HostOptions &options) {
  bool began = beginOperation(session, args, DB2ACS_OP_READ | DB2ACS_OBJTYPE_SNAPSHOT);
  Listed chosen{};
  bool have = false;
  if (session.mayContinue())
    have = chooseObject(session, listObjects(session, args, options.haveObject ? kMaxListed : 1),
                        options, chosen);
  std::string about = "id=" + std::to_string(chosen.id);
  if (session.mayContinue() && have) {
    // A buffer of the size the query reported, as DB2 sizes it.
    std::size_t room = chosen.metaDataSize ? static_cast<std::size_t>(chosen.metaDataSize) : kMetadataRoom;
    args.metadata.assign(room, '\0');
    args.meta = {room, &args.metadata[0]};
    if (session.call<AcsCall::RetrieveMetaData>(about, &args.meta, chosen.id, &args.cb) ==
        DB2ACS_RC_OK) {
      std::string kept(static_cast<const char *>(args.meta.data),
                       static_cast<std::size_t>(args.meta.size < room ? args.meta.size : room));
      if (kept == backupMetadata(chosen.object))
        session.note("metadata: " + std::to_string(kept.size()) + " bytes, as the backup stored");
      else
        session.problem("metadata of object " + std::to_string(chosen.id) +
                        " is not what the backup stored");
    }
  }
  if (session.mayContinue() && have) {
    args.readList.group = {0, nullptr};
    if (session.call<AcsCall::Snapshot>("READ_BY_OBJECT", DB2ACS_ACTION_READ_BY_OBJECT, chosen.id,
                                        &args.readList, &args.cb) == DB2ACS_RC_OK)
      session.note("restored: object " + objectText(chosen) + ", as backed up");
  }
  closeSession(session, args, began);
}

void deleteObjects(Session &session, Arguments &args, const HostOptions &options) {
  bool began = beginOperation(session, args, DB2ACS_OP_DELETE | DB2ACS_OBJTYPE_SNAPSHOT);
  // The object asked for is deleted at once, listed or not, so its
  // Delete result shows.
  std::vector<ObjectId> ids;
  if (options.haveObject) {
    ids.push_back(options.objectId);
  } else if (session.mayContinue()) {
    for (const Listed &o : listObjects(session, args, kMaxListed)) ids.push_back(o.id);
    if (ids.empty() && !session.failed()) session.note("nothing to delete");
  }
  for (ObjectId id : ids) {
    if (!session.mayContinue()) break;
    session.call<AcsCall::Delete>("id=" + std::to_string(id), id, &args.cb);
  }
  closeSession(session, args, began);
}

void queryObjects(Session &session, Arguments &args) {
  bool began = beginOperation(session, args, DB2ACS_OP_READ | DB2ACS_OBJTYPE_SNAPSHOT);
  if (session.mayContinue()) {
    std::size_t found = listObjects(session, args, kMaxListed).size();
    if (!session.failed()) session.note(std::to_string(found) + (found == 1 ? " object" : " objects"));
  }
  closeSession(session, args, began);
}

}  // namespace

void runSequence(Session &session, const HostOptions &options) {
  Arguments args;
  prepareArguments(args, options);
  if (!openSession(session, args)) return;
  switch (options.sequence) {
    case Sequence::Backup: backupObject(session, args); break;
    case Sequence::Restore: restoreObject(session, args, options); break;
    case Sequence::Delete: deleteObjects(session, args, options); break;
    case Sequence::Query: queryObjects(session, args); break;
  }
}
