// Finding a new file's blocks in the old copy a player already has, and the
// plan that follows: what to copy from the old file, what to fetch by range
// from the new one.
//
// Matching as rsync and zsync do it: the new file's map gives a weak and a
// strong sum for every fixed-size block; the old file is read once, front to
// back, with the weak sum rolled along it one byte at a time, so a block is
// found at any offset, however far inserted or deleted bytes have moved it.
// A weak hit is confirmed by the strong sum; after a match the scan jumps a
// whole block. Chosen over content-defined chunks by measurement
// (docs/PERFORMANCE.md, "Patching changed files"): on a 1 GiB file with 1 %
// changed, fixed blocks fetched less (each change costs at most one block on
// either side, where a chunk boundary needs a chunk or two to fall into step
// again), handle bytes appended to the end for the appended bytes only, and
// scan unchanged regions faster; chunks only win on wholly unrelated data,
// which is fetched whole anyway.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "delta/block_map.h"

// One stretch of the new file, in the new file's order.
struct PatchOp {
  std::uint64_t offset = 0;  // in the new file
  std::uint64_t length = 0;
  bool fetch = false;            // from the new file on the server, else copied from the old file
  std::uint64_t old_offset = 0;  // a copy's place in the old file
};

struct PatchPlan {
  std::uint64_t file_size = 0;
  std::uint64_t fetch_bytes = 0;  // the sum of the fetched stretches
  // Cover the new file from 0 to its size without gaps; neighbours of a kind
  // are merged (fetches that touch, copies that continue each other in the
  // old file), so each fetch is one range request.
  std::vector<PatchOp> ops;
};

// A plan that fetches more than this share of the file is not worth its
// scan and copies: the file is fetched whole.
constexpr std::uint64_t kPatchMaxFetchPercent = 70;
bool PatchWorthIt(const PatchPlan& plan);

// Told how far the old file has been read; false stops the matching.
using MatchProgress = std::function<bool(std::uint64_t old_bytes_read)>;

// Reads `old_file` once and plans the new file that `map` describes. False
// with the reason in `why` when the old file cannot be read or `progress`
// stopped it. Memory: the map's sums, an index a few times their size and
// one read buffer of 1 MiB plus a block, whatever the files' sizes.
bool PlanPatch(const BlockMap& map, ByteSource& old_file, PatchPlan& plan, std::string& why,
               const MatchProgress& progress = nullptr);
