#include "host_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "test_support.h"

namespace e2e {

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

namespace {

// "  3  db2ACSBeginOperation  CREATE|SNAPSHOT  0 DB2ACS_RC_OK  0  0  12.5  ok"
std::vector<Row> rowsOf(const std::string &output) {
  std::vector<Row> rows;
  for (const std::string &line : linesOf(output)) {
    char function[64], argument[64], code[64], record[16], reason[16], outcome[256] = "";
    int index = 0, rc = 0;
    double usec = 0;
    if (std::sscanf(line.c_str(), "%d %63s %63s %d %63s %15s %15s %lf %255[^\n]", &index, function,
                    argument, &rc, code, record, reason, &usec, outcome) != 9)
      continue;
    rows.push_back({function, argument, rc, code, record, reason, outcome});
  }
  return rows;
}

}  // namespace

HostRun runHost(std::vector<std::string> arguments) {
  static int runs = 0;
  std::string stem = "/tmp/acs-host-run" + std::to_string(++runs);
  std::string outPath = stem + ".out", argsPath = stem + ".args";
  arguments.insert(arguments.begin(), ACS_HOST_PATH);
  arguments.insert(arguments.end(), {"--args-log", argsPath});
  arguments = testsupport::builtProgram(arguments);

  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  HostRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.status = WEXITSTATUS(status);
  run.output = testsupport::readFile(outPath);
  run.argsLog = linesOf(testsupport::readFile(argsPath));
  run.rows = rowsOf(run.output);
  return run;
}

std::string symbolOf(const std::string &line) { return line.substr(0, line.find(' ')); }

std::string field(const std::string &line, const std::string &key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "(no " + key + ")";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

std::vector<std::string> symbolsOf(const std::vector<std::string> &lines) {
  std::vector<std::string> symbols;
  for (const std::string &line : lines) symbols.push_back(symbolOf(line));
  return symbols;
}

std::vector<std::string> callsOf(const std::vector<std::string> &lines, const std::string &symbol) {
  std::vector<std::string> out;
  for (const std::string &line : lines)
    if (symbolOf(line) == symbol) out.push_back(line);
  return out;
}

}  // namespace e2e
