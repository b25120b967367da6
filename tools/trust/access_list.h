// Who a path's POSIX access list lets write it. With a list the mode's
// group bits are only its mask: named users and groups hide behind them.
#ifndef ZORVAN_TRUST_ACCESS_LIST_H
#define ZORVAN_TRUST_ACCESS_LIST_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace trust {

struct AccessList {
  bool present = false;      // false: the mode bits say it all
  bool owningGroup = false;  // the file's own group may write
  bool others = false;
  std::vector<uid_t> users;   // named users who may write
  std::vector<gid_t> groups;  // named groups that may write
};

// The access list's write grants with its mask applied. A path without a
// list (or whose list cannot be read or makes no sense) gives present
// false. Symbolic links are not followed.
AccessList readAccessList(const std::string &path);

}  // namespace trust

#endif
