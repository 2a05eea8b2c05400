// A portable SHA-256 (FIPS 180-4), for the tools that build on Linux too (the
// manifest generator). The launcher hashes with the system's BCrypt
// (file_digest.h); tests check that both agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/block_hash.h"

class Sha256 : public BlockHash<Sha256> {
 public:
  // The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 32> Finish();

 private:
  friend class BlockHash<Sha256>;
  void Block(const std::uint8_t* block);

  std::uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

// 64 lower-case hex digits of the SHA-256 of `bytes`.
std::string Sha256Hex(const std::string& bytes);
