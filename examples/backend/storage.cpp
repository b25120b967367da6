#include "storage.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "qxacs_example.h"
#include "qxacs_journal.h"

namespace {

const size_t kPathMax = 4096;

const char *catalogue_dir() {
  const char *dir = getenv(QXACS_EXAMPLE_DIR_ENV);
  return (dir && *dir) ? dir : QXACS_EXAMPLE_DEFAULT_DIR;
}

/* <dir>/<name>, or false when it does not fit. */
bool path_of(char *out, const char *name) {
  int n = snprintf(out, kPathMax, "%s/%s", catalogue_dir(), name);
  return n > 0 && (size_t)n < kPathMax;
}

/* <dir>/<subdir>/<id>. */
bool entry_path(char *out, const char *subdir, db2acs::ObjectId id) {
  char name[64];
  snprintf(name, sizeof name, "%s/%" PRIu64, subdir, id);
  return path_of(out, name);
}

bool object_path(char *out, db2acs::ObjectId id) {
  return entry_path(out, QXACS_OBJECTS_SUBDIR, id);
}

/* mkdir -p: every missing component of path is created. */
bool make_directories(const char *path) {
  char partial[kPathMax];
  size_t len = strnlen(path, kPathMax);
  if (len == 0 || len >= kPathMax) return false;
  memcpy(partial, path, len + 1);
  for (size_t i = 1; i <= len; ++i) {
    if (partial[i] != '/' && partial[i] != '\0') continue;
    char saved = partial[i];
    partial[i] = '\0';
    if (mkdir(partial, 0755) != 0 && errno != EEXIST) return false;
    partial[i] = saved;
  }
  return true;
}

bool write_all(int fd, const void *data, size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= (size_t)n;
  }
  return true;
}

/* The counter of the next id to hand out; 1 when there is none yet. */
db2acs::ObjectId read_next_id() {
  char path[kPathMax];
  if (!path_of(path, QXACS_NEXT_ID_FILE)) return 1;
  FILE *f = fopen(path, "r");
  if (!f) return 1;
  db2acs::ObjectId next = 1;
  if (fscanf(f, "%" SCNu64, &next) != 1 || next == 0) next = 1;
  fclose(f);
  return next;
}

void write_next_id(db2acs::ObjectId next) {
  char path[kPathMax];
  if (!path_of(path, QXACS_NEXT_ID_FILE)) return;
  FILE *f = fopen(path, "w");
  if (!f) return;
  fprintf(f, "%" PRIu64 "\n", next);
  fclose(f);
}

/* An object's file name is its id in decimal, nothing else. */
bool id_of_name(const char *name, db2acs::ObjectId *id) {
  if (!*name || *name == '0') return false;
  for (const char *c = name; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  errno = 0;
  *id = strtoull(name, nullptr, 10);
  return errno == 0;
}

int numbered_entry(const dirent *entry) {
  db2acs::ObjectId id;
  return id_of_name(entry->d_name, &id);
}

/* Ids grow with time, so descending order lists the newest first. */
int newest_first(const dirent **a, const dirent **b) {
  db2acs::ObjectId x = strtoull((*a)->d_name, nullptr, 10), y = strtoull((*b)->d_name, nullptr, 10);
  return x < y ? 1 : x > y ? -1 : 0;
}

int32_t missing_or_io() { return errno == ENOENT ? DB2ACS_RC_OBJ_NOT_FOUND : DB2ACS_RC_IO_ERROR; }

/* One "key value" line of a snapshot record into a fixed field. */
void copy_value(char *field, size_t size, const char *value) {
  size_t len = strcspn(value, "\n");
  if (len >= size) len = size - 1;
  memcpy(field, value, len);
  field[len] = '\0';
}

}  // namespace

int32_t storage_prepare(void) {
  char objects[kPathMax];
  char snapshots[kPathMax];
  if (!path_of(objects, QXACS_OBJECTS_SUBDIR) || !path_of(snapshots, QXACS_SNAPSHOTS_SUBDIR))
    return DB2ACS_RC_IO_ERROR;
  return make_directories(objects) && make_directories(snapshots) ? DB2ACS_RC_OK
                                                                  : DB2ACS_RC_IO_ERROR;
}

void journal_append(const char *line) {
  char path[kPathMax];
  if (storage_prepare() != DB2ACS_RC_OK || !path_of(path, QXACS_JOURNAL_FILE)) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  /* One write per line, so lines of concurrent writers never interleave. */
  char text[QXACS_JOURNAL_LINE_MAX + 1];
  int n = snprintf(text, sizeof text, "%s\n", line);
  if (n > 0) (void)write_all(fd, text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
  close(fd);
}

int32_t object_create(db2acs::ObjectId *id) {
  if (storage_prepare() != DB2ACS_RC_OK) return DB2ACS_RC_IO_ERROR;
  db2acs::ObjectId next = read_next_id();
  /* O_EXCL skips ids taken behind the counter's back; bounded so a broken
   * directory cannot loop forever. */
  for (int attempt = 0; attempt < 1000; ++attempt, ++next) {
    char path[kPathMax];
    if (!object_path(path, next)) return DB2ACS_RC_IO_ERROR;
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return DB2ACS_RC_IO_ERROR;
    close(fd);
    write_next_id(next + 1);
    *id = next;
    return DB2ACS_RC_OK;
  }
  return DB2ACS_RC_IO_ERROR;
}

int32_t object_check(db2acs::ObjectId id) {
  char path[kPathMax];
  struct stat st;
  if (!object_path(path, id)) return DB2ACS_RC_IO_ERROR;
  if (stat(path, &st) != 0) return missing_or_io();
  return S_ISREG(st.st_mode) ? DB2ACS_RC_OK : DB2ACS_RC_OBJ_NOT_FOUND;
}

int32_t object_size(db2acs::ObjectId id, uint64_t *size) {
  char path[kPathMax];
  struct stat st;
  if (!object_path(path, id)) return DB2ACS_RC_IO_ERROR;
  if (stat(path, &st) != 0) return missing_or_io();
  *size = (uint64_t)st.st_size;
  return DB2ACS_RC_OK;
}

int32_t object_write(db2acs::ObjectId id, const void *data, size_t size) {
  char path[kPathMax];
  if (!object_path(path, id)) return DB2ACS_RC_IO_ERROR;
  /* No O_CREAT: metadata belongs to an object a backup created. */
  int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return missing_or_io();
  bool written = write_all(fd, data, size);
  close(fd);
  return written ? DB2ACS_RC_OK : DB2ACS_RC_IO_ERROR;
}

int32_t object_read(db2acs::ObjectId id, void *data, size_t capacity, size_t *size) {
  uint64_t length = 0;
  int32_t result = object_size(id, &length);
  if (result != DB2ACS_RC_OK) return result;
  *size = (size_t)length;
  if (length > capacity) return DB2ACS_RC_BUFF_SIZE;
  char path[kPathMax];
  if (!object_path(path, id)) return DB2ACS_RC_IO_ERROR;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return missing_or_io();
  size_t used = 0;
  while (used < length) {
    ssize_t n = read(fd, static_cast<char *>(data) + used, (size_t)length - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += (size_t)n;
  }
  close(fd);
  return used == length ? DB2ACS_RC_OK : DB2ACS_RC_IO_ERROR;
}

int32_t object_remove(db2acs::ObjectId id) {
  char path[kPathMax];
  char record[kPathMax];
  if (!object_path(path, id) || !entry_path(record, QXACS_SNAPSHOTS_SUBDIR, id))
    return DB2ACS_RC_IO_ERROR;
  if (unlink(path) != 0) return errno == ENOENT ? DB2ACS_RC_OBJ_NOT_FOUND : DB2ACS_RC_DELETE_FAILED;
  return unlink(record) == 0 || errno == ENOENT ? DB2ACS_RC_OK : DB2ACS_RC_DELETE_FAILED;
}

int32_t snapshot_write(db2acs::ObjectId id, const SnapshotRecord &r) {
  char path[kPathMax];
  if (storage_prepare() != DB2ACS_RC_OK || !entry_path(path, QXACS_SNAPSHOTS_SUBDIR, id))
    return DB2ACS_RC_IO_ERROR;
  FILE *f = fopen(path, "w");
  if (!f) return DB2ACS_RC_IO_ERROR;
  const db2acs::ObjectInfo &o = r.object;
  fprintf(f, "type %" PRIu32 "\npartition %d\ndb %.*s\ninstance %.*s\nhost %.*s\nowner %.*s\n"
             "image %.*s\nlog %" PRIu32 ".%" PRIu32 "\ncreated %" PRIu64 "\n",
          o.type, o.dbPartitionNum, (int)sizeof o.db, o.db, (int)sizeof o.instance, o.instance,
          (int)sizeof o.host, o.host, (int)sizeof o.owner, o.owner,
          (int)sizeof o.details.snapshot.imageTimestamp, o.details.snapshot.imageTimestamp,
          r.post.firstActiveLog.fileID, r.post.firstActiveLog.chainID, r.created);
  return fclose(f) == 0 ? DB2ACS_RC_OK : DB2ACS_RC_IO_ERROR;
}

int32_t snapshot_read(db2acs::ObjectId id, SnapshotRecord &r) {
  char path[kPathMax];
  if (!entry_path(path, QXACS_SNAPSHOTS_SUBDIR, id)) return DB2ACS_RC_IO_ERROR;
  FILE *f = fopen(path, "r");
  if (!f) return missing_or_io();
  memset(&r, 0, sizeof r);
  db2acs::ObjectInfo &o = r.object;
  char line[512];
  int seen = 0;
  while (fgets(line, sizeof line, f)) {
    char *value = strchr(line, ' ');
    if (!value) continue;
    *value++ = '\0';
    ++seen;
    if (!strcmp(line, "type")) o.type = (uint32_t)strtoul(value, nullptr, 10);
    else if (!strcmp(line, "partition")) o.dbPartitionNum = (int16_t)atoi(value);
    else if (!strcmp(line, "db")) copy_value(o.db, sizeof o.db, value);
    else if (!strcmp(line, "instance")) copy_value(o.instance, sizeof o.instance, value);
    else if (!strcmp(line, "host")) copy_value(o.host, sizeof o.host, value);
    else if (!strcmp(line, "owner")) copy_value(o.owner, sizeof o.owner, value);
    else if (!strcmp(line, "image"))
      copy_value(o.details.snapshot.imageTimestamp, sizeof o.details.snapshot.imageTimestamp, value);
    else if (!strcmp(line, "log"))
      sscanf(value, "%" SCNu32 ".%" SCNu32, &r.post.firstActiveLog.fileID,
             &r.post.firstActiveLog.chainID);
    else if (!strcmp(line, "created")) r.created = strtoull(value, nullptr, 10);
    else --seen;
  }
  fclose(f);
  return seen == 9 ? DB2ACS_RC_OK : DB2ACS_RC_IO_ERROR;
}

int32_t object_at(uint32_t position, db2acs::ObjectId *id) {
  char path[kPathMax];
  dirent **entries = nullptr;
  if (!path_of(path, QXACS_OBJECTS_SUBDIR)) return DB2ACS_RC_IO_ERROR;
  int count = scandir(path, &entries, numbered_entry, newest_first);
  if (count < 0) return errno == ENOENT ? DB2ACS_RC_END_OF_DATA : DB2ACS_RC_IO_ERROR;
  int32_t result = DB2ACS_RC_END_OF_DATA;
  if (position < (uint32_t)count && id_of_name(entries[position]->d_name, id)) result = DB2ACS_RC_OK;
  for (int i = 0; i < count; ++i) free(entries[i]);
  free(entries);
  return result;
}
