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

#include "../abi/expected_exports.h"
#include "test_support.h"
#include "zorvan/db2acs.h"

namespace {

using namespace testsupport;

struct Output {
  int status = -1;
  std::string text;  // stdout and stderr together
};

// unprivileged: as root, as nobody (from /), as a DB2 instance owner runs it.
Output run(const std::vector<std::string> &argv, const std::string &cwd = "", bool unprivileged = false) {
  std::string log = makeTempDir("cmd") + "/log";
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (unprivileged && canActAsOtherUsers() && (!becomeUser(kNobody, kNobody, false) || chdir("/") != 0)) _exit(125);
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

// Every symbol the library is meant to export: the ABI test's list,
// written out independently of the table the library is built from.
std::set<std::string> expectedExports() {
  std::set<std::string> names;
  for (const auto &entry : abitest::expectedExports()) names.insert(entry.first);
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

mode_t modeOf(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
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
  EXPECT_EQ(modeOf(prefix + "/share/doc/zorvan-db2acs/README.md") & 0777, 0644u);
  EXPECT_EQ(modeOf(prefix + "/share/doc/zorvan-db2acs/operator-guide.md") & 0777, 0644u);
  // Developers' documents stay in the source.
  EXPECT_FALSE(exists(prefix + "/share/doc/zorvan-db2acs/benchmarks.md"));

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
  // No --lib: acs-host finds the library installed beside it.
  Output backup = run(builtProgram({host, "--sequence", "backup"}));
  EXPECT_EQ(backup.status, 0) << backup.text;
  EXPECT_NE(backup.text.find("library " + prefix + "/lib/libzorvan_db2acs.so\n"),
            std::string::npos) << backup.text;
  Output query = run(builtProgram({host, "--lib", lib, "--sequence", "query"}));
  EXPECT_EQ(query.status, 0) << query.text;
  EXPECT_NE(query.text.find("object: 1, snapshot image "), std::string::npos) << query.text;

  Output doctor = run(builtProgram({prefix + "/bin/acs-doctor", "--load"}), "", true);
  EXPECT_EQ(doctor.status, 0) << doctor.text;
}

const char *const kManPages[] = {"man1/acs-doctor.1.gz", "man1/acs-host.1.gz",
                                 "man7/libzorvan_db2acs.7.gz"};

// The glibc baseline of the unpacked trees, by the baseline check itself
// (built in release builds only: nothing else can meet it).
void expectBaseline(const std::vector<std::string> &trees) {
#ifdef BASELINE_TEST_PATH
  std::string list;
  for (const std::string &tree : trees) list += (list.empty() ? "" : ":") + tree;
  setEnv("ZORVAN_SHIPPED_TREES", list);
  Output check = run(builtProgram({BASELINE_TEST_PATH}));
  unsetEnv("ZORVAN_SHIPPED_TREES");
  EXPECT_EQ(check.status, 0) << check.text;
  EXPECT_NE(check.text.find("[  PASSED  ] " + std::to_string(4 * trees.size()) + " tests"),
            std::string::npos) << check.text;
#else
  (void)trees;
#endif
}

// What a system package adds around the tree below /opt/zorvan-db2acs.
void expectSystemIntegration(const std::string &root) {
  const std::string opt = "/opt/zorvan-db2acs";
  for (const char *tool : {"acs-host", "acs-doctor"}) {
    std::string link = root + "/usr/bin/" + tool;
    ASSERT_TRUE(S_ISLNK(modeOf(link))) << link;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), opt + "/bin/" + tool);
    EXPECT_EQ(modeOf(root + target) & 0777, 0755u) << target;
  }
  for (const char *page : kManPages)
    EXPECT_EQ(modeOf(root + "/usr/share/man/" + page) & 0777, 0644u) << page;
  EXPECT_NE(readFile(root + "/usr/share/doc/zorvan-db2acs/copyright").find("Upstream-Name:"),
            std::string::npos);
  EXPECT_TRUE(exists(root + "/usr/share/doc/zorvan-db2acs/changelog.gz"));
  EXPECT_EQ(modeOf(root + opt + "/lib/libzorvan_db2acs.so") & 0777, 0644u);
}

// The paths a package lists, one per line, whatever it lists them with.
std::set<std::string> listed(const std::vector<std::string> &argv, const std::string &strip) {
  Output list = run(argv);
  EXPECT_EQ(list.status, 0) << list.text;
  std::set<std::string> paths;
  for (std::string line : lines(list.text)) {
    if (line.rfind(strip, 0) == 0) line = line.substr(strip.size());
    if (line.size() > 1 && line.back() == '/') line.pop_back();
    paths.insert(line);
  }
  return paths;
}

struct Packages {
  std::string dir, version = ZORVAN_VERSION, tarball, deb, rpm;
};

Packages makePackages() {
  Packages p;
  p.dir = makeTempDir("packages");
  Output cpack = run({CPACK_PATH, "--config", std::string(BUILD_DIR) + "/CPackConfig.cmake",
                      "-G", "TGZ;DEB;RPM", "-B", p.dir});
  EXPECT_EQ(cpack.status, 0) << cpack.text;
  p.tarball = p.dir + "/zorvan-db2acs-" + p.version + "-" + RPM_ARCH + ".tar.gz";
  p.deb = p.dir + "/zorvan-db2acs_" + p.version + "_" + DEB_ARCH + ".deb";
  p.rpm = p.dir + "/zorvan-db2acs-" + p.version + "-1." + RPM_ARCH + ".rpm";
  return p;
}

TEST(InstallTree, HoldsLibraryToolsBackEndDocsAndManual) {
  std::string prefix = makeTempDir("prefix");
  Output install = run({CMAKE_PATH, "--install", BUILD_DIR, "--prefix", prefix});
  ASSERT_EQ(install.status, 0) << install.text;
  expectInstalledTree(prefix);
  for (const char *page : kManPages) EXPECT_TRUE(exists(prefix + "/share/man/" + page)) << page;
  // A plain install stays inside its prefix: the /usr links are the
  // system packages' alone.
  EXPECT_EQ(install.text.find("/usr/"), std::string::npos) << install.text;
  expectBackupWorks(prefix);
}

TEST(Packages, TarballDebAndRpmCarryOneTree) {
  Packages p = makePackages();

  // The tarball unpacks into one top directory holding the tree and its
  // manual, and nothing of the system packages' surroundings.
  std::string unpacked = makeTempDir("tgz");
  ASSERT_EQ(run({"tar", "xzf", p.tarball, "-C", unpacked}).status, 0) << p.tarball;
  std::string top = unpacked + "/zorvan-db2acs-" + p.version + "-" + RPM_ARCH;
  expectInstalledTree(top);
  for (const char *page : kManPages) EXPECT_TRUE(exists(top + "/share/man/" + page)) << page;
  EXPECT_FALSE(exists(top + "/usr"));

  // The .deb: its control fields, the tree under /opt and what lies around it.
  Output fields = run({DPKG_DEB_PATH, "-f", p.deb, "Package", "Version", "Architecture",
                       "Maintainer", "Depends", "Description"});
  ASSERT_EQ(fields.status, 0) << fields.text;
  EXPECT_NE(fields.text.find("Package: zorvan-db2acs\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Version: " + p.version + "\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Architecture: " DEB_ARCH "\n"), std::string::npos) << fields.text;
  EXPECT_NE(fields.text.find("Depends: libc6 (>= 2.17)\n"), std::string::npos) << fields.text;
  // The long description, line by line, is the description file's (a
  // line of its own "." in both).
  std::string description = readFile(PACKAGE_DESCRIPTION_FILE), deb;
  for (const std::string &line : lines(fields.text.substr(fields.text.find("Description: "))))
    if (line[0] == ' ') deb += line.substr(1) + "\n";
  EXPECT_EQ(deb, description) << fields.text;
  std::string debRoot = makeTempDir("deb");
  ASSERT_EQ(run({DPKG_DEB_PATH, "-x", p.deb, debRoot}).status, 0);
  expectInstalledTree(debRoot + "/opt/zorvan-db2acs");
  expectSystemIntegration(debRoot);
  EXPECT_TRUE(exists(debRoot + "/usr/share/lintian/overrides/zorvan-db2acs"));

  // The .rpm: the same, and it owns neither /opt nor the system's
  // directories, and needs nothing but the C library.
  std::string rpmRoot = makeTempDir("rpm");
  Output unpack = run({"sh", "-c", std::string(RPM2CPIO_PATH) + " " + p.rpm + " | " + CPIO_PATH +
                                       " -idm --quiet"},
                      rpmRoot);
  ASSERT_EQ(unpack.status, 0) << unpack.text;
  expectInstalledTree(rpmRoot + "/opt/zorvan-db2acs");
  expectSystemIntegration(rpmRoot);
  Output info = run({RPM_PATH, "-qp", "--queryformat", "%{DESCRIPTION}\n", p.rpm});
  EXPECT_EQ(info.text, description);
  std::set<std::string> owned = listed({RPM_PATH, "-qlp", p.rpm}, "");
  for (const char *dir : {"/opt", "/usr", "/usr/bin", "/usr/share/man", "/usr/share/man/man1"})
    EXPECT_EQ(owned.count(dir), 0u) << "the package claims " << dir;
  EXPECT_EQ(owned.count("/opt/zorvan-db2acs"), 1u);
  // A sanitizer build's tools keep the shared C++ runtime its runtime
  // expects; only a plain build's packages are held to the C library.
  const bool sanitized = std::string(ZORVAN_SANITIZE) != "";
  for (const std::string &need : listed({RPM_PATH, "-qp", "--requires", p.rpm}, "")) {
    if (sanitized) break;
    // /bin/sh: the install scripts CPack writes (empty ones too) run in it.
    bool allowed = need == "/bin/sh" || need.rfind("rpmlib(", 0) == 0 || need.rfind("rtld(", 0) == 0 ||
                   need.rfind("libc.so.6", 0) == 0 || need.rfind("libdl.so.2", 0) == 0 ||
                   need.rfind("libm.so.6", 0) == 0 || need.rfind("libpthread.so.0", 0) == 0 ||
                   need.rfind("ld", 0) == 0;
    EXPECT_TRUE(allowed) << "the .rpm requires " << need;
  }

  expectBaseline({top, debRoot + "/opt/zorvan-db2acs", rpmRoot + "/opt/zorvan-db2acs"});
  expectBackupWorks(debRoot + "/opt/zorvan-db2acs");
  expectBackupWorks(rpmRoot + "/opt/zorvan-db2acs");
}

}  // namespace
