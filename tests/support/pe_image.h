// The smallest Windows program image that holds a version block, laid out as
// the linker lays one out: the PE32+ headers, one ".rsrc" section with the
// resource tree (type 16, name 1, language 0x409) and the block itself.
// tests/fuzz/corpus/pe_version_fuzz/minimal.exe holds these bytes for 1.2.3.0.
#pragma once

#include <cstdint>
#include <string>

namespace testutil {

// Offsets of the image's parts, for tests that damage one of them.
constexpr std::uint32_t kPeRsrcFile = 0x200;  // the section's data in the file
constexpr std::uint32_t kPeRsrcAddress = 0x1000;
constexpr std::uint32_t kPeBlock = 0x58;  // the version block, from the section's start
constexpr std::uint32_t kPeBlockSize = 92;

inline void PutLe(std::string& bytes, std::size_t at, std::uint32_t value, int length = 4) {
  for (int i = 0; i < length; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

inline std::string PeImage(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  const std::uint32_t section_size = kPeBlock + kPeBlockSize, optional = 0x58, optional_size = 240;
  std::string pe(kPeRsrcFile + section_size, '\0');
  pe[0] = 'M', pe[1] = 'Z';
  PutLe(pe, 0x3C, 0x40);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  PutLe(pe, 0x44, 0x8664, 2);                      // x64
  PutLe(pe, 0x46, 1, 2);                           // one section
  PutLe(pe, 0x54, optional_size, 2);               // PE32+ header with 16 data directories
  PutLe(pe, optional, 0x20B, 2);                   // PE32+
  PutLe(pe, optional + 108, 16);                   // data directories
  PutLe(pe, optional + 112 + 16, kPeRsrcAddress);  // the resource directory's address and size
  PutLe(pe, optional + 112 + 20, section_size);
  const std::uint32_t section = optional + optional_size;
  pe.replace(section, 5, ".rsrc");
  PutLe(pe, section + 8, section_size);
  PutLe(pe, section + 12, kPeRsrcAddress);
  PutLe(pe, section + 16, section_size);
  PutLe(pe, section + 20, kPeRsrcFile);
  // Three directories of one numbered entry each, then the data entry.
  const std::uint32_t r = kPeRsrcFile, ids[] = {16, 1, 0x409};
  for (std::uint32_t level = 0; level < 3; ++level) {
    PutLe(pe, r + 0x18 * level + 14, 1, 2);
    PutLe(pe, r + 0x18 * level + 16, ids[level]);
    PutLe(pe, r + 0x18 * level + 20, 0x18 * (level + 1) | (level < 2 ? 0x80000000u : 0));
  }
  PutLe(pe, r + 0x48, kPeRsrcAddress + kPeBlock);
  PutLe(pe, r + 0x4C, kPeBlockSize);
  const std::uint32_t block = r + kPeBlock;
  PutLe(pe, block, kPeBlockSize, 2);
  PutLe(pe, block + 2, 52, 2);
  const std::string key = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < key.size(); ++i) pe[block + 6 + 2 * i] = key[i];
  PutLe(pe, block + 40, 0xFEEF04BD);
  PutLe(pe, block + 44, 0x10000);
  for (const std::uint32_t at : {48u, 56u}) {  // file and product version
    PutLe(pe, block + at, std::uint32_t{a} << 16 | b);
    PutLe(pe, block + at + 4, std::uint32_t{c} << 16 | d);
  }
  return pe;
}

}  // namespace testutil
