// The installed tree and the packages: what they hold, the library's
// RUNPATH and exact exports, the tools starting from the unpacked tree,
// and a backup through the installed library and the installed acs-host.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "zorvan/db2acs.h"

namespace {

using namespace testsupport;

struct Output {
  int status = -1;
  std::string text;  // stdout and stderr together
};

Output run(const std::vector<std::string> &argv, const std::string &cwd = "") {
  std::string log = makeTempDir("cmd") + "/log";
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  Output out;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) out.status = WEXITSTATUS(status);
  out.text = readFile(log);
  return out;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Every symbol the library is meant to export, from the one table of
// entry points.
std::set<std::string> expectedExports() {
  std::set<std::string> names = {"db2ACSQueryApiVersion", "f_db2ACSQueryApiVersion",
                                 "db2ACS_handle", "get_first_zorvan_instname"};
#define ACS_EXPORTED(Name, Code, Label, Calling, Params, Args) \
  names.insert("db2ACS" #Name);                                \
  names.insert("f_db2ACS" #Name);
#define ACS_INITIALIZE_ENTRY ACS_EXPORTED
#define ACS_FORWARDER_ENTRY ACS_EXPORTED
#include "zorvan/entry_points.def"
#undef ACS_EXPORTED
  return names;
}

std::set<std::string> dynamicExports(const std::string &library) {
  Output nm = run({NM_PATH, "-D", "--defined-only", "--format=posix", library});
  EXPECT_EQ(nm.status, 0) << nm.text;
  std::set<std::string> names;
  for (const std::string &line : lines(nm.text)) {
    std::istringstream fields(line);
    std::string name, type;
    if (fields >> name >> type) names.insert(name);
  }
  return names;
}

std::string runpathOf(const std::string &library) {
  Output readelf = run({READELF_PATH, "-d", library});
  EXPECT_EQ(readelf.status, 0) << readelf.text;
  std::string runpath;
  for (const std::string &line : lines(readelf.text)) {
    EXPECT_EQ(line.find("(RPATH)"), std::string::npos) << "old-style RPATH: " << line;
    std::size_t open = line.find("(RUNPATH)");
    if (open == std::string::npos) continue;
    std::size_t l = line.find('[', open), r = line.rfind(']');
    if (l != std::string::npos && r != std::string::npos) runpath = line.substr(l + 1, r - l - 1);
  }
  return runpath;
}

// The tree below an install prefix, whichever way it was made.
void expectInstalledTree(const std::string &prefix) {
  const std::string lib = prefix + "/lib/libzorvan_db2acs.so";
  ASSERT_TRUE(exists(lib)) << lib;
  EXPECT_EQ(runpathOf(lib), "$ORIGIN:$ORIGIN/../Base64");
  EXPECT_EQ(dynamicExports(lib), expectedExports());

  struct stat st;
  const std::string backend = prefix + "/lib/zorvan-db2acs/examples/libqxacsint.so";
  ASSERT_EQ(stat(backend.c_str(), &st), 0) << backend;
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "the back end must stay executable";
  EXPECT_TRUE(exists(prefix + "/share/doc/zorvan-db2acs/README.md"));
  EXPECT_TRUE(exists(prefix + "/share/doc/zorvan-db2acs/operator-guide.md"));
  EXPECT_FALSE(exists(prefix + "/share/doc/zorvan-db2acs/benchmarks.md"));  // developers' only

  for (const char *tool : {"acs-host", "acs-doctor"}) {
    Output help = run(builtProgram({prefix + "/bin/" + tool, "--help"}));
    EXPECT_EQ(help.status, 0) << tool << ": " << help.text;
    EXPECT_NE(help.text.find("Usage: "), std::string::npos) << tool << ": " << help.text;
  }
}

// A registry and installation in /tmp around the installed reference back
// end; then a backup and a query through the installed acs-host, and the
// installed acs-doctor's verdict on the same installation.
void expectBackupWorks(const std::string &prefix) {
  std::string work = makeTempDir("install-check");
  std::string home = work + "/home", registry = work + "/registry";
  makeDirs(home + "/Base");
  writeFile(home + "/Base/libqxacsint.so",
            readFile(prefix + "/lib/zorvan-db2acs/examples/libqxacsint.so"), 0755);
  makeDirs(registry + "/Zorvan/Instance001/Base");
  writeFile(registry + "/Zorvan/Instance001/Db2Agent", "");
  writeFile(registry + "/Zorvan/Instance001/Base/.properties", "dZORVANHOME " + home + "\n");
  setEnv("QXREG", registry);
  unsetEnv("ZORVAN_INST");
  setEnv("QXACS_EXAMPLE_DIR", work + "/catalogue");

  const std::string host = prefix + "/bin/acs-host", lib = prefix + "/lib/libzorvan_db2acs.so";
  Output backup = run(builtProgram({host, "--lib", lib, "--sequence", "backup"}));
  EXPECT_EQ(backup.status, 0) << backup.text;
  Output query = run(builtProgram({host, "--lib", lib, "--sequence", "query"}));
  EXPECT_EQ(query.status, 0) << query.text;
  EXPECT_NE(query.text.find("object: obj-"), std::string::npos) << query.text;

  Output doctor = run(builtProgram({prefix + "/bin/acs-doctor", "--load"}));
  EXPECT_EQ(doctor.status, 0) << doctor.text;
}

TEST(InstallTree, HoldsLibraryToolsBackEndAndDocs) {
  std::string prefix = makeTempDir("prefix");
  Output install = run({CMAKE_PATH, "--install", BUILD_DIR, "--prefix", prefix});
  ASSERT_EQ(install.status, 0) << install.text;
  expectInstalledTree(prefix);
  expectBackupWorks(prefix);
}

TEST(Packages, TarballAndDebCarryTheInstalledTree) {
  std::string out = makeTempDir("packages");
  Output cpack = run({CPACK_PATH, "--config", std::string(BUILD_DIR) + "/CPackConfig.cmake",
                      "-G", "TGZ;DEB", "-B", out});
  ASSERT_EQ(cpack.status, 0) << cpack.text;
  std::string version = ZORVAN_VERSION;

  // The tarball unpacks into one top directory holding the tree.
  std::string tarball = out + "/zorvan-db2acs-" + version + "-Linux.tar.gz";
  std::string unpacked = makeTempDir("tgz");
  ASSERT_EQ(run({"tar", "xzf", tarball, "-C", unpacked}).status, 0) << tarball;
  std::string top = unpacked + "/zorvan-db2acs-" + version + "-Linux";
  expectInstalledTree(top);

  // The .deb: its control fields, and the same tree under /opt.
  Output debs = run({"sh", "-c", "ls " + out + "/*.deb"});
  ASSERT_EQ(debs.status, 0) << debs.text;
  std::string deb = lines(debs.text).at(0);
  Output fields = run({DPKG_DEB_PATH, "-f", deb, "Package", "Version", "Maintainer", "Depends",
                       "Description"});
  ASSERT_EQ(fields.status, 0) << fields.text;
  EXPECT_NE(fields.text.find("Package: zorvan-db2acs\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Version: " + version + "\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Maintainer: "), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Depends: libc6"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Description: DB2 ACS"), std::string::npos) << fields.text;

  std::string root = makeTempDir("deb");
  ASSERT_EQ(run({DPKG_DEB_PATH, "-x", deb, root}).status, 0);
  expectInstalledTree(root + "/opt/zorvan-db2acs");
  expectBackupWorks(root + "/opt/zorvan-db2acs");
}

}  // namespace
