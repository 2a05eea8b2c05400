// Writing the new file from a patch plan: copies from the old file and the
// fetched stretches, in the new file's order, each block checked against the
// map's sums on its way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "delta/block_map.h"
#include "delta/patch_plan.h"

// The new file of a plan read front to back: copies from `old_file` and the
// fetched stretches from `fetched` (addressed by their offsets in the new
// file: a part file they were written into, or memory), every block checked
// against the map's strong sum before it is handed out. A reader that pulls
// (a digest over the new file) and the writer of the copies share one read.
class PatchReader {
 public:
  // All four outlive the reader.
  PatchReader(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched);

  // The next bytes of the new file into `into`, at most `size`, never from two
  // stretches at once; `fetched` tells the fetched bytes from those copied out
  // of the old file. 0 at the end of the file, and on a failure: Why() then
  // says what it was (a read that failed, a plan that does not fit the map, a
  // block that does not have the map's strong sum: the old file changed since
  // it was matched, or a server sent other bytes than asked).
  std::size_t Read(std::uint8_t* into, std::size_t size, bool& fetched);

  const std::string& Why() const { return why_; }

 private:
  // Reads `size` bytes (whole blocks, or the file's short end) of the stretch in hand into `into`.
  bool ReadBlocks(std::uint8_t* into, std::size_t size);

  const BlockMap& map_;
  const PatchPlan& plan_;
  ByteSource& old_;
  ByteSource& fetched_;
  std::size_t op_ = 0;        // the stretch in hand
  std::uint64_t offset_ = 0;  // where the stretch in hand is read next, in the new file
  std::string why_;
  std::vector<std::uint8_t> spare_;  // whole blocks for a caller that asks for less than one
  std::size_t spare_at_ = 0, spare_end_ = 0;
  bool spare_fetched_ = false;
};

// Where the new file goes. Called with consecutive pieces from offset 0 to the
// file's end, each once; `fetched` tells the fetched bytes (which a part file
// may already hold in place) from those copied out of the old file. False
// stops the patching.
using PatchOutput = std::function<bool(std::uint64_t offset, const std::uint8_t* data, std::size_t size, bool fetched)>;

// Writes the file of `map` by `plan` through `output`, read by a PatchReader in
// pieces of about 1 MiB. False with the reason in `why` when the reader fails
// or the output stops.
bool ApplyPatch(const BlockMap& map, const PatchPlan& plan, ByteSource& old_file, ByteSource& fetched,
                const PatchOutput& output, std::string& why);
