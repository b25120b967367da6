// The paths the kernel passes through to reach a path: "/", each
// directory down, each symbolic link and then its target's own way.
#ifndef ZORVAN_TRUST_PATH_WALK_H
#define ZORVAN_TRUST_PATH_WALK_H

#include <string>
#include <vector>

namespace trust {

// The directory that holds path ("/" for "/" itself).
std::string parentOf(const std::string &path);

// path made absolute against the current directory, with "//" and "/./"
// folded; ".." is kept, as only the walk can tell where it leads.
std::string absolutePath(const std::string &path);

struct Walk {
  std::vector<std::string> visited;  // in order, "/" first; may repeat
  bool reached = false;              // the walk got to the end: the last visited is the target
};

// Walks path (absolute) as the kernel resolves it. It stops at the first
// component that is missing (the last visited), at a non-directory with
// components left, or after 40 links (the kernel's own limit).
Walk walkPath(const std::string &path);

}  // namespace trust

#endif
