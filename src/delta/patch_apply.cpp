#include "delta/patch_apply.h"

#include <algorithm>
#include <cstring>

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

PatchReader::PatchReader(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched)
    : map_(map), plan_(plan), old_(old_file), fetched_(fetched) {
  if (!FitsMap(map, plan)) why_ = "the patch plan does not fit the block map";
}

bool PatchReader::ReadBlocks(std::uint8_t* into, std::size_t size) {
  const PatchOp& op = plan_.ops[op_];
  ByteSource& from = op.fetch ? fetched_ : old_;
  if (!from.ReadAt(op.fetch ? offset_ : op.old_offset + (offset_ - op.offset), into, size)) {
    why_ = std::string("cannot read the ") + (op.fetch ? "fetched bytes" : "old file") + " for bytes from " +
           std::to_string(offset_);
    return false;
  }
  for (std::size_t at = 0; at < size; at += map_.block_size) {
    const auto index = static_cast<std::size_t>((offset_ + at) / map_.block_size);
    const std::size_t length = std::min<std::size_t>(map_.block_size, size - at);
    if (StrongSum(into + at, length) != map_.blocks[index].strong) {
      why_ = "block " + std::to_string(index) + (op.fetch ? " as fetched" : " of the old file") +
             " differs from the block map" + (op.fetch ? "" : " (the old file changed since it was matched)");
      return false;
    }
  }
  return true;
}

std::size_t PatchReader::Read(std::uint8_t* into, std::size_t size, bool& fetched) {
  if (spare_at_ == spare_end_) {
    if (!why_.empty() || size == 0 || op_ >= plan_.ops.size()) return 0;
    const PatchOp& op = plan_.ops[op_];
    // The stretch ends at a block's end, or at the file's (its last block may be short).
    const std::uint64_t left = op.offset + op.length - offset_;
    const bool spare = left > size && size < map_.block_size;  // a block is read whole, then handed out in parts
    const std::size_t count = left <= size ? static_cast<std::size_t>(left)
                              : spare      ? static_cast<std::size_t>(std::min<std::uint64_t>(map_.block_size, left))
                                           : size / map_.block_size * map_.block_size;
    if (spare) spare_.resize(map_.block_size);
    if (!ReadBlocks(spare ? spare_.data() : into, count)) return 0;
    offset_ += count;
    if (offset_ == op.offset + op.length) ++op_;
    fetched = spare_fetched_ = op.fetch;
    if (!spare) return count;
    spare_at_ = 0;
    spare_end_ = count;
  }
  const std::size_t count = std::min(size, spare_end_ - spare_at_);
  std::memcpy(into, spare_.data() + spare_at_, count);
  spare_at_ += count;
  fetched = spare_fetched_;
  return count;
}

bool ApplyPatch(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched,
                const PatchOutput& output, std::string& why) {
  PatchReader reader(map, plan, old_file, fetched);
  if (!reader.Why().empty()) {
    why = reader.Why();
    return false;
  }
  // Whole blocks per read, so each block's sum is checked in one piece.
  const std::size_t piece = std::max<std::size_t>(map.block_size, kPieceBlocksBytes / map.block_size * map.block_size);
  std::vector<std::uint8_t> buffer(piece);
  for (std::uint64_t offset = 0; offset < map.file_size;) {
    bool in_place = false;
    const std::size_t size = reader.Read(buffer.data(), piece, in_place);
    if (size == 0) {
      why = reader.Why();
      return false;
    }
    if (!output(offset, buffer.data(), size, in_place)) {
      why = "cannot write the patched file";
      return false;
    }
    offset += size;
  }
  return true;
}
