// libFuzzer target: any byte string, closed with its CRC-32 so the reader looks past the check,
// is read as a record of verified files or refused; what is read writes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/crc32.h"
#include "update/verified_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::uint32_t crc = Crc32Update(0, data, size);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((crc >> (8 * i)) & 0xFF));
  VerifiedRecord record;
  std::string why;
  if (ParseRecord(bytes, record, why) && SerializeRecord(record) != bytes) std::abort();
  return 0;
}
