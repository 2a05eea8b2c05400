// Inputs with digests computed independently (RFC 1321's and FIPS 180-2's suites; Python's hashlib for
// sizes around a 1 MiB file), for the file digests and the block functions.
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
  std::string sha256;
};

inline std::vector<DigestVector> DigestVectors() {
  return {
      {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"a", "0cc175b9c0f1b6a831c399e269772661", "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0",
       "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b",
       "71c480df93d6ae2f1efad1447c66c9525e316218cf51fc8d9ed832f2daf18b73"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f",
       "db4bfcbd4da0cd85a60c3c37d3fbd8805c77f15fc6b1fdfe614ee0a7c8fdb4c0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a", "f371bc4a311f2b009eef952dd83ca80e2b60026c8e935592d0f9c308453c813e"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrst"
       "u",
       "03dd8807a93175fb062dfb55dc7d359c", "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {BoundaryBytes(kMiB - 1), "510fe6a6a47926454323022e72e2e871",
       "9bac3b112ccbfd1e0b9964a6f2e3ba0ebc99475372c1ca813c13bbe00d3f54bf"},
      {BoundaryBytes(kMiB), "2b1f9be17cb0684ee87980f394848140",
       "5fb8ab9c5e68efffbbe58fef8446bf1ad48a4d8c611bf6372bdbaa5fe48852da"},
      {BoundaryBytes(kMiB + 1), "9e45cee2c0e79c4df09344dcaa9b659f",
       "5acaba771070b2e938fe2be69a5c1f33166680707c091eaae6f32d1df798eac8"},
  };
}

}  // namespace testutil
