// libFuzzer target: any byte string, read as a ZIP archive and as a raw deflate stream, gives
// data or a clean failure: never a crash, a hang, a sanitizer report or an allocation sized by
// the input's claims. Nothing is written to disk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "archive/inflate.h"
#include "archive/zip_entry_path.h"
#include "archive/zip_extract.h"
#include "archive/zip_reader.h"

namespace {

constexpr std::size_t kOutputCap = 16 * 1024 * 1024;  // keeps each run fast

void ReadAsArchive(const std::uint8_t* data, std::size_t size) {
  MemoryByteSource source(data, size);
  ZipReader reader(source);
  std::string error;
  std::vector<ZipExtractionItem> items;
  if (!reader.ReadDirectory(error)) return;
  (void)PlanZipExtraction(reader.entries(), items, error);
  std::size_t total = 0;
  for (const auto& entry : reader.entries()) {
    std::vector<std::wstring> parts;
    (void)ZipEntryPathParts(entry.name, entry.utf8_name, parts, error);
    (void)reader.ReadEntry(
        entry, [&total](const std::uint8_t*, std::size_t n) { return (total += n) <= kOutputCap; }, error);
    if (total > kOutputCap) return;
  }
}

// Decodes with input pieces of at most `most` bytes (uneven ones when 0); the
// output is summed into a hash, so pieces can be compared without keeping it.
std::pair<std::uint64_t, std::string> Decode(const std::uint8_t* data, std::size_t size, std::size_t most) {
  std::size_t pos = 0, total = 0;
  std::uint64_t hash = 1469598103934665603u;
  const InflateInput input = [&](std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t n = std::min({capacity, most ? most : 1 + pos % 97, size - pos});
    std::copy(data + pos, data + pos + n, buffer);
    return pos += n, n;
  };
  const InflateOutput output = [&](const std::uint8_t* p, std::size_t n) {  // refused at the cap, wherever it falls
    for (std::size_t i = 0; i < n && total < kOutputCap; ++i, ++total) hash = (hash ^ p[i]) * 1099511628211u;
    return total < kOutputCap;
  };
  std::string error;
  const bool ok = Inflate(input, output, error);
  return {hash ^ total, ok ? "" : error};
}

// The decoder must give the same bytes and the same verdict whatever the input pieces.
void ReadAsDeflate(const std::uint8_t* data, std::size_t size) {
  const auto whole = Decode(data, size, size + 1);
  if (Decode(data, size, 1) != whole || Decode(data, size, 0) != whole) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadAsArchive(data, size);
  ReadAsDeflate(data, size);
  return 0;
}
