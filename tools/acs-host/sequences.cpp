#include "sequences.h"

#include <algorithm>
#include <string>
#include <vector>

#include "host_blocks.h"

namespace {

// A query that has not ended after this many objects is taken as broken
// rather than looped on for ever.
constexpr std::size_t kMaxListed = 100000;

constexpr uint32_t kPartitionNumber = 0;

// Everything the host hands the library during one sequence.
struct Arguments {
  ControlBlock cb;
  VendorOptions vendorOptions;
  qxacs_operation op;
  qxacs_partition part;
  qxacs_object obj;
  qxacs_query query;
};

void prepareArguments(Arguments &args, const HostOptions &options) {
  clearControlBlock(args.cb);
  if (options.withVendorOptions) {
    fillVendorOptions(args.vendorOptions, options.vmName);
    attachOptions(args.cb, options.optionsSize, args.vendorOptions.bytes);
  }
  std::string label = std::string("acs-host:") + sequenceName(options.sequence);
  qxacs_operation_init(&args.op, label.c_str());
  qxacs_partition_init(&args.part, kPartitionNumber, "localhost");
  qxacs_object_init(&args.obj, "");
  qxacs_query_init(&args.query, options.objectId.c_str());
}

// QueryApiVersion and Initialize; false when the sequence must stop.
bool openSession(Session &session, Arguments &args) {
  if (session.hasQueryApiVersion()) {
    session.queryApiVersion();
    if (!session.mayContinue()) return false;
  }
  session.initialize(args.cb);
  return session.mayContinue();
}

// EndOperation (when an operation began, or always with --keep-going) and
// Terminate. Aborts the operation once anything failed.
void closeSession(Session &session, Arguments &args, bool operationBegan) {
  if (operationBegan || session.keepGoing())
    session.endOperation(session.failed() ? QXACS_END_ABORT : QXACS_END_COMMIT, args.op);
  session.terminate(args.op);
}

// BeginQuery, GetNextObject until the list ends (or limit objects were
// seen), EndQuery. Returns the ids listed.
std::vector<std::string> listObjects(Session &session, Arguments &args, std::size_t limit) {
  std::vector<std::string> ids;
  bool queryBegan = session.beginQuery(args.op, args.query) == QXACS_OK;
  if (session.mayContinue()) {
    while (ids.size() < limit && ids.size() < kMaxListed) {
      qxacs_object_init(&args.obj, "");
      if (session.getNextObject(args.query, args.obj) != QXACS_OK) break;
      ids.emplace_back(args.obj.id);
      session.note(std::string("object: ") + args.obj.id);
    }
    if (ids.size() == kMaxListed) session.problem("the query did not end");
  }
  if (queryBegan || session.keepGoing()) session.endQuery(args.query);
  return ids;
}

// The metadata a backup stores with its object; a restore expects to get
// exactly this back for the object it restores.
std::string backupMetadata(const Arguments &args) {
  return std::string("backup by acs-host of partition ") + std::to_string(args.part.number) +
         " object " + args.obj.id + "\n";
}

void backupObject(Session &session, Arguments &args) {
  bool began = session.beginOperation(QXACS_OP_BACKUP, args.op) == QXACS_OK;
  if (session.mayContinue()) session.partition(args.op, args.part, args.obj);
  if (session.mayContinue()) session.prepare(args.op, args.obj);
  if (session.mayContinue()) {
    if (session.snapshot(QXACS_ACTION_BACKUP, args.op, args.part, args.obj) == QXACS_OK)
      session.note(std::string("created: ") + args.obj.id);
  }
  if (session.mayContinue()) session.verify(args.op, args.obj);
  if (session.mayContinue()) {
    std::string text = backupMetadata(args);
    qxacs_copy_text(args.obj.metadata, sizeof args.obj.metadata, text.c_str());
    args.obj.metadata_size = static_cast<uint32_t>(text.size());
    session.storeMetaData(args.op, args.obj);
  }
  closeSession(session, args, began);
}

void restoreObject(Session &session, Arguments &args) {
  bool began = session.beginOperation(QXACS_OP_RESTORE, args.op) == QXACS_OK;
  if (session.mayContinue()) {
    // The listing is newest first: the first object is the one restored.
    std::vector<std::string> ids = listObjects(session, args, 1);
    if (ids.empty() && !session.failed()) session.problem("no object to restore");
  }
  if (session.mayContinue() &&
      session.retrieveMetaData(args.op, args.part, args.obj) == QXACS_OK) {
    std::string kept(args.obj.metadata,
                     std::min<std::size_t>(args.obj.metadata_size, sizeof args.obj.metadata));
    if (kept == backupMetadata(args))
      session.note("metadata: " + std::to_string(kept.size()) + " bytes, as the backup stored");
    else
      session.problem("metadata of " + std::string(args.obj.id) + " is not what the backup stored");
  }
  // The back end compares the partition asked for with the one its
  // backup was given.
  if (session.mayContinue() &&
      session.snapshot(QXACS_ACTION_RESTORE, args.op, args.part, args.obj) == QXACS_OK)
    session.note(std::string("restored: ") + args.obj.id + ", partition " +
                 std::to_string(args.part.number) + " on " + args.part.host + ", as backed up");
  closeSession(session, args, began);
}

void deleteObjects(Session &session, Arguments &args, const std::string &onlyId) {
  bool began = session.beginOperation(QXACS_OP_DELETE, args.op) == QXACS_OK;
  std::vector<std::string> ids;
  if (session.mayContinue()) ids = listObjects(session, args, kMaxListed);
  // The object asked for is deleted even when unlisted, so its Delete
  // result shows; with --keep-going Delete is made at least once.
  if (!onlyId.empty()) ids.assign(1, onlyId);
  if (ids.empty() && session.keepGoing()) ids.emplace_back("");
  if (ids.empty() && !session.failed()) session.note("nothing to delete");
  for (const std::string &id : ids) {
    if (!session.mayContinue()) break;
    qxacs_object_init(&args.obj, id.c_str());
    session.deleteObject(args.op, args.obj);
  }
  closeSession(session, args, began);
}

void queryObjects(Session &session, Arguments &args) {
  bool began = session.beginOperation(QXACS_OP_QUERY, args.op) == QXACS_OK;
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
    case Sequence::Restore: restoreObject(session, args); break;
    case Sequence::Delete: deleteObjects(session, args, options.objectId); break;
    case Sequence::Query: queryObjects(session, args); break;
  }
}
