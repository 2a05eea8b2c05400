// MD5 (RFC 1321) for the launcher's file checks and the operator's manifest
// generator, in portable code that runs about as fast as hand-written
// assembly (each step's chain kept short).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/block_hash.h"

class Md5 : public BlockHash<Md5> {
 public:
  // The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 16> Finish();

 private:
  friend class BlockHash<Md5>;
  void Blocks(const std::uint8_t* data, std::size_t count);

  std::uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};

// 32 lower-case hex digits of the MD5 of `bytes`.
std::string Md5Hex(const std::string& bytes);
