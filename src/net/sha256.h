// SHA-256 (FIPS 180-4) for the launcher's file checks and the operator's
// manifest generator. The blocks go through the x86 SHA extensions where the
// processor has them (sha256_x86.h), through portable code elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/block_hash.h"

// Compresses `count` 64-byte blocks at `data` into `state`.
using Sha256BlockFunction = void (*)(std::uint32_t state[8], const std::uint8_t* data, std::size_t count);

// The portable block function, and the fastest one this processor runs.
void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* data, std::size_t count);
Sha256BlockFunction FastestSha256Blocks();

class Sha256 : public BlockHash<Sha256> {
 public:
  explicit Sha256(Sha256BlockFunction blocks = FastestSha256Blocks()) : blocks_(blocks) {}

  // The digest of everything given so far; the object is spent afterwards.
  std::array<std::uint8_t, 32> Finish();

 private:
  friend class BlockHash<Sha256>;
  void Blocks(const std::uint8_t* data, std::size_t count) { blocks_(state_, data, count); }

  Sha256BlockFunction blocks_;
  std::uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

// 64 lower-case hex digits of the SHA-256 of `bytes`.
std::string Sha256Hex(const std::string& bytes);
