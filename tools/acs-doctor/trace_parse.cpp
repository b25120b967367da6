#include "trace_parse.h"

#include <cctype>
#include <cstring>

#include "zorvan/trace_texts.h"

namespace doctor {

namespace {

// "mm/dd/yy hh:mm:ss": digits where the library writes %02d.
bool isTimestamp(const std::string &text, std::size_t at) {
  static const char kShape[] = "99/99/99 99:99:99";
  if (text.size() < at + sizeof kShape - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
    char ch = text[at + i];
    if (kShape[i] == '9' ? !std::isdigit(static_cast<unsigned char>(ch)) : ch != kShape[i])
      return false;
  }
  return true;
}

}  // namespace

bool parseTraceLine(const std::string &line, TraceRecord &out) {
  const std::size_t prefix = std::strlen(ZORVAN_TRACE_LINE_PREFIX);
  if (line.compare(0, prefix, ZORVAN_TRACE_LINE_PREFIX) != 0) return false;
  std::size_t at = prefix, digits = 0;
  long pid = 0;
  while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) && digits < 10) {
    pid = pid * 10 + (line[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || line.compare(at, 2, ": ") != 0 || !isTimestamp(line, at + 2)) return false;
  at += 2;
  out.pid = pid;
  out.time = line.substr(at, 17);
  at += 17;
  if (at >= line.size() || line[at] != ' ') return false;
  std::string rest = line.substr(at + 1);
  std::size_t colon = rest.find(": ");
  if (colon == std::string::npos || colon == 0) {
    // A tag cut at the formatting limit: keep the record, without a message.
    out.tag = rest;
    out.message.clear();
  } else {
    out.tag = rest.substr(0, colon);
    out.message = rest.substr(colon + 2);
  }
  return true;
}

ParsedTrace parseTrace(const std::string &bytes) {
  ParsedTrace parsed;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) {
      parsed.partialLastLine = true;
      end = bytes.size();
    }
    std::string line = bytes.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;  // the scan's messages end in a newline of their own
    TraceRecord record;
    if (parseTraceLine(line, record))
      parsed.records.push_back(record);
    else
      ++parsed.foreignLines;
  }
  return parsed;
}

}  // namespace doctor
