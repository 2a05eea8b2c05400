#include "delta/patch_plan.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "delta/block_sums.h"

namespace {

constexpr std::size_t kReadPiece = 1 << 20;
constexpr std::uint64_t kNowhere = std::numeric_limits<std::uint64_t>::max();

int CeilLog2(std::uint64_t n) {
  int bits = 0;
  while ((std::uint64_t{1} << bits) < n) ++bits;
  return bits;
}

// The map's blocks by content: one group per distinct (weak, strong,
// length) with the blocks that share it, so a file of many equal blocks
// (zeros) costs one look per hit, not one per block. A bit filter (128 bits
// per block) turns away almost every position of changed data with one load;
// what passes looks in a bucket of groups sorted by weak sum.
class BlockIndex {
 public:
  struct Group {
    std::uint32_t weak, strong, length;
    std::uint32_t first, count;  // its blocks, in blocks_
    bool found;
  };

  explicit BlockIndex(const BlockMap& map) {
    const std::size_t count = map.blocks.size();
    const int filter_bits = std::min(27, std::max(12, CeilLog2(count) + 7));
    filter_shift_ = 32 - filter_bits;
    filter_.assign((std::size_t{1} << filter_bits) / 64, 0);
    blocks_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      blocks_[i] = static_cast<std::uint32_t>(i);
      const std::uint32_t bit = map.blocks[i].weak >> filter_shift_;
      filter_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
    const auto key = [&map](std::uint32_t i) {
      return std::make_tuple(map.blocks[i].weak, map.blocks[i].strong, map.BlockLength(i));
    };
    std::sort(blocks_.begin(), blocks_.end(), [&key](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
    for (std::size_t i = 0; i < count; ++i) {
      if (i == 0 || key(blocks_[i]) != key(blocks_[i - 1])) {
        const BlockSum& sum = map.blocks[blocks_[i]];
        groups_.push_back({sum.weak, sum.strong, static_cast<std::uint32_t>(map.BlockLength(blocks_[i])),
                           static_cast<std::uint32_t>(i), 0, false});
      }
      ++groups_.back().count;
    }
    bucket_shift_ = 32 - std::min(31, std::max(1, CeilLog2(groups_.size())));
    starts_.assign((std::size_t{1} << (32 - bucket_shift_)) + 1, 0);
    for (const Group& g : groups_) ++starts_[(g.weak >> bucket_shift_) + 1];
    for (std::size_t b = 1; b < starts_.size(); ++b) starts_[b] += starts_[b - 1];
  }

  bool MayHold(std::uint32_t weak) const {
    const std::uint32_t bit = weak >> filter_shift_;
    return (filter_[bit >> 6] >> (bit & 63)) & 1;
  }

  // The groups with this weak sum, as [first, last).
  std::pair<Group*, Group*> Find(std::uint32_t weak) {
    Group* first = groups_.data() + starts_[weak >> bucket_shift_];
    Group* last = groups_.data() + starts_[(weak >> bucket_shift_) + 1];
    while (first != last && first->weak < weak) ++first;
    Group* end = first;
    while (end != last && end->weak == weak) ++end;
    return {first, end};
  }

  const std::uint32_t* BlocksOf(const Group& group) const { return blocks_.data() + group.first; }

 private:
  std::vector<std::uint64_t> filter_;
  int filter_shift_ = 0;
  int bucket_shift_ = 0;
  std::vector<std::uint32_t> blocks_;  // block indices, grouped
  std::vector<Group> groups_;
  std::vector<std::uint32_t> starts_;
};

// The old file as a window of bytes [start, start + size) read piece by piece.
class OldWindow {
 public:
  OldWindow(ByteSource& file, std::size_t block) : file_(file), buffer_(kReadPiece + block) {}

  // Makes [from, to) present, dropping what lies before `from`; false on a read error.
  bool Hold(std::uint64_t from, std::uint64_t to) {
    if (from >= start_ && to <= start_ + size_) return true;
    if (from < start_ || from > start_ + size_) {
      start_ = from;
      size_ = 0;
    } else {
      const auto keep = static_cast<std::size_t>(start_ + size_ - from);
      std::memmove(buffer_.data(), buffer_.data() + (from - start_), keep);
      start_ = from;
      size_ = keep;
    }
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - size_, file_.Size() - (start_ + size_)));
    if (!file_.ReadAt(start_ + size_, buffer_.data() + size_, want)) return false;
    size_ += want;
    return to <= start_ + size_;
  }
  const std::uint8_t* At(std::uint64_t offset) const { return buffer_.data() + (offset - start_); }
  std::uint64_t End() const { return start_ + size_; }

 private:
  ByteSource& file_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t start_ = 0;
  std::size_t size_ = 0;
};

class Matcher {
 public:
  Matcher(const BlockMap& map, ByteSource& old_file)
      : map_(map), old_(old_file), index_(map), source_(map.blocks.size(), kNowhere), unmatched_(map.blocks.size()) {
    // Weak hits whose strong sum differs cost a block's hashing each; past
    // this many the data is made to defeat the weak sum, and the scan ends
    // with what it found.
    miss_budget_ = 4 * (old_file.Size() / map.block_size) + 1024;
  }

  bool Scan(const MatchProgress& progress, std::string& why);
  void FindShortLastBlock();
  PatchPlan Plan() const;

 private:
  bool TryMatch(std::uint32_t weak, const std::uint8_t* window, std::size_t length, std::uint64_t at);

  const BlockMap& map_;
  ByteSource& old_;
  BlockIndex index_;
  std::vector<std::uint64_t> source_;  // per block: its offset in the old file, or kNowhere
  std::size_t unmatched_;
  std::uint64_t miss_budget_;
};

// Marks every block with this weak sum and the window's strong sum as found at `at`.
bool Matcher::TryMatch(std::uint32_t weak, const std::uint8_t* window, std::size_t length, std::uint64_t at) {
  const auto [first, last] = index_.Find(weak);
  if (first == last) return false;
  const std::uint32_t strong = StrongSum(window, length);
  bool found = false;
  for (BlockIndex::Group* group = first; group != last; ++group) {
    if (group->strong != strong || group->length != length) continue;
    found = true;
    if (group->found) continue;
    group->found = true;
    const std::uint32_t* blocks = index_.BlocksOf(*group);
    for (std::uint32_t i = 0; i < group->count; ++i) {
      if (source_[blocks[i]] != kNowhere) continue;
      source_[blocks[i]] = at;
      --unmatched_;
    }
  }
  if (!found && miss_budget_ > 0) --miss_budget_;
  return found;
}

bool Matcher::Scan(const MatchProgress& progress, std::string& why) {
  const std::size_t block = map_.block_size;
  const std::uint64_t end = old_.Size();
  OldWindow window(old_, block);
  RollingSum sum(block);
  std::uint64_t p = 0;
  bool fresh = true;    // the sum must be started at p
  bool tested = false;  // p has been tried: roll on first
  while (p + block <= end && unmatched_ > 0 && miss_budget_ > 0) {
    const std::uint64_t before = window.End();
    if (!window.Hold(p, std::min(end, p + block + 1))) {
      why = "cannot read the old file at byte " + std::to_string(window.End());
      return false;
    }
    if (window.End() != before && progress && !progress(window.End())) {
      why = "stopped";
      return false;
    }
    const std::uint8_t* w = window.At(p);
    const std::uint8_t* const last = window.At(window.End()) - block;  // the last window start held
    if (fresh) {
      sum.Start(w);
      fresh = tested = false;
    }
    for (;;) {
      if (tested) {
        if (w == last) break;  // the next byte is not held yet
        sum.Roll(w[0], w[block]);
        ++w;
        ++p;
      }
      tested = true;
      const std::uint32_t weak = sum.Weak();
      if (index_.MayHold(weak) && TryMatch(weak, w, block, p)) {
        p += block;
        fresh = true;
        break;
      }
      if (p + block == end) return true;
    }
  }
  return true;
}

// The last block is shorter when the size is no multiple of the block size,
// and the rolled window never has its length: it is tried where it is likely,
// after its found neighbour and at the old file's end.
void Matcher::FindShortLastBlock() {
  const std::size_t count = map_.blocks.size();
  if (count == 0 || source_[count - 1] != kNowhere) return;
  const std::size_t length = map_.BlockLength(count - 1);
  if (length == map_.block_size) return;
  const std::uint64_t end = old_.Size();
  std::vector<std::uint64_t> places;
  if (count >= 2 && source_[count - 2] != kNowhere) places.push_back(source_[count - 2] + map_.block_size);
  if (end >= length) places.push_back(end - length);
  std::vector<std::uint8_t> bytes(length);
  const BlockSum& want = map_.blocks[count - 1];
  for (const std::uint64_t at : places) {
    if (at > end || length > end - at || !old_.ReadAt(at, bytes.data(), length)) continue;
    if (WeakSum(PolynomialSum(bytes.data(), length)) == want.weak && StrongSum(bytes.data(), length) == want.strong) {
      source_[count - 1] = at;
      return;
    }
  }
}

PatchPlan Matcher::Plan() const {
  PatchPlan plan;
  plan.file_size = map_.file_size;
  for (std::size_t i = 0; i < source_.size(); ++i) {
    const PatchOp op{map_.BlockOffset(i), map_.BlockLength(i), source_[i] == kNowhere,
                     source_[i] == kNowhere ? 0 : source_[i]};
    if (op.fetch) plan.fetch_bytes += op.length;
    PatchOp* previous = plan.ops.empty() ? nullptr : &plan.ops.back();
    if (previous && previous->fetch == op.fetch &&
        (op.fetch || previous->old_offset + previous->length == op.old_offset)) {
      previous->length += op.length;
    } else {
      plan.ops.push_back(op);
    }
  }
  return plan;
}

}  // namespace

bool PatchWorthIt(const PatchPlan& plan) {
  return static_cast<double>(plan.fetch_bytes) <= static_cast<double>(plan.file_size) * kPatchMaxFetchPercent / 100;
}

bool PlanPatch(const BlockMap& map, ByteSource& old_file, PatchPlan& plan, std::string& why,
               const MatchProgress& progress) {
  if (!map.Whole() || map.blocks.size() > std::numeric_limits<std::uint32_t>::max()) {
    why = "the block map does not fit its file";
    return false;
  }
  Matcher matcher(map, old_file);
  if (!matcher.Scan(progress, why)) return false;
  matcher.FindShortLastBlock();
  plan = matcher.Plan();
  return true;
}
