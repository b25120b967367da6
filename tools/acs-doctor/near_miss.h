// Key lines that almost read "dZORVANHOME <home>": the library matches the
// key exactly, so a line that differs in case, by a character or two, or
// joins key and value with '=' is silently skipped. Naming that line is
// worth more than "add the line".
#ifndef ACS_DOCTOR_NEAR_MISS_H
#define ACS_DOCTOR_NEAR_MISS_H

#include <string>

namespace doctor {

std::string lower(std::string text);

// Levenshtein distance, giving up (returning limit + 1) beyond limit.
std::size_t editDistance(const std::string &a, const std::string &b, std::size_t limit);

struct NearMiss {
  int line = 0;       // 1-based; 0 when no line comes close
  std::string text;   // the line as written
  std::string why;    // how it misses
  std::string value;  // the home it meant, "<home directory>" when none
};

// Whether one line's first token nearly is the key; fills why and value.
bool nearMissKey(const std::string &line, NearMiss &out);

}  // namespace doctor

#endif
