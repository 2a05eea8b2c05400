#include "delta/block_sums.h"

#include <cstring>

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9u;

std::uint64_t Rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian, as every platform the launcher runs on stores it.
std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) { return Rotl(lane + word * kPrime2, 31) * kPrime1; }

std::uint64_t Avalanche(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDu;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53u;
  return h ^ (h >> 33);
}

std::uint64_t Power(std::uint64_t base, std::size_t exponent) {
  std::uint64_t result = 1;
  for (; exponent > 0; exponent >>= 1, base *= base) {
    if (exponent & 1) result *= base;
  }
  return result;
}

}  // namespace

std::uint64_t PolynomialSum(const std::uint8_t* data, std::size_t size) {
  // Four lanes over every fourth byte, each a Horner chain in M^4, so the
  // multiplications of a block overlap instead of waiting on each other.
  // kBase squared, cubed and to the fourth, modulo 2^64 (written out: some
  // compilers warn of a constant that wraps).
  constexpr std::uint64_t kBase = RollingSum::kBase;
  constexpr std::uint64_t kBase2 = 0xDF442D22CE4859B9u, kBase3 = 0x604A5CE3ADDEF82Du, kBase4 = 0xD94363FC538227B1u;
  std::uint64_t lane[4] = {0, 0, 0, 0};
  const std::size_t whole = size & ~std::size_t{3};
  for (std::size_t i = 0; i < whole; i += 4) {
    for (int r = 0; r < 4; ++r) lane[r] = lane[r] * kBase4 + data[i + r];
  }
  std::uint64_t sum = lane[0] * kBase3 + lane[1] * kBase2 + lane[2] * kBase + lane[3];
  for (std::size_t i = whole; i < size; ++i) sum = sum * kBase + data[i];
  return sum;
}

RollingSum::RollingSum(std::size_t window) : window_(window), base_to_window_(Power(kBase, window)) {}

std::uint64_t StrongHash(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + size;
  std::uint64_t h;
  if (size >= 32) {
    // kPrime1 + kPrime2, kPrime2, 0, -kPrime1, each modulo 2^64.
    std::uint64_t v[4] = {0x60EA27EEADC0B5D6u, kPrime2, 0, 0x61C8864E7A143579u};
    for (; end - p >= 32; p += 32) {
      for (int r = 0; r < 4; ++r) v[r] = Round(v[r], Load64(p + 8 * r));
    }
    h = Rotl(v[0], 1) + Rotl(v[1], 7) + Rotl(v[2], 12) + Rotl(v[3], 18);
    for (const std::uint64_t lane : v) h = (h ^ Round(0, lane)) * kPrime1 + kPrime3;
  } else {
    h = kPrime3;
  }
  h += size;
  for (; end - p >= 8; p += 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kPrime1 + kPrime3;
  if (p < end) {
    std::uint64_t last = 0;
    std::memcpy(&last, p, static_cast<std::size_t>(end - p));
    h = Rotl(h ^ Round(0, last), 23) * kPrime2 + kPrime1;
  }
  return Avalanche(h);
}
