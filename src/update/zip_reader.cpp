#include "update/zip_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "update/crc32.h"
#include "update/inflate.h"

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kChunkSize = 64 * 1024;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

const char kZip64Refused[] = "ZIP64 archives are not supported";

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A quoted entry name for error texts, with control bytes made visible.
std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

bool MemoryZipSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(buffer, data_ + offset, size);
  return true;
}

bool FileZipSource::Open(const std::filesystem::path& path) {
  file_.open(path, std::ios::binary);
  if (!file_) return false;
  file_.seekg(0, std::ios::end);
  const std::streamoff end = file_.tellg();
  if (end < 0) return false;
  size_ = static_cast<std::uint64_t>(end);
  return true;
}

bool FileZipSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  if (!file_.is_open() || offset > size_ || size > size_ - offset) return false;
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return file_.gcount() == static_cast<std::streamsize>(size);
}

bool ZipReader::ReadEndRecord(std::uint64_t& directory_offset, std::uint64_t& directory_size,
                              std::uint32_t& entry_count, std::uint64_t& prefix, std::string& error) {
  const std::uint64_t file_size = source_.Size();
  if (file_size < kEndRecordSize) {
    error = "not a ZIP archive or truncated: file too short";
    return false;
  }
  // The end record sits at the end, followed only by its comment (at most 64 KiB).
  const std::size_t tail_size =
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kEndRecordSize + kMaxCommentSize));
  const std::uint64_t tail_start = file_size - tail_size;
  std::vector<std::uint8_t> tail(tail_size);
  if (!source_.ReadAt(tail_start, tail.data(), tail.size())) {
    error = "cannot read the archive";
    return false;
  }
  std::size_t found = tail_size;
  for (std::size_t pos = tail_size - kEndRecordSize + 1; pos-- > 0;) {
    if (Le32(&tail[pos]) == kEndRecordSignature && pos + kEndRecordSize + Le16(&tail[pos + 20]) <= tail_size) {
      found = pos;
      break;
    }
  }
  if (found == tail_size) {
    error = "not a ZIP archive or truncated: end of central directory not found";
    return false;
  }
  const std::uint8_t* end = &tail[found];
  const std::uint64_t end_offset = tail_start + found;
  const std::uint16_t disk = Le16(end + 4);
  const std::uint16_t directory_disk = Le16(end + 6);
  const std::uint16_t entries_on_disk = Le16(end + 8);
  const std::uint16_t entries_total = Le16(end + 10);
  directory_size = Le32(end + 12);
  directory_offset = Le32(end + 16);

  bool zip64 = entries_total == 0xFFFF || directory_size == 0xFFFFFFFFu || directory_offset == 0xFFFFFFFFu;
  if (end_offset >= kZip64LocatorSize) {
    std::array<std::uint8_t, 4> signature{};
    if (source_.ReadAt(end_offset - kZip64LocatorSize, signature.data(), signature.size()) &&
        Le32(signature.data()) == kZip64LocatorSignature) {
      zip64 = true;
    }
  }
  if (zip64) {
    error = kZip64Refused;
    return false;
  }
  if (disk != 0 || directory_disk != 0 || entries_on_disk != entries_total) {
    error = "multi-part archives are not supported";
    return false;
  }
  // Data placed before the archive (a self-extracting stub) shifts every
  // offset by the same amount; the end record tells how much.
  if (directory_offset + directory_size > end_offset) {
    error = "bad archive: central directory lies outside the file (truncated?)";
    return false;
  }
  prefix = end_offset - directory_offset - directory_size;
  entry_count = entries_total;
  return true;
}

bool ZipReader::ReadDirectory(std::string& error) {
  entries_.clear();
  std::uint64_t directory_offset = 0, directory_size = 0, prefix = 0;
  std::uint32_t entry_count = 0;
  if (!ReadEndRecord(directory_offset, directory_size, entry_count, prefix, error)) return false;
  directory_start_ = prefix + directory_offset;
  const std::uint64_t directory_end = directory_start_ + directory_size;

  std::uint64_t pos = directory_start_;
  std::array<std::uint8_t, kCentralHeaderSize> header{};
  for (std::uint32_t i = 0; i < entry_count; ++i) {
    if (pos + kCentralHeaderSize > directory_end || !source_.ReadAt(pos, header.data(), header.size())) {
      error = "bad archive: central directory is cut short";
      return false;
    }
    if (Le32(header.data()) != kCentralHeaderSignature) {
      error = "bad archive: bad central directory signature";
      return false;
    }
    ZipEntry entry;
    entry.flags = Le16(&header[8]);
    entry.method = Le16(&header[10]);
    entry.crc32 = Le32(&header[16]);
    entry.compressed_size = Le32(&header[20]);
    entry.size = Le32(&header[24]);
    const std::uint16_t name_size = Le16(&header[28]);
    const std::uint16_t extra_size = Le16(&header[30]);
    const std::uint16_t comment_size = Le16(&header[32]);
    const std::uint16_t start_disk = Le16(&header[34]);
    const std::uint32_t local_offset = Le32(&header[42]);
    if (entry.compressed_size == 0xFFFFFFFFu || entry.size == 0xFFFFFFFFu || local_offset == 0xFFFFFFFFu ||
        start_disk == 0xFFFF) {
      error = kZip64Refused;
      return false;
    }
    const std::uint64_t record_end = pos + kCentralHeaderSize + name_size + extra_size + comment_size;
    if (record_end > directory_end) {
      error = "bad archive: central directory is cut short";
      return false;
    }
    entry.name.resize(name_size);
    if (!source_.ReadAt(pos + kCentralHeaderSize, reinterpret_cast<std::uint8_t*>(entry.name.data()), name_size)) {
      error = "bad archive: central directory is cut short";
      return false;
    }
    entry.utf8_name = (entry.flags & kFlagUtf8) != 0;
    entry.is_directory = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
    entry.local_header_offset = prefix + local_offset;
    if (entry.local_header_offset + kLocalHeaderSize > directory_start_) {
      error = "bad archive: entry " + Quoted(entry.name) + " lies outside the archive's data";
      return false;
    }
    entries_.push_back(std::move(entry));
    pos = record_end;
  }

  // Entries whose data overlap each other are a known trick to make a small
  // file unpack into a huge amount of data; real archives never do it.
  std::vector<const ZipEntry*> by_offset;
  by_offset.reserve(entries_.size());
  for (const auto& e : entries_) by_offset.push_back(&e);
  std::sort(by_offset.begin(), by_offset.end(),
            [](const ZipEntry* a, const ZipEntry* b) { return a->local_header_offset < b->local_header_offset; });
  for (std::size_t i = 0; i + 1 < by_offset.size(); ++i) {
    const ZipEntry& e = *by_offset[i];
    // The local header's own name and extra field may differ in length; the
    // central name's length is a lower bound for where the data starts.
    const std::uint64_t least_end = e.local_header_offset + kLocalHeaderSize + e.name.size() + e.compressed_size;
    if (least_end > by_offset[i + 1]->local_header_offset) {
      error = "bad archive: entries " + Quoted(e.name) + " and " + Quoted(by_offset[i + 1]->name) + " overlap";
      return false;
    }
  }
  return true;
}

bool ZipReader::ReadEntry(const ZipEntry& entry, const ZipOutput& output, std::string& error) {
  const std::string name = Quoted(entry.name);
  if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption)) {
    error = "entry " + name + " is encrypted";
    return false;
  }
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    error = "entry " + name + " uses unsupported compression method " + std::to_string(entry.method);
    return false;
  }

  std::array<std::uint8_t, kLocalHeaderSize> header{};
  if (!source_.ReadAt(entry.local_header_offset, header.data(), header.size())) {
    error = "truncated archive: local header of " + name + " is missing";
    return false;
  }
  if (Le32(header.data()) != kLocalHeaderSignature) {
    error = "bad archive: bad local header signature for " + name;
    return false;
  }
  const std::uint16_t local_flags = Le16(&header[6]);
  const std::uint16_t local_method = Le16(&header[8]);
  const std::uint32_t local_crc = Le32(&header[14]);
  const std::uint32_t local_compressed = Le32(&header[18]);
  const std::uint32_t local_size = Le32(&header[22]);
  const std::uint16_t name_size = Le16(&header[26]);
  const std::uint16_t extra_size = Le16(&header[28]);
  if (local_compressed == 0xFFFFFFFFu || local_size == 0xFFFFFFFFu) {
    error = kZip64Refused;
    return false;
  }
  if (local_method != entry.method) {
    error = "bad archive: local header of " + name + " names another compression method";
    return false;
  }
  // Without a data descriptor the local header carries the real CRC and sizes.
  if (!(local_flags & kFlagDataDescriptor) &&
      (local_crc != entry.crc32 || local_compressed != entry.compressed_size || local_size != entry.size)) {
    error = "bad archive: sizes or CRC in the local header of " + name + " do not match the central directory";
    return false;
  }
  std::string local_name(name_size, '\0');
  if (!source_.ReadAt(entry.local_header_offset + kLocalHeaderSize, reinterpret_cast<std::uint8_t*>(local_name.data()),
                      name_size)) {
    error = "truncated archive: local header of " + name + " is cut short";
    return false;
  }
  if (local_name != entry.name) {
    error = "bad archive: local header names " + Quoted(local_name) + " instead of " + name;
    return false;
  }
  const std::uint64_t data_start = entry.local_header_offset + kLocalHeaderSize + name_size + extra_size;
  if (data_start > directory_start_ || entry.compressed_size > directory_start_ - data_start) {
    error = "truncated archive: data of " + name + " runs past the end of the archive's data";
    return false;
  }
  if (entry.method == kMethodStored && entry.compressed_size != entry.size) {
    error = "bad archive: stored entry " + name + " has different compressed and uncompressed sizes";
    return false;
  }

  std::uint32_t crc = 0;
  std::uint64_t produced = 0;
  bool too_long = false;
  bool refused = false;
  const auto emit = [&](const std::uint8_t* data, std::size_t size) {
    if (size > entry.size - produced) {
      too_long = true;
      return false;
    }
    produced += size;
    crc = Crc32Update(crc, data, size);
    if (!output(data, size)) {
      refused = true;
      return false;
    }
    return true;
  };

  bool read_failed = false;
  std::uint64_t pos = data_start;
  std::uint64_t left = entry.compressed_size;
  if (entry.method == kMethodStored) {
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunkSize)));
    while (left > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
      if (!source_.ReadAt(pos, chunk.data(), n)) {
        read_failed = true;
        break;
      }
      pos += n;
      left -= n;
      if (!emit(chunk.data(), n)) break;
    }
  } else {
    const InflateInput input = [&](std::uint8_t* buffer, std::size_t capacity) -> std::size_t {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity));
      if (n == 0) return 0;
      if (!source_.ReadAt(pos, buffer, n)) {
        read_failed = true;
        return 0;
      }
      pos += n;
      left -= n;
      return n;
    };
    std::string inflate_error;
    if (!Inflate(input, emit, inflate_error) && !too_long && !refused && !read_failed) {
      error = inflate_error + " in " + name;
      return false;
    }
  }

  if (read_failed) {
    error = "cannot read the data of " + name;
    return false;
  }
  if (refused) {
    error = "output refused";
    return false;
  }
  if (too_long || produced != entry.size) {
    error = "bad archive: " + name + " unpacks to " + (too_long ? "more" : std::to_string(produced)) +
            " bytes instead of the declared " + std::to_string(entry.size);
    return false;
  }
  if (crc != entry.crc32) {
    error = "bad archive: CRC mismatch in " + name;
    return false;
  }
  return true;
}
