// Inputs with digests computed independently (the RFC 1321 suite, then
// Python's hashlib for sizes around the 1 MiB read piece), shared by the
// tests of the system's digests (BCrypt) and of the portable ones.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace testutil {

constexpr std::size_t kMiB = 1048576;

// Bytes that differ from byte to byte, so a dropped or repeated piece changes the digest.
inline std::string BoundaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 8) + (i >> 16) * 7) & 0xFF);
  return bytes;
}

struct DigestVector {
  std::string input;
  std::string md5;
};

inline std::vector<DigestVector> DigestVectors() {
  return {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {BoundaryBytes(kMiB - 1), "510fe6a6a47926454323022e72e2e871"},
      {BoundaryBytes(kMiB), "2b1f9be17cb0684ee87980f394848140"},
      {BoundaryBytes(kMiB + 1), "9e45cee2c0e79c4df09344dcaa9b659f"},
  };
}

}  // namespace testutil
