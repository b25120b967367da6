#include "properties.h"

#include <string.h>

#include "zorvan/discovery.h"

namespace zorvan {

namespace {
const char kSeparators[] = " \t\n";
const char kHomeKey[] = "dZORVANHOME";
// One read takes at most 1022 characters, newline included.
constexpr int kReadLimit = ZORVAN_PATH_MAX - 1;
}  // namespace

HomeLookup readHomeDirectory(FILE *properties, char (&home)[kHomeMax + 1]) {
  char line[ZORVAN_PATH_MAX];
  while (fgets(line, kReadLimit, properties) != nullptr) {
    // strtok_r: the host's own strtok position is left alone.
    char *position = nullptr;
    const char *key = strtok_r(line, kSeparators, &position);
    if (key == nullptr || strcmp(key, kHomeKey) != 0) continue;
    const char *value = strtok_r(nullptr, kSeparators, &position);
    if (value == nullptr) return HomeLookup::Missing;
    if (strlen(value) > kHomeMax) return HomeLookup::TooLong;
    strcpy(home, value);
    return HomeLookup::Found;
  }
  return HomeLookup::Missing;
}

}  // namespace zorvan
