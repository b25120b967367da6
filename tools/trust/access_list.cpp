#include "access_list.h"

#include <stdint.h>
#include <sys/xattr.h>

#include <vector>

namespace trust {

namespace {

// The kernel's extended-attribute form of an access list: a 32-bit
// version (2), then entries of a 16-bit tag, 16-bit permissions and a
// 32-bit id, all little-endian whatever the machine.
constexpr uint32_t kVersion = 2;
constexpr uint16_t kUserObject = 0x01, kUser = 0x02, kGroupObject = 0x04, kGroup = 0x08,
                   kMask = 0x10, kOther = 0x20;
constexpr uint16_t kWrite = 0x02;
constexpr size_t kHeader = 4, kEntry = 8;
const char kAttribute[] = "system.posix_acl_access";

uint32_t little(const unsigned char *bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

}  // namespace

AccessList readAccessList(const std::string &path) {
  AccessList list;
  ssize_t size = lgetxattr(path.c_str(), kAttribute, nullptr, 0);
  if (size <= 0) return list;
  std::vector<unsigned char> buffer(static_cast<size_t>(size));
  size = lgetxattr(path.c_str(), kAttribute, buffer.data(), buffer.size());
  const unsigned char *bytes = buffer.data();
  if (size < static_cast<ssize_t>(kHeader) || (static_cast<size_t>(size) - kHeader) % kEntry != 0 ||
      little(bytes, 4) != kVersion)
    return list;
  // Without a mask entry the named entries cannot exist and nothing is masked.
  bool masked = false, maskWrites = true;
  for (size_t at = kHeader; at < static_cast<size_t>(size); at += kEntry) {
    if (little(bytes + at, 2) == kMask) {
      masked = true;
      maskWrites = (little(bytes + at + 2, 2) & kWrite) != 0;
    }
  }
  for (size_t at = kHeader; at < static_cast<size_t>(size); at += kEntry) {
    uint32_t tag = little(bytes + at, 2);
    bool writes = (little(bytes + at + 2, 2) & kWrite) != 0;
    uint32_t id = little(bytes + at + 4, 4);
    if (tag == kOther) list.others = writes;
    if (!writes || (tag != kUserObject && tag != kOther && masked && !maskWrites)) continue;
    if (tag == kUser) list.users.push_back(static_cast<uid_t>(id));
    if (tag == kGroup) list.groups.push_back(static_cast<gid_t>(id));
    if (tag == kGroupObject) list.owningGroup = true;
  }
  list.present = true;
  return list;
}

}  // namespace trust
