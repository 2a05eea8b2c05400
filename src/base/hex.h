// Hexadecimal text: digests, keys and signatures are written and read this way.
#pragma once

#include <array>
#include <cstddef>
#include <string>

// 0-15 for a hex digit of either case, -1 otherwise.
int HexValue(char c);

// Lower-case hex, two digits per byte, high nibble first.
std::string HexDigest(const unsigned char* bytes, std::size_t count);

// The bytes `hex` spells (two digits a byte, either case) into `bytes`; false
// unless it is exactly that long and all digits.
template <std::size_t N>
bool BytesFromHex(const std::string& hex, std::array<unsigned char, N>& bytes) {
  if (hex.size() != 2 * N) return false;
  for (std::size_t i = 0; i < N; ++i) {
    const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}
