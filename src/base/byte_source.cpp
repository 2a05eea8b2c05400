#include "base/byte_source.h"

#include <cstring>

bool MemoryByteSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(buffer, data_ + offset, size);
  return true;
}

bool FileByteSource::Open(const std::filesystem::path& path) {
  file_.open(path, std::ios::binary);
  if (!file_) return false;
  file_.seekg(0, std::ios::end);
  const std::streamoff end = file_.tellg();
  if (end < 0) return false;
  size_ = static_cast<std::uint64_t>(end);
  position_ = kUnknownPosition;
  return true;
}

bool FileByteSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
  if (!file_.is_open() || offset > size_ || size > size_ - offset) return false;
  // Readers mostly go front to back: a seek would drop the stream's buffer.
  if (offset != position_) {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
  }
  file_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  const bool read = file_.gcount() == static_cast<std::streamsize>(size);
  position_ = read ? offset + size : kUnknownPosition;
  return read;
}
