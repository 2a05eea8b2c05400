#include "net/sha256.h"

#include <cstring>

#include "net/file_check.h"
#include "net/sha256_constants.h"
#include "net/sha256_x86.h"

namespace {

std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* data, std::size_t count) {
  for (; count > 0; --count, data += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = static_cast<std::uint32_t>(data[i * 4]) << 24 | static_cast<std::uint32_t>(data[i * 4 + 1]) << 16 |
             static_cast<std::uint32_t>(data[i * 4 + 2]) << 8 | static_cast<std::uint32_t>(data[i * 4 + 3]);
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    std::memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
      const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + choice + kSha256Rounds[i] + w[i];
      const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
      const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      std::memmove(v + 1, v, 7 * sizeof v[0]);
      v[4] += t1;
      v[0] = t1 + s0 + majority;
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];
  }
}

Sha256BlockFunction FastestSha256Blocks() {
  static const Sha256BlockFunction fastest = HasShaExtensions() ? Sha256BlocksShaExtensions : Sha256BlocksPortable;
  return fastest;
}

std::array<std::uint8_t, 32> Sha256::Finish() {
  Pad(true);
  std::array<std::uint8_t, 32> digest{};
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

std::string Sha256Hex(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  const auto digest = sha.Finish();
  return HexDigest(digest.data(), digest.size());
}
