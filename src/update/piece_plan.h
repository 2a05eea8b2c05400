// How a big file is fetched over several connections at once: in pieces, the
// next piece to the first free connection, into a part file beside it. What is
// known to be written is a set of byte ranges; the pieces still to fetch are
// its gaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Files of at least this size come in pieces over several connections, when
// their server serves ranges; smaller ones come whole over one connection
// (their time is the request's, not the bytes').
constexpr std::int64_t kPiecedMinBytes = 32ll << 20;

// How big the pieces of a file are (docs/PERFORMANCE.md, "One big file over
// several connections", has the measurements). Each piece costs a request, a
// round trip without bytes: 7 % of a 4 MiB piece's time at 16 MiB/s per
// connection and 20 ms, 2 % of a 16 MiB one's. But a file's last pieces leave
// connections idle while they end, a cost that grows with the piece: at ten
// pieces or more per connection it stays a few per cent. So a file gets the
// largest piece that still gives every connection ten, between these bounds
// (a 256 MiB file over six connections: 4 MiB; from 960 MiB on: 16 MiB).
constexpr std::int64_t kSmallestPiece = 4ll << 20;
constexpr std::int64_t kLargestPiece = 16ll << 20;
constexpr std::int64_t kPiecesPerConnection = 10;

// The piece size of a file of `size` bytes over `connections`: whole MiB (when
// `smallest` is), from `smallest` to `largest`.
std::int64_t PieceBytesFor(std::int64_t size, std::size_t connections, std::int64_t smallest, std::int64_t largest);

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
