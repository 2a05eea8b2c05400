#include "archive/zip_reader.h"

#include <algorithm>
#include <array>

#include "archive/crc32.h"
#include "archive/inflate.h"

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;  // without an extensible data sector
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
// Deflate's best case: a 258-byte match coded in two bits.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kChunkSize = 64 * 1024;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32; }

// Header fields a ZIP64 extra field can widen, in the order it stores them.
// Only the fields whose short form holds its maximum are in it.
struct WideFields {
  std::uint64_t size = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t local_header_offset = 0;
  std::uint32_t start_disk = 0;
};

// Replaces the fields of `fields` whose short form was at its maximum by the
// values of the ZIP64 extra field among `extra`. False with the reason when
// one is needed and missing or too short.
bool ReadZip64Extra(const std::uint8_t* extra, std::size_t extra_size, WideFields& fields, std::string& reason) {
  bool wide[] = {fields.size == kMax32, fields.compressed_size == kMax32, fields.local_header_offset == kMax32,
                 fields.start_disk == kMax16};
  if (!(wide[0] || wide[1] || wide[2] || wide[3])) return true;
  for (std::size_t pos = 0; pos + 4 <= extra_size;) {
    const std::size_t length = Le16(extra + pos + 2);
    if (length > extra_size - pos - 4) break;
    if (Le16(extra + pos) == kZip64ExtraId) {
      const std::uint8_t* p = extra + pos + 4;
      std::size_t left = length;
      std::uint64_t* const targets[] = {&fields.size, &fields.compressed_size, &fields.local_header_offset};
      for (int i = 0; i < 3; ++i) {
        if (!wide[i]) continue;
        if (left < 8) break;
        *targets[i] = Le64(p);
        p += 8;
        left -= 8;
        wide[i] = false;
      }
      if (wide[3] && left >= 4) fields.start_disk = Le32(p), wide[3] = false;
      if (!(wide[0] || wide[1] || wide[2] || wide[3])) return true;
      reason = "its ZIP64 extra field is too short";
      return false;
    }
    pos += 4 + length;
  }
  reason = "its ZIP64 extra field is missing";
  return false;
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

std::string DataPastEnd(const std::string& name) {
  return "truncated archive: data of " + Quoted(name) + " runs past the end of the archive's data";
}

}  // namespace

// Reads the ZIP64 end record that the locator before the end record points at,
// and takes its 64-bit values where the end record's own are at their maximum
// or agree with them.
bool ZipReader::ReadZip64EndRecord(std::uint64_t locator_offset, EndRecord& end, std::string& error) {
  std::array<std::uint8_t, kZip64LocatorSize> locator{};
  if (!source_.ReadAt(locator_offset, locator.data(), locator.size())) {
    error = "cannot read the archive";
    return false;
  }
  if (Le32(&locator[4]) != 0 || Le32(&locator[16]) > 1) {
    error = "multi-part archives are not supported";
    return false;
  }
  // The record ends where the locator begins. Its recorded offset counts from
  // the archive's start, which data placed before the archive shifts.
  const std::uint64_t recorded = Le64(&locator[8]);
  std::array<std::uint8_t, kZip64EndRecordSize> record{};
  std::uint64_t record_offset = 0;
  bool found = false;
  for (const std::uint64_t at :
       {recorded, locator_offset - std::min<std::uint64_t>(locator_offset, kZip64EndRecordSize)}) {
    if (at > locator_offset || locator_offset - at < kZip64EndRecordSize ||
        !source_.ReadAt(at, record.data(), record.size()))
      continue;
    if (Le32(record.data()) == kZip64EndRecordSignature && Le64(&record[4]) == locator_offset - at - 12) {
      record_offset = at;
      found = true;
      break;
    }
  }
  if (!found) {
    error = "bad archive: the ZIP64 end record is not where its locator points";
    return false;
  }
  const std::uint64_t disk = Le32(&record[16]), directory_disk = Le32(&record[20]);
  const std::uint64_t entries_on_disk = Le64(&record[24]), entries_total = Le64(&record[32]);
  const std::uint64_t directory_size = Le64(&record[40]), directory_offset = Le64(&record[48]);
  const auto agrees = [](std::uint64_t short_value, std::uint64_t maximum, std::uint64_t wide) {
    return short_value == maximum || short_value == wide;
  };
  if (!agrees(end.disk, kMax16, disk) || !agrees(end.directory_disk, kMax16, directory_disk) ||
      !agrees(end.entries_on_disk, kMax16, entries_on_disk) || !agrees(end.entries_total, kMax16, entries_total) ||
      !agrees(end.directory_size, kMax32, directory_size) || !agrees(end.directory_offset, kMax32, directory_offset)) {
    error = "bad archive: the ZIP64 end record disagrees with the end record";
    return false;
  }
  end = {disk, directory_disk, entries_on_disk, entries_total, directory_size, directory_offset, record_offset};
  end.shift = record_offset - recorded;
  end.shift_known = true;
  return true;
}

bool ZipReader::ReadEndRecord(EndRecord& end, std::string& error) {
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
  const std::uint8_t* record = &tail[found];
  const std::uint64_t end_offset = tail_start + found;
  end = {Le16(record + 4),  Le16(record + 6),  Le16(record + 8), Le16(record + 10),
         Le32(record + 12), Le32(record + 16), end_offset};

  // A ZIP64 archive has a locator right before the end record. Without one,
  // the end record's values are taken as they are, even at their maximum.
  if (end_offset >= kZip64LocatorSize) {
    std::array<std::uint8_t, 4> signature{};
    if (source_.ReadAt(end_offset - kZip64LocatorSize, signature.data(), signature.size()) &&
        Le32(signature.data()) == kZip64LocatorSignature &&
        !ReadZip64EndRecord(end_offset - kZip64LocatorSize, end, error)) {
      return false;
    }
  }
  if (end.disk != 0 || end.directory_disk != 0 || end.entries_on_disk != end.entries_total) {
    error = "multi-part archives are not supported";
    return false;
  }
  if (end.directory_offset > end.directory_end || end.directory_size > end.directory_end - end.directory_offset) {
    error = "bad archive: central directory lies outside the file (truncated?)";
    return false;
  }
  // Data placed before the archive (a self-extracting stub) shifts every
  // offset by the same amount; where the directory ends tells how much.
  const std::uint64_t shift = end.directory_end - end.directory_offset - end.directory_size;
  if (end.shift_known && end.shift != shift) {
    error = "bad archive: the ZIP64 end record disagrees with the central directory's place";
    return false;
  }
  end.shift = shift;
  return true;
}

bool ZipReader::ReadDirectory(std::string& error) {
  entries_.clear();
  EndRecord end;
  if (!ReadEndRecord(end, error)) return false;
  const std::uint64_t prefix = end.shift;
  directory_start_ = prefix + end.directory_offset;
  const std::uint64_t directory_end = directory_start_ + end.directory_size;

  std::uint64_t pos = directory_start_;
  std::array<std::uint8_t, kCentralHeaderSize> header{};
  std::vector<std::uint8_t> variable;  // name, extra field
  for (std::uint64_t i = 0; i < end.entries_total; ++i) {
    if (directory_end - pos < kCentralHeaderSize || !source_.ReadAt(pos, header.data(), header.size())) {
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
    const std::uint16_t name_size = Le16(&header[28]);
    const std::uint16_t extra_size = Le16(&header[30]);
    const std::uint16_t comment_size = Le16(&header[32]);
    const std::uint64_t record_size = kCentralHeaderSize + name_size + extra_size + comment_size;
    variable.resize(name_size + extra_size);
    if (directory_end - pos < record_size ||
        !source_.ReadAt(pos + kCentralHeaderSize, variable.data(), variable.size())) {
      error = "bad archive: central directory is cut short";
      return false;
    }
    entry.name.assign(variable.begin(), variable.begin() + name_size);
    WideFields wide;
    wide.compressed_size = Le32(&header[20]);
    wide.size = Le32(&header[24]);
    wide.start_disk = Le16(&header[34]);
    wide.local_header_offset = Le32(&header[42]);
    std::string reason;
    if (!ReadZip64Extra(variable.data() + name_size, extra_size, wide, reason)) {
      error = "bad archive: entry " + Quoted(entry.name) + ": " + reason;
      return false;
    }
    if (wide.start_disk != 0) {
      error = "multi-part archives are not supported";
      return false;
    }
    entry.size = wide.size;
    entry.compressed_size = wide.compressed_size;
    entry.utf8_name = (entry.flags & kFlagUtf8) != 0;
    entry.is_directory = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
    // Header, name and data must all lie before the central directory.
    const std::uint64_t room = end.directory_offset;
    const std::uint64_t least_header = kLocalHeaderSize + name_size;
    if (room < least_header || wide.local_header_offset > room - least_header) {
      error = "bad archive: entry " + Quoted(entry.name) + " lies outside the archive's data";
      return false;
    }
    if (entry.compressed_size > room - least_header - wide.local_header_offset) {
      error = DataPastEnd(entry.name);
      return false;
    }
    entry.local_header_offset = prefix + wide.local_header_offset;
    const bool encrypted = (entry.flags & (kFlagEncrypted | kFlagStrongEncryption)) != 0;  // refused when read
    if (!encrypted && entry.method == kMethodStored && entry.compressed_size != entry.size) {
      error = "bad archive: stored entry " + Quoted(entry.name) + " has different compressed and uncompressed sizes";
      return false;
    }
    if (entry.method == kMethodDeflated && entry.size / kMaxDeflateRatio > entry.compressed_size) {
      error = "bad archive: entry " + Quoted(entry.name) + " declares " + std::to_string(entry.size) +
              " bytes, more than its " + std::to_string(entry.compressed_size) + " compressed bytes can hold";
      return false;
    }
    entries_.push_back(std::move(entry));
    pos += record_size;
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
  const std::uint16_t name_size = Le16(&header[26]);
  const std::uint16_t extra_size = Le16(&header[28]);
  if (local_method != entry.method) {
    error = "bad archive: local header of " + name + " names another compression method";
    return false;
  }
  std::vector<std::uint8_t> variable(name_size + extra_size);  // name, extra field
  if (!source_.ReadAt(entry.local_header_offset + kLocalHeaderSize, variable.data(), variable.size())) {
    error = "truncated archive: local header of " + name + " is cut short";
    return false;
  }
  const std::string local_name(variable.begin(), variable.begin() + name_size);
  if (local_name != entry.name) {
    error = "bad archive: local header names " + Quoted(local_name) + " instead of " + name;
    return false;
  }
  // Without a data descriptor the local header carries the real CRC and sizes.
  if (!(local_flags & kFlagDataDescriptor)) {
    WideFields local;
    local.compressed_size = Le32(&header[18]);
    local.size = Le32(&header[22]);
    std::string reason;
    if (!ReadZip64Extra(variable.data() + name_size, extra_size, local, reason)) {
      error = "bad archive: local header of " + name + ": " + reason;
      return false;
    }
    if (local_crc != entry.crc32 || local.compressed_size != entry.compressed_size || local.size != entry.size) {
      error = "bad archive: sizes or CRC in the local header of " + name + " do not match the central directory";
      return false;
    }
  }
  const std::uint64_t data_start = entry.local_header_offset + kLocalHeaderSize + name_size + extra_size;
  if (data_start > directory_start_ || entry.compressed_size > directory_start_ - data_start) {
    error = DataPastEnd(entry.name);
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
    if (!workspace_) workspace_ = std::make_unique<InflateWorkspace>();
    if (!Inflate(input, emit, inflate_error, *workspace_) && !too_long && !refused && !read_failed) {
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
