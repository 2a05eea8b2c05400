// How a big file is fetched over several connections at once: in pieces, the
// next piece to the first free connection, into a part file beside it. What is
// known to be written is a set of byte ranges; the pieces still to fetch are
// its gaps.
#pragma once

#include <cstdint>
#include <vector>

// Files of at least this size come in pieces over several connections, when
// their server serves ranges; smaller ones come whole over one connection
// (their time is the request's, not the bytes').
constexpr std::int64_t kPiecedMinBytes = 32ll << 20;

// The size of a piece (docs/PERFORMANCE.md has the measurements that chose it).
constexpr std::int64_t kPieceBytes = 8ll << 20;

// Bytes [first, end) of a file.
struct ByteRange {
  std::int64_t first = 0;
  std::int64_t end = 0;
  bool operator==(const ByteRange& o) const { return first == o.first && end == o.end; }
};

// A set of byte ranges of one file, kept sorted and merged: what a part file
// holds for sure.
class ByteRanges {
 public:
  // Adds [first, end); an empty or reversed range adds nothing.
  void Add(std::int64_t first, std::int64_t end);
  // Keeps only what lies before `size`.
  void ClipTo(std::int64_t size);
  std::int64_t Bytes() const;
  // The end of the held run of bytes that starts at `at` (`at` when none starts there).
  std::int64_t HeldFrom(std::int64_t at) const;
  // The gaps of [0, size), cut into pieces of at most `piece` bytes, in file order.
  std::vector<ByteRange> Pieces(std::int64_t size, std::int64_t piece) const;
  const std::vector<ByteRange>& Ranges() const { return ranges_; }

 private:
  std::vector<ByteRange> ranges_;  // sorted, disjoint, never touching
};
