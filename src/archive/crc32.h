// CRC-32 as ZIP archives use it (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a running CRC over `size` more bytes; start with 0.
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t size);
