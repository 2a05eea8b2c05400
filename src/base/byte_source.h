// Random access to a file's bytes, held in memory or read from disk piece by
// piece: what the ZIP reader and the block matching read through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `size` bytes at `offset`; false if they are not all there.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};

// Bytes held in memory (they must outlive the source).
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// A file read piece by piece, so its size does not matter. Its size is taken
// when it is opened: a file that shrinks afterwards fails the reads past its end.
class FileByteSource : public ByteSource {
 public:
  // False when the file cannot be opened or its size read.
  bool Open(const std::filesystem::path& path);
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override;

 private:
  static constexpr std::uint64_t kUnknownPosition = ~std::uint64_t{0};
  std::ifstream file_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = kUnknownPosition;  // where the next read starts
};
