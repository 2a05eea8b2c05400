// Reader for ZIP archives: the central directory, and each entry's data
// streamed out in pieces with its size and CRC-32 checked. Stored and
// deflated entries, ZIP64 included (archives and entries over 4 GiB, more
// than 65,535 entries); no encryption or multi-part archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/inflate.h"
#include "base/byte_source.h"

struct ZipEntry {
  std::string name;        // as stored: bytes, '/' or '\' as separators
  bool utf8_name = false;  // general-purpose flag bit 11: the name is UTF-8
  bool is_directory = false;
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint16_t flags = 0;
  std::uint32_t crc32 = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint64_t local_header_offset = 0;  // from the start of the source
};

// Receives an entry's data in pieces; false stops the reading.
using ZipOutput = std::function<bool(const std::uint8_t* data, std::size_t size)>;

class ZipReader {
 public:
  explicit ZipReader(ByteSource& source) : source_(source) {}

  // Reads the end record and the central directory. False with a reason for
  // anything that is not a well-formed archive this reader can unpack.
  bool ReadDirectory(std::string& error);
  const std::vector<ZipEntry>& entries() const { return entries_; }

  // Streams one entry's uncompressed data to `output`. True only when the
  // data decoded cleanly, had the declared size and matched its CRC-32; the
  // output may already have received data when it fails.
  bool ReadEntry(const ZipEntry& entry, const ZipOutput& output, std::string& error);

 private:
  // Where the central directory is, from the end record (and its ZIP64 form).
  struct EndRecord {
    std::uint64_t disk = 0;
    std::uint64_t directory_disk = 0;
    std::uint64_t entries_on_disk = 0;
    std::uint64_t entries_total = 0;
    std::uint64_t directory_size = 0;
    std::uint64_t directory_offset = 0;  // as recorded, before the shift
    std::uint64_t directory_end = 0;     // in the source: where the directory must end
    std::uint64_t shift = 0;             // bytes placed before the archive
    bool shift_known = false;            // the ZIP64 locator has told the shift
  };
  bool ReadEndRecord(EndRecord& end, std::string& error);
  bool ReadZip64EndRecord(std::uint64_t locator_offset, EndRecord& end, std::string& error);

  ByteSource& source_;
  std::unique_ptr<InflateWorkspace> workspace_;  // shared by the entries, made for the first deflated one
  std::vector<ZipEntry> entries_;
  std::uint64_t directory_start_ = 0;  // entry data must end before it
};
