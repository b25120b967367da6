#include "doctor.h"

#include <cstdio>
#include <utility>

#include "command_line.h"

namespace doctor {

namespace {

int usageError(const char *program, const std::string &what) {
  std::fprintf(stderr, "acs-doctor: %s\nTry '%s --help'.\n", what.c_str(), program);
  return kExitUsage;
}

}  // namespace

void printUsage(const char *program) {
  std::printf(
      "Usage: %s [--pid PID | --as-user USER] [--vm-name NAME] [--load] [--timeout S]\n"
      "       [--json | --brief] [--verbose]\n"
      "       %s --trace FILE [--json]\n"
      "Explains how DB2 would find and load the ACS back end on this host, with\n"
      "the library's own discovery code, and names the fix for each problem.\n"
      "\n"
      "Discovery is steered by QXREG (registry directory, default\n"
      "/etc/OstravaneRegistry) and ZORVAN_INST (instance name), and depends on\n"
      "who runs it. Check with the identity and environment DB2 really has:\n"
      "\n"
      "  --pid PID       as that running process (a DB2 agent): its real uid, gid\n"
      "                  and groups, its QXREG and ZORVAN_INST, its working\n"
      "                  directory, its environment whole (needs root, or the\n"
      "                  process's own user)\n"
      "  --as-user USER  as USER, with USER's login environment (what su - USER\n"
      "                  gives, profile included; needs root, or USER itself)\n"
      "  --vm-name NAME  simulate DB2 passing a vendor-options record whose\n"
      "                  vmName is NAME (at most %zu characters)\n"
      "  --load          load the back end as the checked user would and check\n"
      "                  its fourteen entry points; runs its constructors (in a\n"
      "                  load process of their own; root: only with --pid or\n"
      "                  --as-user)\n"
      "  --timeout S     give the check S seconds (default %d); a back end that\n"
      "                  loads no sooner is a finding: DB2's process would hang\n"
      "  --trace FILE    explain a captured trace log (/tmp/db2acstrace.log):\n"
      "                  each process's ACS calls, the first failure and its cause\n"
      "  --json          one JSON object on stdout instead of text\n"
      "  --brief         one line: host name, verdict and the first cause\n"
      "  --verbose       also print the library's trace of the discovery\n"
      "  --help          this text\n"
      "\n"
      "acs-doctor changes nothing: it never writes the trace file, never\n"
      "creates a marker, and ZORVAN_INST as the scan exports it stays in its\n"
      "checking child.\n"
      "\n"
      "Exit status: 0 checked as the identity asked for, and DB2 would bind the\n"
      "back end; 1 it would not (or a debug marker would hold a call, or the back\n"
      "end kills the process loading it); 2 the check could not be made (usage\n"
      "error, another user's check without root, root's --load as itself, a\n"
      "process that cannot be read).\n"
      "With --trace: 0 no call failed, 1 one did, 2 usage error or unreadable file.\n",
      program, program, kVmNameMax, kDefaultTimeout);
}

int parseOptions(int argc, char **argv, Options &out) {
  const char *program = argc > 0 ? argv[0] : "acs-doctor";
  const std::pair<const char *, bool *> flags[] = {{"--help", &out.help}, {"--json", &out.json},
                                                   {"--brief", &out.brief}, {"--load", &out.load},
                                                   {"--verbose", &out.verbose}};
  const struct { const char *name, *needs; std::string *value; } named[] = {
      {"--as-user", "a user", &out.asUser}, {"--pid", "a process id", &out.pid},
      {"--trace", "a file", &out.traceFile}};
  for (CommandLine args(argc, argv); args.next();) {
    bool known = false;
    for (const auto &f : flags)
      if (args.flag(f.first)) known = *f.second = true;
    for (const auto &n : named)
      if (args.name() == n.name) {
        if (!args.value(*n.value) || n.value->empty()) return usageError(program, args.name() + " needs " + n.needs);
        known = true;
      }
    if (known) continue;
    std::string seconds;
    if (args.name() == "--timeout") {
      if (!args.value(seconds) || seconds.empty() || seconds.size() > 5 ||
          seconds.find_first_not_of("0123456789") != std::string::npos || std::stoi(seconds) == 0)
        return usageError(program, "--timeout needs a number of seconds, 1 to 99999");
      out.timeout = std::stoi(seconds);
      continue;
    }
    if (args.name() != "--vm-name") return usageError(program, "unknown argument " + std::string(args.word()));
    if (!args.value(out.vmName)) return usageError(program, "--vm-name needs a name");
    if (out.vmName.size() > kVmNameMax)
      return usageError(program, "--vm-name: the vmName field holds at most " + std::to_string(kVmNameMax) +
                                     " characters");
    out.haveVmName = true;
  }
  if (!out.pid.empty() && !out.asUser.empty())
    return usageError(program, "--pid and --as-user name two different checks; give one");
  if (out.json && out.brief) return usageError(program, "--json and --brief are two outputs; give one");
  if (!out.traceFile.empty() && (!out.pid.empty() || !out.asUser.empty() || out.load || out.haveVmName || out.brief ||
                                 out.timeout != kDefaultTimeout))
    return usageError(program, "--trace reads a trace log; it takes only --json");
  return 0;
}

}  // namespace doctor
