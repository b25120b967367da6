// Reads a trace log as the library writes it: one record per line
// "LIBDB2ACS-<pid>: mm/dd/yy hh:mm:ss <tag>: <message>". Lines of several
// processes may interleave, a line may be cut at the formatting limit, the
// last one may still be being written, and anything else may have been
// appended to the file; none of that stops the reading.
#ifndef ACS_DOCTOR_TRACE_PARSE_H
#define ACS_DOCTOR_TRACE_PARSE_H

#include <string>
#include <vector>

namespace doctor {

struct TraceRecord {
  long pid = 0;
  std::string time;  // "mm/dd/yy hh:mm:ss"
  std::string tag;   // "db2ACSInitialize()", "GetZorvanBaseDir", ...
  std::string message;
};

struct ParsedTrace {
  std::vector<TraceRecord> records;  // in file order
  std::size_t foreignLines = 0;      // non-empty lines that are no trace line
  bool partialLastLine = false;      // the file does not end in a newline
};

// One line without its newline; false when it is no trace line.
bool parseTraceLine(const std::string &line, TraceRecord &out);

ParsedTrace parseTrace(const std::string &bytes);

}  // namespace doctor

#endif
