// A portable MD5 (RFC 1321), for the tools that build on Linux too (the
// manifest generator). The launcher itself hashes files with the system's
// BCrypt (file_digest.h); tests check that both agree.
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
  void Block(const std::uint8_t* block);

  std::uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};

// 32 lower-case hex digits of the MD5 of `bytes`.
std::string Md5Hex(const std::string& bytes);
