// libFuzzer target: any byte string, read as a ZIP archive and as a raw
// deflate stream, must give data or a clean failure; never a crash, a hang,
// a sanitizer report or an allocation sized by the input's claims. Nothing
// is written to disk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/inflate.h"
#include "update/zip_entry_path.h"
#include "update/zip_extract.h"
#include "update/zip_reader.h"

namespace {

constexpr std::size_t kOutputCap = 16 * 1024 * 1024;  // keeps each run fast

void ReadAsArchive(const std::uint8_t* data, std::size_t size) {
  MemoryZipSource source(data, size);
  ZipReader reader(source);
  std::string error;
  if (!reader.ReadDirectory(error)) return;
  std::vector<ZipExtractionItem> items;
  (void)PlanZipExtraction(reader.entries(), items, error);
  std::size_t total = 0;
  for (const auto& entry : reader.entries()) {
    std::vector<std::wstring> parts;
    (void)ZipEntryPathParts(entry.name, entry.utf8_name, parts, error);
    const ZipOutput discard = [&total](const std::uint8_t*, std::size_t n) {
      total += n;
      return total <= kOutputCap;
    };
    (void)reader.ReadEntry(entry, discard, error);
    if (total > kOutputCap) return;
  }
}

void ReadAsDeflate(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 0, total = 0;
  const InflateInput input = [&](std::uint8_t* buffer, std::size_t capacity) {
    // Small, uneven pieces exercise the refills.
    std::size_t n = std::min<std::size_t>(capacity, 1 + pos % 97);
    n = std::min(n, size - pos);
    for (std::size_t i = 0; i < n; ++i) buffer[i] = data[pos + i];
    pos += n;
    return n;
  };
  const InflateOutput output = [&total](const std::uint8_t*, std::size_t n) {
    total += n;
    return total <= kOutputCap;
  };
  std::string error;
  (void)Inflate(input, output, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadAsArchive(data, size);
  ReadAsDeflate(data, size);
  return 0;
}
