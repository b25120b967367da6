// One line of the library's trace log, "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss
// <tag>: <message>", split at its prefix the one way acs-doctor and the
// tests both read it.
#ifndef ZORVAN_TOOLS_TRACE_LINE_H
#define ZORVAN_TOOLS_TRACE_LINE_H

#include <cctype>
#include <cstdlib>
#include <string>

#include "zorvan/trace_texts.h"

namespace zorvan {

// The pid (no leading zero, as the library writes it) and the message
// after the timestamp, so "tag: text"; false when the line lacks the
// prefix.
inline bool splitTraceLine(const std::string &line, long &pid, std::string &message) {
  const std::string head = ZORVAN_TRACE_LINE_PREFIX;
  if (line.compare(0, head.size(), head) != 0) return false;
  std::size_t at = head.size(), digits = at;
  if (at >= line.size() || line[at] < '1' || line[at] > '9') return false;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  // After the pid: ": " then "dd/dd/dd dd:dd:dd "; '9' stands for a digit.
  static const char kShape[] = ": 99/99/99 99:99:99 ";
  if (line.size() < digits + sizeof kShape - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
    char c = line[digits + i];
    if (kShape[i] == '9' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kShape[i]) return false;
  }
  pid = std::strtol(line.substr(at, digits - at).c_str(), nullptr, 10);
  message = line.substr(digits + sizeof kShape - 1);
  return true;
}

}  // namespace zorvan

#endif
