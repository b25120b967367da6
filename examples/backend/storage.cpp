#include "storage.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
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

/* <dir>/<subdir>/<id>, for an id already known to be plain. */
bool entry_path(char *out, const char *subdir, const char *id) {
  char name[QXACS_ID_MAX + 32];
  snprintf(name, sizeof name, "%s/%s", subdir, id);
  return path_of(out, name);
}

bool object_path(char *out, const char *id) { return entry_path(out, QXACS_OBJECTS_SUBDIR, id); }

/* An id must be a plain file name inside objects/: no "..", no "/". */
bool id_is_plain(const char *id) {
  size_t len = strnlen(id, QXACS_ID_MAX);
  if (len == 0 || len >= QXACS_ID_MAX || id[0] == '.') return false;
  for (size_t i = 0; i < len; ++i) {
    char c = id[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
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

bool write_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= (size_t)n;
  }
  return true;
}

/* The counter of the next id to hand out; 1 when there is none yet. */
unsigned read_next_id() {
  char path[kPathMax];
  if (!path_of(path, QXACS_NEXT_ID_FILE)) return 1;
  FILE *f = fopen(path, "r");
  if (!f) return 1;
  unsigned next = 1;
  if (fscanf(f, "%u", &next) != 1 || next == 0) next = 1;
  fclose(f);
  return next;
}

void write_next_id(unsigned next) {
  char path[kPathMax];
  if (!path_of(path, QXACS_NEXT_ID_FILE)) return;
  FILE *f = fopen(path, "w");
  if (!f) return;
  fprintf(f, "%u\n", next);
  fclose(f);
}

int plain_entry(const dirent *entry) { return id_is_plain(entry->d_name); }

/* Ids grow with time, so descending order lists the newest first. */
int newest_first(const dirent **a, const dirent **b) { return strcmp((*b)->d_name, (*a)->d_name); }

int32_t errno_result() { return errno == ENOENT ? QXACS_ERR_NOT_FOUND : QXACS_ERR_STORAGE; }

}  // namespace

int32_t storage_prepare(void) {
  char objects[kPathMax];
  char snapshots[kPathMax];
  if (!path_of(objects, QXACS_OBJECTS_SUBDIR) || !path_of(snapshots, QXACS_SNAPSHOTS_SUBDIR))
    return QXACS_ERR_STORAGE;
  return make_directories(objects) && make_directories(snapshots) ? QXACS_OK : QXACS_ERR_STORAGE;
}

void journal_append(const char *line) {
  char path[kPathMax];
  if (storage_prepare() != QXACS_OK || !path_of(path, QXACS_JOURNAL_FILE)) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  /* One write per line, so lines of concurrent writers never interleave. */
  char text[QXACS_JOURNAL_LINE_MAX + 1];
  int n = snprintf(text, sizeof text, "%s\n", line);
  if (n > 0) (void)write_all(fd, text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
  close(fd);
}

int32_t object_create(const char *text, char *id, size_t id_size) {
  if (storage_prepare() != QXACS_OK) return QXACS_ERR_STORAGE;
  unsigned next = read_next_id();
  /* O_EXCL skips ids taken behind the counter's back; bounded so a broken
   * directory cannot loop forever. */
  for (int attempt = 0; attempt < 1000; ++attempt, ++next) {
    char candidate[QXACS_ID_MAX];
    char path[kPathMax];
    snprintf(candidate, sizeof candidate, "obj-%06u", next);
    if (!object_path(path, candidate)) return QXACS_ERR_STORAGE;
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return QXACS_ERR_STORAGE;
    bool written = write_all(fd, text, strlen(text));
    close(fd);
    if (!written) return QXACS_ERR_STORAGE;
    write_next_id(next + 1);
    snprintf(id, id_size, "%s", candidate);
    return QXACS_OK;
  }
  return QXACS_ERR_STORAGE;
}

int32_t object_check(const char *id) {
  char path[kPathMax];
  struct stat st;
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (!object_path(path, id)) return QXACS_ERR_STORAGE;
  if (stat(path, &st) != 0) return errno_result();
  return S_ISREG(st.st_mode) ? QXACS_OK : QXACS_ERR_NOT_FOUND;
}

int32_t object_write(const char *id, const char *data, size_t size) {
  char path[kPathMax];
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (!object_path(path, id)) return QXACS_ERR_STORAGE;
  /* No O_CREAT: metadata belongs to an object a backup created. */
  int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return errno_result();
  bool written = write_all(fd, data, size);
  close(fd);
  return written ? QXACS_OK : QXACS_ERR_STORAGE;
}

int32_t object_read(const char *id, char *data, size_t capacity, size_t *size) {
  char path[kPathMax];
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (!object_path(path, id)) return QXACS_ERR_STORAGE;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno_result();
  size_t used = 0;
  int32_t result = QXACS_OK;
  for (;;) {
    char extra;
    /* One byte past capacity tells a full buffer from a too-big file. */
    ssize_t n = used < capacity ? read(fd, data + used, capacity - used) : read(fd, &extra, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || used == capacity) {
      result = QXACS_ERR_STORAGE;
      break;
    }
    used += (size_t)n;
  }
  close(fd);
  if (result == QXACS_OK) *size = used;
  return result;
}

int32_t object_remove(const char *id) {
  char path[kPathMax];
  char record[kPathMax];
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (!object_path(path, id) || !entry_path(record, QXACS_SNAPSHOTS_SUBDIR, id))
    return QXACS_ERR_STORAGE;
  if (unlink(path) != 0) return errno_result();
  /* Objects made before records were kept have none. */
  return unlink(record) == 0 || errno == ENOENT ? QXACS_OK : QXACS_ERR_STORAGE;
}

int32_t snapshot_record(const char *id, const char *text) {
  char path[kPathMax];
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (storage_prepare() != QXACS_OK || !entry_path(path, QXACS_SNAPSHOTS_SUBDIR, id))
    return QXACS_ERR_STORAGE;
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return QXACS_ERR_STORAGE;
  bool written = write_all(fd, text, strlen(text));
  close(fd);
  return written ? QXACS_OK : QXACS_ERR_STORAGE;
}

int32_t snapshot_matches(const char *id, const char *text) {
  char path[kPathMax];
  if (!id_is_plain(id)) return QXACS_ERR_ARGUMENT;
  if (!entry_path(path, QXACS_SNAPSHOTS_SUBDIR, id)) return QXACS_ERR_STORAGE;
  FILE *f = fopen(path, "r");
  if (!f) return errno_result();
  /* One byte more than text: a record that only begins with it differs. */
  size_t length = strlen(text);
  char kept[QXACS_HOST_MAX + 128];
  size_t got = length < sizeof kept ? fread(kept, 1, length + 1, f) : 0;
  fclose(f);
  return got == length && memcmp(kept, text, length) == 0 ? QXACS_OK : QXACS_ERR_MISMATCH;
}

int32_t object_at(const char *only_id, uint32_t position, char *id, size_t id_size) {
  char path[kPathMax];
  dirent **entries = nullptr;
  if (!path_of(path, QXACS_OBJECTS_SUBDIR)) return QXACS_ERR_STORAGE;
  int count = scandir(path, &entries, plain_entry, newest_first);
  if (count < 0) return errno == ENOENT ? QXACS_NO_MORE_OBJECTS : QXACS_ERR_STORAGE;
  int32_t result = QXACS_NO_MORE_OBJECTS;
  uint32_t seen = 0;
  for (int i = 0; i < count; ++i) {
    const char *name = entries[i]->d_name;
    if (*only_id && strcmp(name, only_id) != 0) continue;
    if (result == QXACS_NO_MORE_OBJECTS && seen++ == position) {
      snprintf(id, id_size, "%s", name);
      result = QXACS_OK;
    }
  }
  for (int i = 0; i < count; ++i) free(entries[i]);
  free(entries);
  return result;
}
