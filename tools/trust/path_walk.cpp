#include "path_walk.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>

namespace trust {

namespace {

constexpr int kLinkLimit = 40;

std::deque<std::string> components(const std::string &path) {
  std::deque<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string join(const std::string &dir, const std::string &name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string readLink(const std::string &path) {
  char target[PATH_MAX];
  ssize_t length = readlink(path.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return "";
  return std::string(target, static_cast<size_t>(length));
}

}  // namespace

// Lexical: the walk's current directory never holds a link or "..".
std::string parentOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string absolutePath(const std::string &path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    char cwd[PATH_MAX];
    full = std::string(getcwd(cwd, sizeof cwd) != nullptr ? cwd : "/") + "/" + full;
  }
  std::string out;
  for (const std::string &part : components(full))
    if (part != ".") out += "/" + part;
  return out.empty() ? "/" : out;
}

Walk walkPath(const std::string &path) {
  Walk walk;
  walk.visited.push_back("/");
  std::deque<std::string> pending = components(path);
  std::string current = "/";
  int links = 0;
  while (!pending.empty()) {
    std::string name = pending.front();
    pending.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      current = parentOf(current);
      continue;
    }
    std::string next = join(current, name);
    walk.visited.push_back(next);
    struct stat st;
    if (lstat(next.c_str(), &st) != 0) return walk;
    if (S_ISLNK(st.st_mode)) {
      std::string target = readLink(next);
      if (++links > kLinkLimit || target.empty()) return walk;
      std::deque<std::string> more = components(target);
      pending.insert(pending.begin(), more.begin(), more.end());
      if (target[0] == '/') current = "/";
      continue;
    }
    if (!S_ISDIR(st.st_mode) && !pending.empty()) return walk;
    current = next;
  }
  walk.reached = true;
  // A walk that ends on "..", or on a link to "/", ends where current is.
  if (walk.visited.back() != current) walk.visited.push_back(current);
  return walk;
}

}  // namespace trust
