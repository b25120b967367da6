// Matching the library's trace texts (include/zorvan/trace_texts.h) in
// messages read back: a format's fixed text before its first conversion
// and after its last one.
#ifndef ACS_DOCTOR_TRACE_TEXT_MATCH_H
#define ACS_DOCTOR_TRACE_TEXT_MATCH_H

#include <cstring>
#include <string>

namespace doctor {

// "path for .properties is: %s" -> "path for .properties is: ".
inline std::string textBefore(const char *format) {
  const char *percent = std::strchr(format, '%');
  return percent == nullptr ? format : std::string(format, percent);
}

// "QXZrDb2IKA DB2 Library %s not accessible" -> " not accessible".
inline std::string textAfter(const char *format) {
  const char *percent = std::strrchr(format, '%');
  return percent == nullptr || percent[1] == '\0' ? "" : std::string(percent + 2);
}

inline bool startsWith(const std::string &text, const std::string &head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace doctor

#endif
