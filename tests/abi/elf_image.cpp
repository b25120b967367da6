#include "elf_image.h"

#include <elf.h>
#include <stddef.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace abitest {

namespace {

// Bytes of the file, read as fields of the file's own byte order, with
// every access bounds-checked: a malformed file fails the read, not the
// test process.
class Bytes {
 public:
  Bytes(std::vector<unsigned char> data, bool bigEndian)
      : data_(std::move(data)), bigEndian_(bigEndian) {}

  uint64_t field(uint64_t offset, size_t width) const {
    require(offset, width);
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
      size_t index = bigEndian_ ? i : width - 1 - i;
      value = (value << 8) | data_[offset + index];
    }
    return value;
  }

  std::string string(uint64_t tableOffset, uint64_t tableSize, uint64_t index) const {
    if (index >= tableSize) throw std::runtime_error("string index outside its table");
    require(tableOffset, tableSize);
    std::string text;
    for (uint64_t i = tableOffset + index; i < tableOffset + tableSize; ++i) {
      if (data_[i] == '\0') return text;
      text.push_back(static_cast<char>(data_[i]));
    }
    throw std::runtime_error("unterminated string in string table");
  }

  void require(uint64_t offset, uint64_t length) const {
    if (offset > data_.size() || length > data_.size() - offset)
      throw std::runtime_error("ELF structure runs past the end of the file");
  }

 private:
  std::vector<unsigned char> data_;
  bool bigEndian_;
};

#define ELF_FIELD(Type, member) offsetof(Type, member), sizeof(Type::member)

struct Section {
  uint32_t type;
  uint64_t offset;
  uint64_t size;
  uint32_t link;
  uint64_t entrySize;
};

// One parser for both classes; the <elf.h> structures give the offsets
// and widths of each class's fields, the file gives the byte order.
// The version-needs section: a chain of Verneed records (one per library
// depended on), each heading a chain of Vernaux records (one per version
// needed of it). Both classes share the layout. The chains are followed by
// their offsets, at most as many steps as the section could hold, so a
// looping chain ends the read.
static_assert(sizeof(Elf32_Verneed) == sizeof(Elf64_Verneed) &&
                  sizeof(Elf32_Vernaux) == sizeof(Elf64_Vernaux),
              "one layout of the version-needs records for both classes");

void parseVersionNeeds(const Bytes &bytes, const Section &s, const Section &strings,
                       ElfImage &image) {
  bytes.require(s.offset, s.size);
  const uint64_t maxSteps = s.size / sizeof(Elf64_Vernaux) + 1;
  uint64_t need = s.offset;
  for (uint64_t n = 0; n < maxSteps; ++n) {
    if (need + sizeof(Elf64_Verneed) > s.offset + s.size)
      throw std::runtime_error("version need runs past its section");
    std::string file = bytes.string(strings.offset, strings.size,
                                    bytes.field(need + ELF_FIELD(Elf64_Verneed, vn_file)));
    uint64_t count = bytes.field(need + ELF_FIELD(Elf64_Verneed, vn_cnt));
    uint64_t aux = need + bytes.field(need + ELF_FIELD(Elf64_Verneed, vn_aux));
    for (uint64_t i = 0; i < count && i < maxSteps; ++i) {
      if (aux + sizeof(Elf64_Vernaux) > s.offset + s.size)
        throw std::runtime_error("version need entry runs past its section");
      image.versionNeeds.push_back(
          {file, bytes.string(strings.offset, strings.size,
                              bytes.field(aux + ELF_FIELD(Elf64_Vernaux, vna_name)))});
      uint64_t next = bytes.field(aux + ELF_FIELD(Elf64_Vernaux, vna_next));
      if (next == 0) break;
      aux += next;
    }
    uint64_t next = bytes.field(need + ELF_FIELD(Elf64_Verneed, vn_next));
    if (next == 0) return;
    need += next;
  }
  throw std::runtime_error("version need chain does not end");
}

template <typename Ehdr, typename Shdr, typename Sym, typename Dyn>
void parse(const Bytes &bytes, ElfImage &image) {
  image.fileType = static_cast<uint16_t>(bytes.field(ELF_FIELD(Ehdr, e_type)));
  image.machine = static_cast<uint16_t>(bytes.field(ELF_FIELD(Ehdr, e_machine)));
  image.flags = static_cast<uint32_t>(bytes.field(ELF_FIELD(Ehdr, e_flags)));
  uint64_t shoff = bytes.field(ELF_FIELD(Ehdr, e_shoff));
  uint64_t shentsize = bytes.field(ELF_FIELD(Ehdr, e_shentsize));
  uint64_t shnum = bytes.field(ELF_FIELD(Ehdr, e_shnum));
  if (shoff == 0 || shnum == 0) throw std::runtime_error("no section headers");
  if (shentsize < sizeof(Shdr)) throw std::runtime_error("section header entries too small");

  std::vector<Section> sections;
  for (uint64_t i = 0; i < shnum; ++i) {
    uint64_t at = shoff + i * shentsize;
    sections.push_back({static_cast<uint32_t>(bytes.field(at + ELF_FIELD(Shdr, sh_type))),
                        bytes.field(at + ELF_FIELD(Shdr, sh_offset)),
                        bytes.field(at + ELF_FIELD(Shdr, sh_size)),
                        static_cast<uint32_t>(bytes.field(at + ELF_FIELD(Shdr, sh_link))),
                        bytes.field(at + ELF_FIELD(Shdr, sh_entsize))});
  }
  auto linkedStrings = [&](const Section &s) -> const Section & {
    if (s.link >= sections.size() || sections[s.link].type != SHT_STRTAB)
      throw std::runtime_error("section not linked to a string table");
    return sections[s.link];
  };

  bool sawDynsym = false;
  bool sawDynamic = false;
  for (const Section &s : sections) {
    if (s.type == SHT_DYNSYM) {
      sawDynsym = true;
      if (s.entrySize < sizeof(Sym)) throw std::runtime_error("bad .dynsym entry size");
      const Section &strings = linkedStrings(s);
      // Entry 0 is the reserved null symbol.
      for (uint64_t at = s.offset + s.entrySize; at + s.entrySize <= s.offset + s.size;
           at += s.entrySize) {
        auto info = static_cast<unsigned>(bytes.field(at + ELF_FIELD(Sym, st_info)));
        auto other = static_cast<unsigned>(bytes.field(at + ELF_FIELD(Sym, st_other)));
        auto shndx = bytes.field(at + ELF_FIELD(Sym, st_shndx));
        image.dynamicSymbols.push_back(
            {bytes.string(strings.offset, strings.size, bytes.field(at + ELF_FIELD(Sym, st_name))),
             info & 0xf, info >> 4, other & 0x3, shndx != SHN_UNDEF});
      }
    } else if (s.type == SHT_GNU_verneed && s.size > 0) {
      parseVersionNeeds(bytes, s, linkedStrings(s), image);
    } else if (s.type == SHT_DYNAMIC) {
      sawDynamic = true;
      const Section &strings = linkedStrings(s);
      for (uint64_t at = s.offset; at + sizeof(Dyn) <= s.offset + s.size; at += sizeof(Dyn)) {
        uint64_t tag = bytes.field(at + ELF_FIELD(Dyn, d_tag));
        if (tag == DT_NULL) break;
        uint64_t value = bytes.field(at + offsetof(Dyn, d_un), sizeof(Dyn::d_un));
        if (tag == DT_NEEDED)
          image.needed.push_back(bytes.string(strings.offset, strings.size, value));
        else if (tag == DT_RUNPATH)
          image.runpath.push_back(bytes.string(strings.offset, strings.size, value));
        else if (tag == DT_RPATH)
          image.rpath.push_back(bytes.string(strings.offset, strings.size, value));
      }
    }
  }
  if (!sawDynsym || !sawDynamic) throw std::runtime_error("no dynamic symbol table or section");
}

}  // namespace

ElfImage readElfImage(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::vector<unsigned char> data{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  if (data.size() < EI_NIDENT || data[EI_MAG0] != ELFMAG0 || data[EI_MAG1] != ELFMAG1 ||
      data[EI_MAG2] != ELFMAG2 || data[EI_MAG3] != ELFMAG3)
    throw std::runtime_error(path + " is not an ELF file");

  ElfImage image;
  unsigned char elfClass = data[EI_CLASS];
  unsigned char encoding = data[EI_DATA];
  if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64)
    throw std::runtime_error("unknown ELF class");
  if (encoding != ELFDATA2LSB && encoding != ELFDATA2MSB)
    throw std::runtime_error("unknown ELF data encoding");
  image.is64 = elfClass == ELFCLASS64;
  image.bigEndian = encoding == ELFDATA2MSB;

  Bytes bytes(std::move(data), image.bigEndian);
  if (image.is64)
    parse<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Elf64_Dyn>(bytes, image);
  else
    parse<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Elf32_Dyn>(bytes, image);
  return image;
}

}  // namespace abitest
