/* The two rules for the library's fixed files in /tmp, a directory anyone
 * can write to: when a debug-hold marker holds a call, and when the trace
 * file may receive lines. The library applies them; acs-host and
 * acs-doctor ask the same functions, so none of the three can judge a
 * file differently. Header-only and free of the library's other
 * declarations, so a tool that links nothing of the library can use it. */
#ifndef ZORVAN_TMP_RULES_H
#define ZORVAN_TMP_RULES_H

#include <sys/stat.h>
#include <unistd.h>

namespace zorvan {

/* The hold exists so that a debugger can be attached, which only root or
 * the process's own user can do. A marker planted by anyone else could
 * only stall every backup on the host, so it does not hold. The marker
 * must resolve, and the owner is that of the entry itself, not of what a
 * symbolic link points at. */
inline bool markerHolds(const char *marker, uid_t user) {
  if (access(marker, F_OK) != 0) return false;
  struct stat st;
  if (lstat(marker, &st) != 0) return false;
  return st.st_uid == 0 || st.st_uid == user;
}

/* The trace carries vendor-option values and paths, so it goes only into
 * a regular file owned by root or by the process's user. Whether that
 * user may write it is asked separately, by opening it for append. */
inline bool traceFileAccepts(const struct stat &st, uid_t user) {
  return S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == user);
}

}  // namespace zorvan

#endif
