#include "options.h"

#include <cstdio>

namespace doctor {

namespace {

int usageError(const char *program, const std::string &what) {
  std::fprintf(stderr, "acs-doctor: %s\nTry '%s --help'.\n", what.c_str(), program);
  return kExitUsage;
}

}  // namespace

void printUsage(const char *program) {
  std::printf(
      "Usage: %s [--vm-name NAME] [--as-user USER] [--load] [--json] [--verbose]\n"
      "Explains how DB2 would find and load the ACS back end on this host, with\n"
      "the library's own discovery code, and names the fix for each problem.\n"
      "\n"
      "The environment is read as DB2 would read it: QXREG (registry directory,\n"
      "default /etc/OstravaneRegistry) and ZORVAN_INST (instance name). Run it\n"
      "in the DB2 instance owner's environment.\n"
      "\n"
      "  --vm-name NAME  simulate DB2 passing a vendor-options record whose\n"
      "                  vmName is NAME (at most %zu characters)\n"
      "  --as-user USER  also run discovery as USER, the DB2 instance owner\n"
      "                  (needs root); markers and the trace file are judged\n"
      "                  for USER\n"
      "  --load          load the back end (in this process, as DB2 would) and\n"
      "                  check its fourteen entry points; runs its constructors\n"
      "  --json          one JSON object on stdout instead of text\n"
      "  --verbose       also print the library's trace of the discovery\n"
      "  --help          this text\n"
      "\n"
      "acs-doctor changes nothing: it never writes the trace file, never\n"
      "creates a marker and exports ZORVAN_INST only to itself.\n"
      "\n"
      "Exit status: 0 DB2 would bind the back end, 1 it would not (or a debug\n"
      "marker would hold a call), 2 usage error.\n",
      program, kVmNameMax);
}

int parseOptions(int argc, char **argv, Options &out) {
  const char *program = argc > 0 ? argv[0] : "acs-doctor";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inlineValue = false;
    std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    auto takeValue = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    bool flag = !inlineValue;
    if (arg == "--help" && flag) {
      out.help = true;
    } else if (arg == "--json" && flag) {
      out.json = true;
    } else if (arg == "--load" && flag) {
      out.load = true;
    } else if (arg == "--verbose" && flag) {
      out.verbose = true;
    } else if (arg == "--vm-name") {
      if (!takeValue()) return usageError(program, "--vm-name needs a name");
      if (value.size() > kVmNameMax)
        return usageError(program, "--vm-name: the vmName field holds at most " +
                                       std::to_string(kVmNameMax) + " characters");
      out.vmName = value;
      out.haveVmName = true;
    } else if (arg == "--as-user") {
      if (!takeValue() || value.empty()) return usageError(program, "--as-user needs a user");
      out.asUser = value;
    } else {
      return usageError(program, "unknown argument " + std::string(argv[i]));
    }
  }
  return 0;
}

}  // namespace doctor
