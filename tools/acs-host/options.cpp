#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include <climits>
#include <sys/stat.h>

#include "command_line.h"
#include "db2acs_protocol.h"
#include "host_blocks.h"
#include "installed_library.h"

namespace {

#ifdef ACS_HOST_DEFAULT_LIBRARY
const char kDefaultLibrary[] = ACS_HOST_DEFAULT_LIBRARY;
#else
const char kDefaultLibrary[] = "";
#endif

// An installed acs-host loads the installed library; a build-tree one the
// library it was built with.
std::string defaultLibrary() {
  std::string installed = zorvan::installedAcsLibrary();
  return installed.empty() ? kDefaultLibrary : installed;
}

bool parseSequence(const std::string &text, Sequence &out) {
  if (text == "backup") out = Sequence::Backup;
  else if (text == "restore") out = Sequence::Restore;
  else if (text == "delete") out = Sequence::Delete;
  else if (text == "query") out = Sequence::Query;
  else return false;
  return true;
}

bool parseU32(const std::string &text, uint32_t &out) {
  if (text.empty() || text[0] == '-') return false;
  char *end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool parseU64(const std::string &text, uint64_t &out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = value;
  return true;
}

// A database path as DB2 passes it: absolute, of a directory that exists.
bool absoluteDirectory(const std::string &text, std::string &out) {
  char resolved[PATH_MAX];
  struct stat st;
  if (!realpath(text.c_str(), resolved) || stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  out = resolved;
  return out.size() < db2acs::kPathLen;
}

int usageError(const char *program, const char *what, const std::string &detail) {
  std::fprintf(stderr, "acs-host: %s%s\nTry '%s --help'.\n", what, detail.c_str(), program);
  return kExitUsage;
}

}  // namespace

void printUsage(const char *program) {
  // The text stays a literal so the compiler checks it against its values.
  std::printf(
    "Usage: %s [--lib PATH | --backend-direct PATH] [options]\n"
    "Drives an ACS library through DB2's call sequence for one operation\n"
    "and prints one row per call.\n"
    "\n"
    "  --lib PATH             ACS library to load (default: %s)\n"
    "  --backend-direct PATH  load a back end (libqxacsint.so) and call its\n"
    "                         db2ACS*pp entry points directly\n"
    "                         (db2ACSQueryApiVersion has none and is skipped)\n"
    "  --sequence NAME        backup (default), restore, delete or query\n"
    "  --vm-name NAME         attach a 344-byte vendor-options record whose\n"
    "                         vmName is NAME (cut to 17 characters)\n"
    "  --options-size N       options.size to put in the control block; the\n"
    "                         vendor-options record is attached (default 344\n"
    "                         with --vm-name, else no options at all)\n"
    "  --object ID            restore/delete: only object ID (a number); delete\n"
    "                         calls Delete for ID at once, without a query\n"
    "  --db NAME              the database the session names (default SAMPLE)\n"
    "  --path DIR             backup: a database path for the path list, as an\n"
    "                         absolute path (repeatable; default: the working\n"
    "                         directory)\n"
    "  --keep-going           make every call of the sequence even after a\n"
    "                         failure (DB2 stops at a failing Initialize and\n"
    "                         otherwise skips to EndOperation and Terminate)\n"
    "  --args-log FILE        write, per forwarded call, the journal line the\n"
    "                         example back end should write for it\n"
    "  --help                 this text\n"
    "\n"
    "Exit status: 0 every call succeeded, 1 a call failed, 2 usage error,\n"
    "3 the library could not be loaded or lacks a function.\n",
      program, defaultLibrary().empty() ? "none, --lib is required" : defaultLibrary().c_str());
}

const char *sequenceName(Sequence sequence) {
  switch (sequence) {
    case Sequence::Backup: return "backup";
    case Sequence::Restore: return "restore";
    case Sequence::Delete: return "delete";
    case Sequence::Query: return "query";
  }
  return "?";
}

int parseOptions(int argc, char **argv, HostOptions &out) {
  const char *program = argc > 0 ? argv[0] : "acs-host";
  bool haveLib = false, haveDirect = false, haveOptionsSize = false, haveVmName = false;
  for (CommandLine args(argc, argv); args.next();) {
    const std::string &arg = args.name();
    std::string v;
    if (args.flag("--help")) {
      out.help = true;
    } else if (args.flag("--keep-going")) {
      out.keepGoing = true;
    } else if (arg == "--lib" || arg == "--backend-direct") {
      if (!args.value(v) || v.empty()) return usageError(program, "missing path after ", arg);
      (arg == "--lib" ? haveLib : haveDirect) = true;
      out.libraryPath = v;
    } else if (arg == "--sequence") {
      if (!args.value(v) || !parseSequence(v, out.sequence))
        return usageError(program, "--sequence takes backup, restore, delete or query, not ", v);
    } else if (arg == "--vm-name") {
      if (!args.value(out.vmName)) return usageError(program, "missing name after ", arg);
      haveVmName = true;
    } else if (arg == "--options-size") {
      if (!args.value(v) || !parseU32(v, out.optionsSize))
        return usageError(program, "--options-size takes a number, not ", v);
      haveOptionsSize = true;
    } else if (arg == "--object") {
      if (!args.value(v) || !parseU64(v, out.objectId))
        return usageError(program, "--object takes an object id (a number), not ", v);
      out.haveObject = true;
    } else if (arg == "--db") {
      if (!args.value(out.database) || out.database.empty() ||
          out.database.size() >= db2acs::kDbNameLen)
        return usageError(program, "--db takes a name of 1 to 8 characters", "");
    } else if (arg == "--path") {
      std::string path;
      if (!args.value(v) || !absoluteDirectory(v, path))
        return usageError(program, "--path takes an existing directory, not ", v);
      out.paths.push_back(path);
    } else if (arg == "--args-log") {
      if (!args.value(out.argsLogPath) || out.argsLogPath.empty())
        return usageError(program, "missing file after ", arg);
    } else {
      return usageError(program, "unknown argument ", args.word());
    }
  }
  if (out.help) return 0;
  if (haveLib && haveDirect) return usageError(program, "--lib and --backend-direct exclude each other", "");
  if (!haveLib && !haveDirect) {
    out.libraryPath = defaultLibrary();
    if (out.libraryPath.empty()) return usageError(program, "--lib PATH is required", "");
  }
  out.backendDirect = haveDirect;
  std::string here;
  if (out.paths.empty()) {
    if (!absoluteDirectory(".", here))
      return usageError(program, "the working directory cannot be a database path; give --path", "");
    out.paths.push_back(here);
  }
  out.withVendorOptions = haveVmName || haveOptionsSize;
  if (!haveOptionsSize) out.optionsSize = kVendorOptionsSize;
  return 0;
}
