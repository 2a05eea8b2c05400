// The two sums a block map keeps for every block of a file: a weak one that
// rolls along the old file one byte at a time, so a block is found wherever
// it moved to, and a strong one that confirms a weak hit. Neither is a
// cryptographic digest: a false match can only make a patched file fail its
// whole-file digests, after which the file is fetched whole.
#pragma once

#include <cstddef>
#include <cstdint>

// The weak sum of bytes x[0..n): sum of x[j] * M^(n-1-j), modulo 2^64 (a
// polynomial, so it rolls: drop the first byte, add one at the end). Its
// 32-bit form, `WeakSum`, is what a map stores and the matching looks up.
std::uint64_t PolynomialSum(const std::uint8_t* data, std::size_t size);
inline std::uint32_t WeakSum(std::uint64_t polynomial) {
  // The polynomial's low bits depend on the bytes' low bits only: a multiply
  // carries every bit into the high half, which is kept.
  return static_cast<std::uint32_t>((polynomial * 0xC2B2AE3D27D4EB4Fu) >> 32);
}

// The polynomial sum of a window of fixed length moved along a file.
class RollingSum {
 public:
  explicit RollingSum(std::size_t window);
  void Start(const std::uint8_t* window_bytes) { sum_ = PolynomialSum(window_bytes, window_); }
  // Moves the window one byte on: `out` leaves at its front, `in` joins at its end.
  void Roll(std::uint8_t out, std::uint8_t in) { sum_ = sum_ * kBase - out * base_to_window_ + in; }
  std::uint32_t Weak() const { return WeakSum(sum_); }

  static constexpr std::uint64_t kBase = 0x9E3779B97F4A7C15u;  // odd, so no byte's weight vanishes

 private:
  std::size_t window_;
  std::uint64_t base_to_window_;  // kBase^window: the weight a byte has when it leaves
  std::uint64_t sum_ = 0;
};

// A fast 64-bit mixing hash of a block (four independent lanes of multiply
// and rotate, then a final avalanche), and the 32 bits of it a map stores.
std::uint64_t StrongHash(const std::uint8_t* data, std::size_t size);
inline std::uint32_t StrongSum(const std::uint8_t* data, std::size_t size) {
  return static_cast<std::uint32_t>(StrongHash(data, size));
}
