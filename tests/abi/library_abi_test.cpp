// The shared object's binary interface as DB2 sees it: which symbols it
// exports, what it needs, where it looks for its neighbours, and that it
// loads with every reference resolved. The expected names are written out
// by hand (expected_exports.h), independently of the header that marks
// them for export.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "elf_image.h"
#include "expected_exports.h"

namespace {

using abitest::expectedExports;

// Symbols the link editor defines in every shared object; they are not
// part of the library's own interface.
const std::set<std::string> kLinkerDefined = {"_init", "_fini", "__bss_start", "_edata", "_end"};

// Internal functions and variables that must stay out of reach of DB2 and
// of the back end, even though other objects of the library call them.
const char *const kInternal[] = {
    "SqluvErrorLog",   "zorvanSetTraceSink", "GetZorvanInstanceName", "GetZorvanBaseDir",
    "initializeFptrs", "unInitializeFptrs",  "fixRegistryDir",        "qxReg",
};

abitest::ElfImage library() { return abitest::readElfImage(ZORVAN_LIBRARY_PATH); }

// AddressSanitizer gives every exported variable an ODR indicator,
// "__odr_asan.<name>"; the shipped object has none.
bool sanitizerAddition(const std::string &name) {
  return std::string(ZORVAN_SANITIZE) != "" && name.rfind("__odr_asan.", 0) == 0;
}

bool exported(const abitest::DynamicSymbol &s) {
  bool globalBinding = s.binding == STB_GLOBAL || s.binding == STB_WEAK || s.binding == STB_GNU_UNIQUE;
  bool visible = s.visibility == STV_DEFAULT || s.visibility == STV_PROTECTED;
  return s.defined && globalBinding && visible && s.type != STT_SECTION;
}

TEST(LibraryAbi, ExportsExactlyTheAcsInterface) {
  std::map<std::string, unsigned> expected = expectedExports();
  std::vector<std::string> unexpected, wrongType;
  std::set<std::string> seen;
  for (const abitest::DynamicSymbol &s : library().dynamicSymbols) {
    if (!exported(s) || kLinkerDefined.count(s.name) != 0 || sanitizerAddition(s.name)) continue;
    seen.insert(s.name);
    auto e = expected.find(s.name);
    if (e == expected.end())
      unexpected.push_back(s.name);
    else if (e->second != s.type)
      wrongType.push_back(s.name + " has STT_ type " + std::to_string(s.type));
  }
  std::vector<std::string> missing;
  for (const auto &e : expected)
    if (seen.count(e.first) == 0) missing.push_back(e.first);
  EXPECT_EQ(unexpected, std::vector<std::string>{});
  EXPECT_EQ(missing, std::vector<std::string>{});
  EXPECT_EQ(wrongType, std::vector<std::string>{});
}

TEST(LibraryAbi, NeedsOnlyTheCLibrary) {
  if (std::string(ZORVAN_SANITIZE) != "")
    GTEST_SKIP() << "sanitizer build (SANITIZE=" ZORVAN_SANITIZE
                    "): the runtime libraries it links are not part of the shipped object";
  // glibc's soname on every Linux target this library is built for; libdl
  // where the C library it was built against keeps dlopen there (before
  // glibc 2.34; a stub on newer systems, present on all); on AArch64 the
  // dynamic loader, where the stack protector's canary lives.
  std::vector<std::string> needed = library().needed;
  std::vector<std::string> others;
  for (const std::string &name : needed) {
    bool optional = name == "libdl.so.2";
#if defined(__aarch64__)
    optional = optional || name == "ld-linux-aarch64.so.1";
#endif
    if (!optional && name != "libc.so.6") others.push_back(name);
  }
  EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end());
  EXPECT_EQ(others, std::vector<std::string>{});
}

TEST(LibraryAbi, FindsItsNeighboursBesideItselfAndInBase64) {
  abitest::ElfImage image = library();
  EXPECT_EQ(image.runpath, std::vector<std::string>{"$ORIGIN:$ORIGIN/../Base64"});
  // DT_RPATH would be searched before LD_LIBRARY_PATH, unlike DB2 expects.
  EXPECT_TRUE(image.rpath.empty());
}

// The file matches the target the tests were compiled for, and POWER
// keeps its calling convention: ELFv1 big-endian, ELFv2 little-endian.
TEST(LibraryAbi, IsBuiltForThisTarget) {
  abitest::ElfImage image = library();
  EXPECT_EQ(image.fileType, ET_DYN);
  EXPECT_EQ(image.is64, sizeof(void *) == 8);
  EXPECT_EQ(image.bigEndian, __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
#if defined(__x86_64__)
  EXPECT_EQ(image.machine, EM_X86_64);
#elif defined(__aarch64__)
  EXPECT_EQ(image.machine, EM_AARCH64);
#elif defined(__s390x__)
  EXPECT_EQ(image.machine, EM_S390);
#elif defined(__powerpc64__)
  EXPECT_EQ(image.machine, EM_PPC64);
  EXPECT_EQ(image.flags & EF_PPC64_ABI, image.bigEndian ? 1u : 2u) << "ELFv1 or ELFv2 flag";
#else
  GTEST_SKIP() << "no ELF machine written down for this target";
#endif
}

TEST(LibraryAbi, LoadsWithEveryReferenceResolvedAndHidesItsInternals) {
  void *handle = dlopen(ZORVAN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  for (const auto &entry : expectedExports())
    EXPECT_NE(dlsym(handle, entry.first.c_str()), nullptr) << entry.first;
  for (const char *name : kInternal) EXPECT_EQ(dlsym(handle, name), nullptr) << name;
  EXPECT_EQ(dlclose(handle), 0);
}

}  // namespace
