// Reader for ZIP archives: the central directory, and each entry's data
// streamed out in pieces with its size and CRC-32 checked. Stored and
// deflated entries; no ZIP64, encryption or multi-part archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

// Random access to the archive's bytes.
class ZipSource {
 public:
  virtual ~ZipSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `size` bytes at `offset`; false if they are not all there.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};

// An archive held in memory (the bytes must outlive the source).
class MemoryZipSource : public ZipSource {
 public:
  MemoryZipSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// An archive read from its file piece by piece, so its size does not matter.
class FileZipSource : public ZipSource {
 public:
  // False when the file cannot be opened or its size read.
  bool Open(const std::filesystem::path& path);
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override;

 private:
  std::ifstream file_;
  std::uint64_t size_ = 0;
};

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
  explicit ZipReader(ZipSource& source) : source_(source) {}

  // Reads the end record and the central directory. False with a reason for
  // anything that is not a well-formed archive this reader can unpack.
  bool ReadDirectory(std::string& error);
  const std::vector<ZipEntry>& entries() const { return entries_; }

  // Streams one entry's uncompressed data to `output`. True only when the
  // data decoded cleanly, had the declared size and matched its CRC-32; the
  // output may already have received data when it fails.
  bool ReadEntry(const ZipEntry& entry, const ZipOutput& output, std::string& error);

 private:
  bool ReadEndRecord(std::uint64_t& directory_offset, std::uint64_t& directory_size, std::uint32_t& entry_count,
                     std::uint64_t& prefix, std::string& error);

  ZipSource& source_;
  std::vector<ZipEntry> entries_;
  std::uint64_t directory_start_ = 0;  // entry data must end before it
};
