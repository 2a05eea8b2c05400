// MD5 and SHA-256 of a file read once, piece by piece: the launcher's checks
// (through ReadFile) and the manifest generator (through a stream) both use it.
//
// With both digests asked for, a file longer than `alone_bytes` is hashed on
// two threads from there on, when a processor is idle at that moment (fewer
// threads of the process hashing than processors): the calling thread reads
// each piece and feeds the faster digest, a second thread the slower one, over
// a ring of pieces in the caller's buffer (kDigestRingPieces pieces, 4 MiB).
// A large file then takes about the time of the slower digest alone, never a
// second read; a short one never waits for a thread to start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "net/file_digest.h"

// Reads the next bytes of the file into `into`, at most `size`, and gives how
// many it read: 0 at the end and on a failure (the digests then cover what was
// read and match nothing). May read fewer than asked before the end.
using ReadPiece = std::function<std::size_t(unsigned char* into, std::size_t size)>;

constexpr std::size_t kDigestPieceBytes = 512 << 10;  // the most one read asks for
constexpr std::size_t kDigestRingPieces = 8;          // pieces in the ring when two threads hash
constexpr std::int64_t kDigestAloneBytes = 8 << 20;   // hashed on the calling thread alone before that

// The digests asked for of everything `read` gives, through `buffer` (sized
// here: one piece, or the ring once two threads hash). Nothing when `stop`
// (if given), asked after each full piece, said yes.
std::optional<FileDigests> DigestStream(const ReadPiece& read, bool md5, bool sha256, DigestBuffer& buffer,
                                        const DigestStop& stop, std::int64_t alone_bytes = kDigestAloneBytes);
