// What MD5 and SHA-256 share: bytes gathered into 64-byte blocks for the
// derived class's `Block`, and the final padding (0x80, zeros, the length in bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

template <class Derived>
class BlockHash {
 public:
  void Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    length_ += size;
    while (size > 0) {
      const std::size_t take = size < 64 - used ? size : 64 - used;
      std::memcpy(buffer_ + used, bytes, take);
      used += take;
      bytes += take;
      size -= take;
      if (used == 64) {
        static_cast<Derived*>(this)->Block(buffer_);
        used = 0;
      }
    }
  }

 protected:
  // Ends the message: MD5 writes the length little-endian, SHA-256 big-endian.
  void Pad(bool big_endian_length) {
    const std::uint64_t bits = length_ * 8;
    const std::uint8_t one = 0x80, zero = 0;
    Update(&one, 1);
    while (length_ % 64 != 56) Update(&zero, 1);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (big_endian_length ? 56 - 8 * i : 8 * i));
    Update(tail, 8);
  }

 private:
  std::uint64_t length_ = 0;  // bytes given so far
  std::uint8_t buffer_[64] = {};
};
