// Running acs-host from a test, and reading what it printed and passed:
// its table rows, and its --args-log (the journal lines of the calls it
// made, as the reference back end writes them).
#ifndef E2E_HOST_RUN_H
#define E2E_HOST_RUN_H

#include <string>
#include <vector>

namespace e2e {

std::vector<std::string> linesOf(const std::string &text);

// One row of acs-host's table.
struct Row {
  std::string function, argument;
  int rc = -1;
  std::string code, record, reason, outcome;
};

struct HostRun {
  int status = -1;                   // -1 when it did not exit normally
  std::string output;                // stdout and stderr
  std::vector<std::string> argsLog;  // what acs-host passed, as journal lines
  std::vector<Row> rows;
};

// acs-host with arguments (which name --lib or --backend-direct) and an
// --args-log of its own.
HostRun runHost(std::vector<std::string> arguments);

// A journal line's symbol, or the value of one of its key=value fields.
std::string symbolOf(const std::string &line);
std::string field(const std::string &line, const std::string &key);
std::vector<std::string> symbolsOf(const std::vector<std::string> &lines);
// The journal lines of one symbol.
std::vector<std::string> callsOf(const std::vector<std::string> &lines, const std::string &symbol);

}  // namespace e2e

#endif
