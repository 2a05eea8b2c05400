#include "delta/patch_apply.h"

#include <algorithm>
#include <vector>

#include "delta/block_sums.h"

namespace {

constexpr std::size_t kPieceBlocksBytes = 1 << 20;

// True when the ops cover the map's file from 0 to its end in whole blocks.
bool FitsMap(const BlockMap& map, const PatchPlan& plan) {
  if (!map.Whole()) return false;
  std::uint64_t at = 0;
  for (const PatchOp& op : plan.ops) {
    if (op.offset != at || op.length == 0 || op.offset % map.block_size != 0 || op.length > map.file_size - at) {
      return false;
    }
    at += op.length;
  }
  return at == map.file_size && plan.file_size == map.file_size;
}

}  // namespace

bool ApplyPatch(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched,
                const PatchOutput& output, std::string& why) {
  if (!FitsMap(map, plan)) {
    why = "the patch plan does not fit the block map";
    return false;
  }
  // Whole blocks per read, so each block's sum is checked in one piece.
  const std::size_t piece = std::max<std::size_t>(map.block_size, kPieceBlocksBytes / map.block_size * map.block_size);
  std::vector<std::uint8_t> buffer(piece);
  for (const PatchOp& op : plan.ops) {
    ByteSource& from = op.fetch ? fetched : old_file;
    for (std::uint64_t done = 0; done < op.length;) {
      const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(piece, op.length - done));
      const std::uint64_t offset = op.offset + done;
      if (!from.ReadAt(op.fetch ? offset : op.old_offset + done, buffer.data(), size)) {
        why = std::string("cannot read the ") + (op.fetch ? "fetched bytes" : "old file") + " for bytes from " +
              std::to_string(offset);
        return false;
      }
      for (std::size_t at = 0; at < size; at += map.block_size) {
        const auto index = static_cast<std::size_t>((offset + at) / map.block_size);
        const std::size_t length = std::min<std::size_t>(map.block_size, size - at);
        if (StrongSum(buffer.data() + at, length) != map.blocks[index].strong) {
          why = "block " + std::to_string(index) + (op.fetch ? " as fetched" : " of the old file") +
                " differs from the block map" + (op.fetch ? "" : " (the old file changed since it was matched)");
          return false;
        }
      }
      if (!output(offset, buffer.data(), size, op.fetch)) {
        why = "cannot write the patched file";
        return false;
      }
      done += size;
    }
  }
  return true;
}
