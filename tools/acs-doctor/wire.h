// The byte format a checking child sends its results back in:
// length-prefixed fields ("<length>:<bytes>"), read back in the same order.
#ifndef ACS_DOCTOR_WIRE_H
#define ACS_DOCTOR_WIRE_H

#include <cstdlib>
#include <string>
#include <vector>

namespace doctor {

class Wire {
 public:
  void put(const std::string &field) {
    bytes_ += std::to_string(field.size());
    bytes_ += ':';
    bytes_ += field;
  }
  void put(long value) { put(std::to_string(value)); }
  void put(const std::vector<std::string> &lines) {
    put(static_cast<long>(lines.size()));
    for (const std::string &line : lines) put(line);
  }
  const std::string &bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class WireReader {
 public:
  explicit WireReader(std::string bytes) : bytes_(std::move(bytes)) {}
  bool get(std::string &field) {
    std::size_t colon = bytes_.find(':', at_);
    if (colon == std::string::npos || colon == at_) return false;
    char *end = nullptr;
    unsigned long length = std::strtoul(bytes_.c_str() + at_, &end, 10);
    if (end != bytes_.c_str() + colon || length > bytes_.size() - colon - 1) return false;
    field = bytes_.substr(colon + 1, length);
    at_ = colon + 1 + length;
    return true;
  }
  template <typename Int>
  bool get(Int &value) {
    std::string field;
    if (!get(field) || field.empty()) return false;
    char *end = nullptr;
    long parsed = std::strtol(field.c_str(), &end, 10);
    if (*end != '\0') return false;
    value = static_cast<Int>(parsed);
    return true;
  }
  bool get(bool &flag) {
    long value = 0;
    if (!get(value)) return false;
    flag = value != 0;
    return true;
  }
  bool get(std::vector<std::string> &lines) {
    long count = 0;
    if (!get(count) || count < 0) return false;
    lines.clear();
    for (long i = 0; i < count; ++i) {
      std::string line;
      if (!get(line)) return false;
      lines.push_back(line);
    }
    return true;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

}  // namespace doctor

#endif
