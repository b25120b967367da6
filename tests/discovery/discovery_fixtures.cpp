#include "discovery_fixtures.h"

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "test_support.h"

namespace discovery {

std::vector<std::string> rawMessagesOf(const std::string &tag) {
  const std::string text = testsupport::readFile(testsupport::kTracePath);
  const std::string head = tag + ": ";
  std::vector<std::string> messages;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t next = text.find("\nLIBDB2ACS-", begin);
    const size_t end = next == std::string::npos ? text.size() : next + 1;
    std::string record = text.substr(begin, end - begin);
    begin = end;
    if (!record.empty() && record.back() == '\n') record.pop_back();
    long pid = 0;
    std::string message;
    if (!testsupport::splitTraceLine(record, pid, message)) {
      ADD_FAILURE() << "malformed trace record: " << record;
      continue;
    }
    if (message.compare(0, head.size(), head) == 0) messages.push_back(message.substr(head.size()));
  }
  return messages;
}

ControlBlock::ControlBlock(uint32_t optionsSize, const void *optionsData) : bytes_(2048, 0) {
  memcpy(bytes_.data() + ACS_CB_OPTIONS_SIZE_OFFSET, &optionsSize, sizeof optionsSize);
  memcpy(bytes_.data() + ACS_CB_OPTIONS_DATA_OFFSET, &optionsData, sizeof optionsData);
}

VendorRecord &VendorRecord::put(size_t offset, const std::string &text) {
  memcpy(bytes + offset, text.data(), text.size());
  return *this;
}

std::vector<std::string> directoryOrder(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) {
    ADD_FAILURE() << "opendir " << dir;
    return names;
  }
  while (const dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  closedir(d);
  return names;
}

void buildLastInOrder(const std::string &dir, const std::string &last,
                      const std::function<void(const std::string &)> &build,
                      const std::function<void()> &others) {
  // Directories list either oldest or newest entry first: built before the
  // others it is last in the one case, built again after them in the other.
  build(dir + "/" + last);
  others();
  if (directoryOrder(dir).back() != last) {
    removeTree(dir + "/" + last);
    build(dir + "/" + last);
  }
  ASSERT_EQ(directoryOrder(dir).back(), last) << "cannot place " << last << " last in " << dir;
}

std::string longPath(const std::string &base, size_t length, bool create) {
  std::string path = base;
  while (path.size() < length) {
    size_t remaining = length - path.size();
    size_t take = std::min<size_t>(200, remaining - 1);
    if (remaining - (take + 1) == 1) --take;  // never leave a lone '/'
    path += "/" + std::string(take, 'd');
  }
  if (create) testsupport::makeDirs(path);
  return path;
}

void removeTree(const std::string &path) {
  nftw(
      path.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); },
      16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace discovery
