#include "update/piece_plan.h"

#include <algorithm>

void ByteRanges::Add(std::int64_t first, std::int64_t end) {
  if (first >= end) return;
  // The ranges that touch or overlap [first, end) merge with it.
  auto from = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                               [](const ByteRange& r, std::int64_t at) { return r.end < at; });
  auto to = from;
  while (to != ranges_.end() && to->first <= end) {
    first = std::min(first, to->first);
    end = std::max(end, to->end);
    ++to;
  }
  ranges_.insert(ranges_.erase(from, to), ByteRange{first, end});
}

void ByteRanges::ClipTo(std::int64_t size) {
  while (!ranges_.empty() && ranges_.back().first >= size) ranges_.pop_back();
  if (!ranges_.empty() && ranges_.back().end > size) ranges_.back().end = size;
}

std::int64_t ByteRanges::Bytes() const {
  std::int64_t bytes = 0;
  for (const ByteRange& r : ranges_) bytes += r.end - r.first;
  return bytes;
}

std::int64_t ByteRanges::HeldFrom(std::int64_t at) const {
  for (const ByteRange& r : ranges_) {
    if (r.first <= at && at < r.end) return r.end;
  }
  return at;
}

std::vector<ByteRange> ByteRanges::Pieces(std::int64_t size, std::int64_t piece) const {
  piece = std::max<std::int64_t>(piece, 1);
  std::vector<ByteRange> pieces;
  std::int64_t at = 0;
  const auto gap = [&](std::int64_t end) {
    for (; at < end; at = std::min(at + piece, end)) pieces.push_back({at, std::min(at + piece, end)});
  };
  for (const ByteRange& r : ranges_) {
    gap(std::min(r.first, size));
    at = std::max(at, r.end);
  }
  gap(size);
  return pieces;
}

std::int64_t PieceBytesFor(std::int64_t size, std::size_t connections, std::int64_t smallest, std::int64_t largest) {
  const std::int64_t share =
      size / (kPiecesPerConnection * static_cast<std::int64_t>(std::max<std::size_t>(connections, 1)));
  const std::int64_t mib = std::int64_t{1} << 20;
  return std::clamp(share / mib * mib, smallest, std::max(smallest, largest));
}
