// What MD5 and SHA-256 share: bytes gathered into 64-byte blocks for the
// derived class's `Blocks`, and the final padding (0x80, zeros, the length in bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

template <class Derived>
class BlockHash {
 public:
  void Update(const void* data, std::size_t size) {
    if (size == 0) return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    length_ += size;
    if (used > 0) {
      const std::size_t take = size < 64 - used ? size : 64 - used;
      std::memcpy(buffer_ + used, bytes, take);
      bytes += take;
      size -= take;
      if (used + take < 64) return;
      static_cast<Derived*>(this)->Blocks(buffer_, 1);
    }
    // Whole blocks straight from the caller's memory: no copy, and one call
    // for all of them, so an accelerated block function keeps its state in
    // registers across a whole piece of a file.
    if (size >= 64) static_cast<Derived*>(this)->Blocks(bytes, size / 64);
    std::memcpy(buffer_, bytes + size / 64 * 64, size % 64);
  }

 protected:
  // Ends the message: MD5 writes the length little-endian, SHA-256 big-endian.
  void Pad(bool big_endian_length) {
    const std::uint64_t bits = length_ * 8;
    std::uint8_t tail[72] = {0x80};  // at most 63 bytes of padding, then the length
    const std::size_t padding = 64 - static_cast<std::size_t>((length_ + 8) % 64);
    for (int i = 0; i < 8; ++i) {
      tail[padding + i] = static_cast<std::uint8_t>(bits >> (big_endian_length ? 56 - 8 * i : 8 * i));
    }
    Update(tail, padding + 8);
  }

 private:
  std::uint64_t length_ = 0;  // bytes given so far
  std::uint8_t buffer_[64] = {};
};
