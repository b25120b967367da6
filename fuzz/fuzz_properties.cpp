// The properties scan over arbitrary bytes (NULs, CR, tabs, lines longer
// than one read), checked against a plain statement of the rule: each read
// takes up to 1022 characters through a newline, its text ends at the
// first NUL, and the first read whose first token is dZORVANHOME decides.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "discovery/properties.h"
#include "fuzz_support.h"

namespace {

using zorvan::HomeLookup;

struct Expected {
  HomeLookup lookup = HomeLookup::Missing;
  std::string home;
};

bool separator(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The tokens of one read, as strtok splits them.
std::vector<std::string> tokens(const std::string &text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && separator(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !separator(text[i])) ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

Expected expected(const uint8_t *data, size_t size) {
  const size_t kRead = 1022;
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < kRead) {
      if (data[end++] == '\n') break;
    }
    std::string read(reinterpret_cast<const char *>(data + at), end - at);
    at = end;
    std::string text = read.substr(0, read.find('\0'));
    std::vector<std::string> t = tokens(text);
    if (t.empty() || t[0] != "dZORVANHOME") continue;
    if (t.size() < 2) return {};
    if (t[1].size() > zorvan::kHomeMax) return {HomeLookup::TooLong, ""};
    return {HomeLookup::Found, t[1]};
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> bytes(data, data + size);
  FILE *file = fmemopen(bytes.data(), bytes.size(), "r");
  if (file == nullptr) return 0;
  char home[zorvan::kHomeMax + 1];
  memset(home, 0x7f, sizeof home);
  HomeLookup lookup = zorvan::readHomeDirectory(file, home);
  fclose(file);

  Expected want = expected(data, size);
  if (lookup != want.lookup) fuzzsupport::fail("scan result differs from the rule");
  if (lookup == HomeLookup::Found) {
    if (memchr(home, '\0', sizeof home) == nullptr) fuzzsupport::fail("home not terminated");
    if (want.home != home) fuzzsupport::fail("home differs from the rule");
  }
  return 0;
}
