// libFuzzer target: any text, closed with the CRC line of its bytes so the reader looks past
// the check, is read as a part record or refused; what is read writes back to the same bytes,
// and what it lets a part claim lies inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/crc32.h"
#include "update/part_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  char crc[24];
  std::snprintf(crc, sizeof crc, "crc32 %08x\r\n", static_cast<unsigned>(Crc32Update(0, data, size)));
  text += crc;
  PartRecord record;
  std::string why;
  if (!ParsePartRecord(text, record, why)) return 0;
  if (PartRecordText(record) != text) std::abort();
  const ByteRanges trusted = TrustedPartBytes(text, record.size, record.md5, record.sha256, record.size / 2, why);
  for (const ByteRange& r : trusted.Ranges()) {
    if (r.first < 0 || r.end > record.size / 2 || r.first >= r.end) std::abort();
  }
  return 0;
}
