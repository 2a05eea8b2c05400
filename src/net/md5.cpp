#include "net/md5.h"

#include "net/file_check.h"

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One step: b + ((a + f + word + constant) <<< shift). The word and the
// constant are added first: they do not wait for the step before, so only f,
// two additions and the rotation lie on the chain from step to step.
std::uint32_t Step(std::uint32_t a, std::uint32_t b, std::uint32_t f, std::uint32_t word_and_constant, int shift) {
  a += word_and_constant;
  return b + RotateLeft(a + f, shift);
}

}  // namespace

void Md5::Blocks(const std::uint8_t* data, std::size_t count) {
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; count > 0; --count, data += 64) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
      m[i] = static_cast<std::uint32_t>(data[i * 4]) | static_cast<std::uint32_t>(data[i * 4 + 1]) << 8 |
             static_cast<std::uint32_t>(data[i * 4 + 2]) << 16 | static_cast<std::uint32_t>(data[i * 4 + 3]) << 24;
    }
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    // Four rounds of sixteen steps, four steps a line: the rounds' functions
    // F, G, H and I of RFC 1321 in forms with fewer operations after the step
    // before (G's two halves share no bit, so the one without it is added
    // early), and its shifts.
    for (int i = 0; i < 16; i += 4) {
      a = Step(a, b, d ^ (b & (c ^ d)), m[i] + kSine[i], 7);
      d = Step(d, a, c ^ (a & (b ^ c)), m[i + 1] + kSine[i + 1], 12);
      c = Step(c, d, b ^ (d & (a ^ b)), m[i + 2] + kSine[i + 2], 17);
      b = Step(b, c, a ^ (c & (d ^ a)), m[i + 3] + kSine[i + 3], 22);
    }
    for (int i = 16; i < 32; i += 4) {
      a = Step(a + (c & ~d), b, b & d, m[(5 * i + 1) % 16] + kSine[i], 5);
      d = Step(d + (b & ~c), a, a & c, m[(5 * i + 6) % 16] + kSine[i + 1], 9);
      c = Step(c + (a & ~b), d, d & b, m[(5 * i + 11) % 16] + kSine[i + 2], 14);
      b = Step(b + (d & ~a), c, c & a, m[(5 * i + 16) % 16] + kSine[i + 3], 20);
    }
    for (int i = 32; i < 48; i += 4) {
      a = Step(a, b, b ^ (c ^ d), m[(3 * i + 5) % 16] + kSine[i], 4);
      d = Step(d, a, a ^ (b ^ c), m[(3 * i + 8) % 16] + kSine[i + 1], 11);
      c = Step(c, d, d ^ (a ^ b), m[(3 * i + 11) % 16] + kSine[i + 2], 16);
      b = Step(b, c, c ^ (d ^ a), m[(3 * i + 14) % 16] + kSine[i + 3], 23);
    }
    for (int i = 48; i < 64; i += 4) {
      a = Step(a, b, c ^ (b | ~d), m[(7 * i) % 16] + kSine[i], 6);
      d = Step(d, a, b ^ (a | ~c), m[(7 * i + 7) % 16] + kSine[i + 1], 10);
      c = Step(c, d, a ^ (d | ~b), m[(7 * i + 14) % 16] + kSine[i + 2], 15);
      b = Step(b, c, d ^ (c | ~a), m[(7 * i + 21) % 16] + kSine[i + 3], 21);
    }
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state_[0] = a;
  state_[1] = b;
  state_[2] = c;
  state_[3] = d;
}

std::array<std::uint8_t, 16> Md5::Finish() {
  Pad(false);
  std::array<std::uint8_t, 16> digest{};
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5Hex(const std::string& bytes) {
  Md5 md5;
  md5.Update(bytes.data(), bytes.size());
  const auto digest = md5.Finish();
  return HexDigest(digest.data(), digest.size());
}
