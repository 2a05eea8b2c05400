// The record beside a part file: which of its bytes are written for sure, and
// for which file (its size and digests as the manifest gave them). Replaced
// whole (temporary file, then a move) at most about once a second while the
// pieces come, and only after the part file's data has been flushed, so that
// it may lag behind the data but never run ahead of it.
//
// A short text, each line ended by CR LF:
//   ostrel-part 1
//   size <bytes>
//   md5 <as the manifest gives it, may be empty>
//   sha256 <the same>
//   held <first> <end>        one line per run of written bytes [first, end), in order
//   crc32 <8 lower-case hex digits: CRC-32 of every byte before this line>
// Anything else (a hand edit, a cut, another version) is refused whole.
#pragma once

#include <cstdint>
#include <string>

#include "update/piece_plan.h"

struct PartRecord {
  std::int64_t size = 0;
  std::string md5, sha256;
  ByteRanges held;
};

std::string PartRecordText(const PartRecord& record);
// False with `why` when `text` is not a whole record in the form above (ranges
// sorted, apart, non-empty and inside the size).
bool ParsePartRecord(const std::string& text, PartRecord& record, std::string& why);

// What a part file of `part_size` bytes holds for sure for the file of `size`
// bytes and these digests, by its record `text`: the record's ranges that lie
// inside the part file (a part shorter than its record claims is trusted only as
// far as it goes). Nothing, with `why` set, when the record is unreadable or for
// other bytes, or the part is longer than the file.
ByteRanges TrustedPartBytes(const std::string& text, std::int64_t size, const std::string& md5,
                            const std::string& sha256, std::int64_t part_size, std::string& why);
