// libFuzzer target: any byte string, read as the block map of a file of the
// size it claims, is refused or read back to the same bytes. Then the input
// is cut where a map of that header ends: a map that reads is matched against
// the rest as the old file, and the plan applied (the rest serving as the
// fetched bytes too): never a crash, a read or write out of bounds, or output
// out of order. The seed is a map followed by a changed copy of its file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/byte_source.h"
#include "delta/block_map.h"
#include "delta/patch_apply.h"
#include "delta/patch_plan.h"

namespace {

std::uint64_t Le(const std::uint8_t* data, std::size_t size, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | (at + i < size ? data[at + i] : 0);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BlockMapFile file;  // the size the header claims, so the reader looks past that check
  file.size = Le(data, size, 16, 8);
  BlockMap map;
  std::string why;
  const std::string whole(reinterpret_cast<const char*>(data), size);
  if (ReadBlockMap(whole, file, map, why) && BlockMapBytes(map) != whole) std::abort();

  const std::uint64_t block = Le(data, size, 12, 4);
  if (block == 0) return 0;
  const std::uint64_t blocks = file.size / block + (file.size % block != 0);
  if (blocks > size) return 0;
  const auto map_end = static_cast<std::size_t>(std::min<std::uint64_t>(size, kBlockMapHeaderBytes + blocks * 8));
  if (!ReadBlockMap(whole.substr(0, map_end), file, map, why)) return 0;
  MemoryByteSource old_file(data + map_end, size - map_end);
  PatchPlan plan;
  if (!PlanPatch(map, old_file, plan, why)) return 0;
  std::uint64_t written = 0;
  const auto output = [&written](std::uint64_t offset, const std::uint8_t*, std::size_t n, bool) {
    if (offset != written) std::abort();
    written += n;
    return true;
  };
  if (ApplyPatch(map, plan, old_file, old_file, output, why) && written != map.file_size) std::abort();
  return 0;
}
