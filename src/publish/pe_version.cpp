#include "publish/pe_version.h"

namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint32_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectory = 2;  // index in the optional header's data directories
constexpr std::uint32_t kVersionType = 16;       // RT_VERSION
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint64_t kFixedInfoAt = 40;  // after the block's header and its padded key
constexpr std::uint32_t kFixedInfoBytes = 52;
// The block's key, "VS_VERSION_INFO" and its terminating zero, in UTF-16LE.
constexpr std::string_view kVersionKey{"V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0", 32};

// Little-endian numbers at file offsets; a read that would pass the end fails.
class Bytes {
 public:
  explicit Bytes(std::string_view bytes) : bytes_(bytes) {}
  bool Has(std::uint64_t at, std::uint64_t length) const { return at <= bytes_.size() && length <= bytes_.size() - at; }
  bool U16(std::uint64_t at, std::uint32_t& value) const { return Read(at, 2, value); }
  bool U32(std::uint64_t at, std::uint32_t& value) const { return Read(at, 4, value); }
  std::string_view View(std::uint64_t at, std::uint64_t length) const {
    return Has(at, length) ? bytes_.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length))
                           : std::string_view();
  }

 private:
  bool Read(std::uint64_t at, unsigned length, std::uint32_t& value) const {
    if (!Has(at, length)) return false;
    value = 0;
    for (unsigned i = length; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes_[at + i]);
    return true;
  }
  std::string_view bytes_;
};

// The section table, to find where an address of the loaded image lies in
// the file.
struct Sections {
  const Bytes& bytes;
  std::uint64_t table = 0;
  std::uint32_t count = 0;

  // The file offset of `length` bytes at `address`, all within one section's
  // data in the file.
  bool Offset(std::uint32_t address, std::uint32_t length, std::uint64_t& offset) const {
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t header = table + 40ull * i;
      std::uint32_t start = 0, size = 0, data = 0;
      if (!bytes.U32(header + 12, start) || !bytes.U32(header + 16, size) || !bytes.U32(header + 20, data)) {
        return false;
      }
      if (address < start || address - start >= size || length > size - (address - start)) continue;
      offset = std::uint64_t{data} + (address - start);
      return bytes.Has(offset, length);
    }
    return false;
  }
};

// The target of an entry of the resource directory at `directory`: the one
// with numeric id `id`, or the first entry when `id` is 0.
bool DirectoryEntry(const Bytes& bytes, std::uint64_t directory, std::uint32_t id, std::uint32_t& target) {
  std::uint32_t named = 0, numbered = 0;
  if (!bytes.U16(directory + 12, named) || !bytes.U16(directory + 14, numbered)) return false;
  for (std::uint32_t i = 0; i < named + numbered; ++i) {
    std::uint32_t name = 0;
    const std::uint64_t entry = directory + 16 + 8ull * i;
    if (!bytes.U32(entry, name) || !bytes.U32(entry + 4, target)) return false;
    if (id == 0 || (i >= named && name == id)) return true;
  }
  return false;
}

bool Fail(std::string& problem, const char* why) {
  problem = why;
  return false;
}

}  // namespace

bool ReadPeFileVersion(std::string_view image, PeFileVersion& version, std::string& problem) {
  const Bytes bytes(image);
  std::uint32_t value = 0, pe = 0;
  if (!bytes.U16(0, value) || value != 0x5A4D) return Fail(problem, "not a Windows program (no MZ header)");
  if (!bytes.U32(0x3C, pe) || !bytes.U32(pe, value) || value != kPeSignature) {
    return Fail(problem, "not a Windows program (no PE header)");
  }
  const std::uint64_t coff = std::uint64_t{pe} + 4, optional = coff + 20;
  std::uint32_t section_count = 0, optional_size = 0, magic = 0;
  if (!bytes.U16(coff + 2, section_count) || !bytes.U16(coff + 16, optional_size) || !bytes.U16(optional, magic) ||
      (magic != kPe32Magic && magic != kPe32PlusMagic)) {
    return Fail(problem, "its PE headers are damaged");
  }
  // Where the data directories start, and the number of them before that.
  const std::uint64_t directories = magic == kPe32Magic ? 96 : 112;
  std::uint32_t directory_count = 0, resource_address = 0, resource_size = 0;
  const std::uint64_t resource_entry = directories + 8 * kResourceDirectory;
  if (!bytes.U32(optional + directories - 4, directory_count)) return Fail(problem, "its PE headers are damaged");
  if (directory_count <= kResourceDirectory || resource_entry + 8 > optional_size ||
      !bytes.U32(optional + resource_entry, resource_address) ||
      !bytes.U32(optional + resource_entry + 4, resource_size) || resource_size == 0) {
    return Fail(problem, "it holds no resources, so no version block");
  }
  const Sections sections{bytes, optional + optional_size, section_count};
  std::uint64_t root = 0;
  if (!sections.Offset(resource_address, 16, root)) return Fail(problem, "its resources are damaged");

  // Type, then name, then language: three levels, each entry a directory but
  // the last, every offset counted from the root.
  std::uint64_t at = root;
  const std::uint32_t wanted[] = {kVersionType, 0, 0};
  for (int level = 0; level < 3; ++level) {
    std::uint32_t target = 0;
    if (!DirectoryEntry(bytes, at, wanted[level], target)) {
      return Fail(problem, level == 0 ? "it holds no version block" : "its resources are damaged");
    }
    if (((target & kSubdirectory) != 0) != (level < 2)) return Fail(problem, "its resources are damaged");
    at = root + (target & ~kSubdirectory);
  }

  std::uint32_t block_address = 0, block_size = 0, value_size = 0, signature = 0, high = 0, low = 0;
  std::uint64_t block = 0;
  if (!bytes.U32(at, block_address) || !bytes.U32(at + 4, block_size) ||
      !sections.Offset(block_address, block_size, block) || block_size < kFixedInfoAt + kFixedInfoBytes ||
      !bytes.U16(block + 2, value_size) || value_size < kFixedInfoBytes || bytes.View(block + 6, 32) != kVersionKey ||
      !bytes.U32(block + kFixedInfoAt, signature) || signature != kFixedInfoSignature ||
      !bytes.U32(block + kFixedInfoAt + 8, high) || !bytes.U32(block + kFixedInfoAt + 12, low)) {
    return Fail(problem, "its version block is damaged");
  }
  version = {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high & 0xFFFF),
             static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low & 0xFFFF)};
  return true;
}

std::string PeFileVersionText(const PeFileVersion& version) {
  std::string text;
  for (const std::uint16_t part : version) text += (text.empty() ? "" : ".") + std::to_string(part);
  return text;
}
