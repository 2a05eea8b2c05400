// Writing the new file from a patch plan: copies from the old file and the
// fetched stretches, in the new file's order, each block checked against the
// map's sums on its way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/byte_source.h"
#include "delta/block_map.h"
#include "delta/patch_plan.h"

// Where the new file goes. Called with consecutive pieces from offset 0 to the
// file's end, each once; `fetched` tells the fetched bytes (which a part file
// may already hold in place) from those copied out of the old file. False
// stops the patching.
using PatchOutput = std::function<bool(std::uint64_t offset, const std::uint8_t* data, std::size_t size, bool fetched)>;

// Writes the file of `map` by `plan`, reading copies from `old_file` and the
// fetched stretches from `fetched` (addressed by their offsets in the new
// file: a part file they were written into, or memory). False with the reason
// in `why` when a read fails, the output stops, the plan does not fit the
// map, or a block's bytes do not have the map's strong sum (the old file
// changed since it was matched, or a server sent other bytes than asked).
bool ApplyPatch(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched,
                const PatchOutput& output, std::string& why);
