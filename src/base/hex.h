// Hexadecimal text: digests, keys and signatures are written and read this way.
#pragma once

#include <cstddef>
#include <string>

// 0-15 for a hex digit of either case, -1 otherwise.
int HexValue(char c);

// Lower-case hex, two digits per byte, high nibble first.
std::string HexDigest(const unsigned char* bytes, std::size_t count);
