#include "raised_privileges.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zorvan/discovery.h"
#include "zorvan/trace_texts.h"

namespace zorvan {

bool raisedPrivileges() { return getauxval(AT_SECURE) != 0; }

namespace {

// Writes the reason; always false, for the refusing return.
__attribute__((format(printf, 2, 3))) bool refuse(char (&reason)[kReasonMax],
                                                  const char *format, ...) {
  va_list values;
  va_start(values, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(reason, sizeof reason, format, values);
#pragma GCC diagnostic pop
  va_end(values);
  return false;
}

// One directory of the chain, examined without following a symbolic link.
// The group bits stand for any access control list's mask too, so a
// directory whose list lets another user write it has S_IWGRP set.
bool trustedDirectory(const char *dir, char (&reason)[kReasonMax]) {
  struct stat st;
  if (lstat(dir, &st) != 0) return refuse(reason, ZORVAN_TEXT_CANNOT_EXAMINE, dir, errno);
  if (S_ISLNK(st.st_mode)) return refuse(reason, ZORVAN_TEXT_SYMLINK_IN_CHAIN, dir);
  if (!S_ISDIR(st.st_mode)) return refuse(reason, ZORVAN_TEXT_NOT_DIRECTORY, dir);
  uid_t effective = geteuid();
  if (st.st_uid != 0 && st.st_uid != effective)
    return refuse(reason, ZORVAN_TEXT_FOREIGN_OWNER, dir, static_cast<unsigned>(st.st_uid));
  // Raised to a group or to capabilities only: the effective user is the
  // caller, whose own directory is exactly what must not decide.
  if (st.st_uid != 0 && effective == getuid())
    return refuse(reason, ZORVAN_TEXT_CALLER_OWNER, dir, static_cast<unsigned>(st.st_uid));
  if ((st.st_mode & S_IWOTH) != 0) return refuse(reason, ZORVAN_TEXT_WORLD_WRITABLE, dir);
  if ((st.st_mode & S_IWGRP) != 0)
    return refuse(reason, ZORVAN_TEXT_GROUP_WRITABLE, dir, static_cast<unsigned>(st.st_gid));
  return true;
}

}  // namespace

// The path is judged as written, one prefix at a time ("/", "/srv",
// "/srv/registry"), and a symbolic link anywhere in it is refused rather
// than resolved. The library goes on using this very text for every path
// it builds, so the text checked must be the text used: with every
// directory it passes through a real directory that only root or the
// privileged user can change, nobody else can redirect it later either. A
// link could be as safe, but only when its own directory and its whole
// target chain are, which takes a resolver (realpath allocates and reads
// links through buffers of its own); an operator whose registry lies
// behind a link names the resolved path instead, and the trace line says
// which component is the link. A ".." component is harmless here: each
// prefix is the directory the kernel itself reaches, and it is checked.
bool trustedDirectoryChain(const char *path, char (&reason)[kReasonMax]) {
  if (path[0] != '/') return refuse(reason, ZORVAN_TEXT_NOT_ABSOLUTE);
  size_t length = strlen(path);
  if (length >= ZORVAN_PATH_MAX)
    return refuse(reason, ZORVAN_TEXT_PATH_TOO_LONG, ZORVAN_PATH_MAX - 1);
  char prefix[ZORVAN_PATH_MAX];
  size_t end = 1;  // the root directory first
  for (;;) {
    memcpy(prefix, path, end);
    prefix[end] = '\0';
    if (!trustedDirectory(prefix, reason)) return false;
    size_t start = end;
    while (path[start] == '/') ++start;
    if (path[start] == '\0') return true;
    end = start;
    while (path[end] != '\0' && path[end] != '/') ++end;
  }
}

bool plainInstanceName(const char *name) {
  return name[0] != '\0' && strchr(name, '/') == nullptr && strcmp(name, ".") != 0 &&
         strcmp(name, "..") != 0;
}

}  // namespace zorvan
