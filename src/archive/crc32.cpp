#include "archive/crc32.h"

#include <array>

namespace {

// Four tables so the loop can take four bytes per step ("slicing by four").
using Crc32Tables = std::array<std::array<std::uint32_t, 256>, 4>;

Crc32Tables MakeTables() {
  Crc32Tables tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i) {
    for (int t = 1; t < 4; ++t) tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFF];
  }
  return tables;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  static const Crc32Tables tables = MakeTables();
  std::uint32_t c = ~crc;
  while (size >= 4) {
    c ^= static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    c = tables[3][c & 0xFF] ^ tables[2][(c >> 8) & 0xFF] ^ tables[1][(c >> 16) & 0xFF] ^ tables[0][c >> 24];
    data += 4;
    size -= 4;
  }
  while (size-- > 0) c = tables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  return ~c;
}
