// A reader for the parts of an ELF shared object that make up its binary
// interface: the header, the dynamic symbol table, the dynamic section and
// the symbol versions it needs.
// It reads either byte order and either class itself, so the ABI tests need
// no host tools and run unchanged under an emulator.
#ifndef ZORVAN_TEST_ABI_ELF_IMAGE_H
#define ZORVAN_TEST_ABI_ELF_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace abitest {

struct DynamicSymbol {
  std::string name;
  unsigned type;        // STT_*
  unsigned binding;     // STB_*
  unsigned visibility;  // STV_*
  bool defined;         // st_shndx != SHN_UNDEF
};

// One entry of the version-needs section: a symbol version the file
// requires of a library it depends on ("libc.so.6", "GLIBC_2.14").
struct VersionNeed {
  std::string file;
  std::string version;
};

struct ElfImage {
  bool is64 = false;
  bool bigEndian = false;
  uint16_t fileType = 0;  // ET_*
  uint16_t machine = 0;   // EM_*
  uint32_t flags = 0;     // e_flags
  std::vector<DynamicSymbol> dynamicSymbols;
  std::vector<std::string> needed;   // DT_NEEDED, in order
  std::vector<std::string> runpath;  // DT_RUNPATH entries
  std::vector<std::string> rpath;    // DT_RPATH entries
  std::vector<VersionNeed> versionNeeds;  // SHT_GNU_verneed, in order
};

// Reads the file; throws std::runtime_error on anything that is not a
// well-formed ELF file with section headers.
ElfImage readElfImage(const std::string &path);

}  // namespace abitest

#endif
