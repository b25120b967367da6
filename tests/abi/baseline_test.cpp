// What we ship loads on every glibc from 2.17 on and brings its own C++
// runtime: read from each shipped ELF file's version needs and NEEDED
// entries, not hoped for. The table below lists the shipped files and what
// each may depend on. The files checked are the build's own, or, for a
// release, those of every architecture's unpacked tarball
// (ZORVAN_SHIPPED_TREES=<tree>:<tree>...).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "elf_image.h"

namespace {

// The oldest C library DB2 hosts still run (RHEL 7).
const std::vector<unsigned> kBaseline = {2, 17};

// The C library's own objects, any of which a program may need; the
// dynamic loader under its name on each architecture.
const std::set<std::string> kProgramMayNeed = {
    "libc.so.6",          "libdl.so.2", "libm.so.6", "libpthread.so.0", "librt.so.1",
    "ld-linux-x86-64.so.2", "ld64.so.2", "ld64.so.1", "ld-linux-aarch64.so.1"};
// The library lives in DB2's process: the C library, libdl where that C
// library keeps dlopen, and on AArch64 the dynamic loader, which holds the
// stack protector's canary there (__stack_chk_guard, GLIBC_2.17) and is in
// every process anyway.
const std::set<std::string> kLibraryMayNeed = {"libc.so.6", "libdl.so.2",
                                               "ld-linux-aarch64.so.1"};

struct Shipped {
  const char *name;
  const char *inTree;   // below an install tree
  const char *inBuild;  // in this build
  const std::set<std::string> *mayNeed;
};

const Shipped kShipped[] = {
    {"library", "lib/libzorvan_db2acs.so", ZORVAN_LIBRARY_PATH, &kLibraryMayNeed},
    {"backend", "lib/zorvan-db2acs/examples/libqxacsint.so", ZORVAN_BACKEND_PATH,
     &kProgramMayNeed},
    {"acs_host", "bin/acs-host", ZORVAN_HOST_PATH, &kProgramMayNeed},
    {"acs_doctor", "bin/acs-doctor", ZORVAN_DOCTOR_PATH, &kProgramMayNeed},
};

struct Case {
  std::string label;  // test name: architecture tree and file
  std::string path;
  const Shipped *file;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.path; }

std::vector<Case> cases() {
  std::vector<std::string> trees;
  if (const char *list = getenv("ZORVAN_SHIPPED_TREES")) {
    std::istringstream in(list);
    for (std::string tree; std::getline(in, tree, ':');)
      if (!tree.empty()) trees.push_back(tree);
  }
  std::vector<Case> out;
  for (const Shipped &file : kShipped) {
    if (trees.empty()) out.push_back({std::string("build_") + file.name, file.inBuild, &file});
    for (std::size_t t = 0; t < trees.size(); ++t) {
      const std::string &tree = trees[t];
      std::string label = "tree" + std::to_string(t + 1) + "_" +
                          tree.substr(tree.find_last_of('/') + 1) + "_" + file.name;
      for (char &c : label)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      out.push_back({label, tree + "/" + file.inTree, &file});
    }
  }
  return out;
}

// "GLIBC_2.3.4" -> {2, 3, 4}
std::vector<unsigned> versionNumbers(const std::string &version) {
  std::vector<unsigned> numbers;
  std::istringstream in(version.substr(version.find('_') + 1));
  for (std::string part; std::getline(in, part, '.');)
    numbers.push_back(static_cast<unsigned>(strtoul(part.c_str(), nullptr, 10)));
  return numbers;
}

bool startsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

class Baseline : public testing::TestWithParam<Case> {};

TEST_P(Baseline, NeedsNoGlibcAbove217AndNoCxxRuntime) {
  const Case &c = GetParam();
  abitest::ElfImage image;
  try {
    image = abitest::readElfImage(c.path);
  } catch (const std::exception &e) {
    FAIL() << c.path << ": " << e.what();
  }
  EXPECT_FALSE(image.versionNeeds.empty()) << c.path << " has no version needs: not read?";
  for (const abitest::VersionNeed &need : image.versionNeeds) {
    // libstdc++, its ABI and libgcc_s are linked in, never needed.
    EXPECT_FALSE(startsWith(need.version, "GLIBCXX_") || startsWith(need.version, "CXXABI_") ||
                 startsWith(need.version, "GCC_"))
        << c.path << " needs " << need.file << " " << need.version;
    EXPECT_NE(need.version, "GLIBC_PRIVATE") << c.path;
    if (startsWith(need.version, "GLIBC_2.")) {
      EXPECT_LE(versionNumbers(need.version), kBaseline)
          << c.path << " needs " << need.file << " " << need.version;
    }
  }
  for (const std::string &needed : image.needed)
    EXPECT_EQ(c.file->mayNeed->count(needed), 1u) << c.path << " needs " << needed;
  EXPECT_NE(std::find(image.needed.begin(), image.needed.end(), "libc.so.6"), image.needed.end())
      << c.path;
}

std::string caseName(const testing::TestParamInfo<Case> &param) { return param.param.label; }

INSTANTIATE_TEST_SUITE_P(Shipped, Baseline, testing::ValuesIn(cases()), caseName);

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
