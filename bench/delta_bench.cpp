// The block matching measured on real files (bench/delta_methods.py drives it;
// not part of the test suite). Native, built with the tools preset:
//   cmake --build --preset tools --target delta_bench
//
//   delta_bench map NEW MAP [BLOCK]   writes the block map of NEW (BLOCK: a block size instead of the tool's)
//   delta_bench patch MAP OLD NEW OUT plans from MAP and OLD, then writes OUT from OLD and the fetched
//                                     stretches, read from NEW as a stand-in for the server
//   delta_bench cdc OLD NEW AVERAGE   the same comparison made with content-defined chunks of AVERAGE bytes
//
// Each prints one line of JSON: bytes, seconds per step, and the process's peak resident size.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/byte_source.h"
#include "delta/block_map.h"
#include "delta/block_sums.h"
#include "delta/patch_apply.h"
#include "delta/patch_plan.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The process's peak resident size (VmHWM; getrusage would report the parent's
// peak from before the exec).
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Calls `take` with the file's bytes in pieces of 1 MiB; false when unreadable.
template <class Take>
bool ReadPieces(const char* path, Take take) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> piece(1 << 20);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    take(reinterpret_cast<const std::uint8_t*>(piece.data()), static_cast<std::size_t>(in.gcount()));
  }
  return !in.bad();
}

int MakeMap(const char* file, const char* out, std::uint32_t block) {
  FileByteSource source;
  if (!source.Open(file)) return 1;
  const auto start = Clock::now();
  BlockMapBuilder builder(block ? block : BlockSizeFor(source.Size()));
  if (!ReadPieces(file, [&](const std::uint8_t* p, std::size_t n) { builder.Update(p, n); })) return 1;
  const std::string map = builder.Finish({}, {});
  const double seconds = Since(start);
  std::ofstream(out, std::ios::binary).write(map.data(), static_cast<std::streamsize>(map.size()));
  std::printf("{\"map_bytes\": %zu, \"map_seconds\": %.3f, \"peak_kib\": %ld}\n", map.size(), seconds, PeakKib());
  return 0;
}

int Patch(const char* map_file, const char* old_file, const char* new_file, const char* out_file) {
  FileByteSource old_source, new_source;
  std::ifstream map_in(map_file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(map_in)), std::istreambuf_iterator<char>());
  if (!old_source.Open(old_file) || !new_source.Open(new_file)) return 1;
  BlockMap map;
  PatchPlan plan;
  std::string why;
  const auto start = Clock::now();
  if (!ReadBlockMap(bytes, {new_source.Size(), "", ""}, map, why) || !PlanPatch(map, old_source, plan, why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  const double plan_seconds = Since(start);
  std::size_t fetches = 0;
  for (const PatchOp& op : plan.ops) fetches += op.fetch ? 1 : 0;
  const long plan_peak = PeakKib();
  std::ofstream out(out_file, std::ios::binary | std::ios::trunc);
  const auto apply_start = Clock::now();
  const bool applied = ApplyPatch(
      map, plan, old_source, new_source,
      [&out](std::uint64_t, const std::uint8_t* data, std::size_t size, bool) {
        return static_cast<bool>(out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size)));
      },
      why);
  out.close();
  if (!applied) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  std::printf(
      "{\"block\": %u, \"map_bytes\": %zu, \"fetch_bytes\": %llu, \"fetch_ranges\": %zu, \"plan_seconds\": %.3f, "
      "\"apply_seconds\": %.3f, \"plan_peak_kib\": %ld, \"peak_kib\": %ld}\n",
      map.block_size, bytes.size(), static_cast<unsigned long long>(plan.fetch_bytes), fetches, plan_seconds,
      Since(apply_start), plan_peak, PeakKib());
  return 0;
}

// Content-defined chunks, for the comparison only: a gear hash cuts a chunk
// where its top bits are zero (stricter before the average size, looser
// after it, to keep sizes near the average), between a quarter of the average
// and four times it. Its map would hold a 64-bit hash and a length per chunk
// (counted as 10 bytes: 8 and a 16-bit length over the minimum) plus the
// same 72-byte header.
struct Chunker {
  explicit Chunker(std::size_t average) : min(average / 4), average(average), max(average * 4) {
    std::mt19937_64 random(2029);
    for (auto& g : gear) g = random();
    int bits = 0;
    while ((std::size_t{1} << bits) < average) ++bits;
    strict = ~std::uint64_t{0} << (64 - bits - 2);
    loose = ~std::uint64_t{0} << (64 - bits + 2);
  }
  // The length of the chunk starting at `data`, `size` bytes being left.
  std::size_t Cut(const std::uint8_t* data, std::size_t size) const {
    if (size <= min) return size;
    const std::size_t end = std::min(size, max);
    std::uint64_t h = 0;
    std::size_t i = min;
    for (; i < std::min(end, average); ++i) {
      h = (h << 1) + gear[data[i]];
      if (!(h & strict)) return i + 1;
    }
    for (; i < end; ++i) {
      h = (h << 1) + gear[data[i]];
      if (!(h & loose)) return i + 1;
    }
    return end;
  }
  std::size_t min, average, max;
  std::uint64_t gear[256];
  std::uint64_t strict, loose;
};

// Every chunk of a file as (hash, length), read in pieces; chunks never span
// more than the carried-over tail plus a piece.
std::vector<std::pair<std::uint64_t, std::uint32_t>> Chunks(const char* path, const Chunker& chunker) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> chunks;
  std::vector<std::uint8_t> carry;
  const auto flush = [&](bool last) {
    std::size_t at = 0;
    while (at < carry.size() && (last || carry.size() - at >= chunker.max)) {
      const std::size_t length = chunker.Cut(carry.data() + at, carry.size() - at);
      chunks.emplace_back(StrongHash(carry.data() + at, length), static_cast<std::uint32_t>(length));
      at += length;
    }
    carry.erase(carry.begin(), carry.begin() + static_cast<std::ptrdiff_t>(at));
  };
  ReadPieces(path, [&](const std::uint8_t* p, std::size_t n) {
    carry.insert(carry.end(), p, p + n);
    flush(false);
  });
  flush(true);
  return chunks;
}

int Cdc(const char* old_file, const char* new_file, std::size_t average) {
  const Chunker chunker(average);
  auto start = Clock::now();
  const auto wanted = Chunks(new_file, chunker);
  const double map_seconds = Since(start);
  start = Clock::now();
  std::unordered_map<std::uint64_t, std::uint32_t> have;
  for (const auto& chunk : Chunks(old_file, chunker)) have.emplace(chunk.first, chunk.second);
  std::uint64_t fetch = 0;
  std::size_t ranges = 0;
  bool fetching = false;
  for (const auto& [hash, length] : wanted) {
    const auto found = have.find(hash);
    const bool missing = found == have.end() || found->second != length;
    fetch += missing ? length : 0;
    ranges += missing && !fetching ? 1 : 0;
    fetching = missing;
  }
  std::printf(
      "{\"average\": %zu, \"map_bytes\": %zu, \"fetch_bytes\": %llu, \"fetch_ranges\": %zu, \"map_seconds\": %.3f, "
      "\"plan_seconds\": %.3f, \"peak_kib\": %ld}\n",
      average, 72 + wanted.size() * 10, static_cast<unsigned long long>(fetch), ranges, map_seconds, Since(start),
      PeakKib());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "map" && (argc == 4 || argc == 5)) {
    return MakeMap(argv[2], argv[3], argc == 5 ? static_cast<std::uint32_t>(std::stoul(argv[4])) : 0);
  }
  if (mode == "patch" && argc == 6) return Patch(argv[2], argv[3], argv[4], argv[5]);
  if (mode == "cdc" && argc == 5) return Cdc(argv[2], argv[3], std::stoul(argv[4]));
  std::fprintf(stderr, "usage: see the comment at the top of bench/delta_bench.cpp\n");
  return 2;
}
