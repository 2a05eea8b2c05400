// MD5 and SHA-256: known answers, the SHA extensions against the portable
// blocks, and a file's digests read once, on one thread or two.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>

#include "base/hex.h"
#include "digest_vectors.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "net/sha256_x86.h"
#include "net/stream_digests.h"

namespace {

std::string Sha256With(Sha256BlockFunction blocks, const std::string& bytes) {
  Sha256 sha(blocks);
  sha.Update(bytes.data(), bytes.size());
  const auto digest = sha.Finish();
  return HexDigest(digest.data(), digest.size());
}

std::string RandomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(Digests, KnownAnswers) {
  for (const auto& v : testutil::DigestVectors()) {
    EXPECT_EQ(Md5Hex(v.input), v.md5) << v.input.size();
    EXPECT_EQ(Sha256Hex(v.input), v.sha256) << v.input.size();  // the extensions where there are
    EXPECT_EQ(Sha256With(Sha256BlocksPortable, v.input), v.sha256) << v.input.size();
  }
  // Every length 0 to 300, so every place the padding and the length can
  // fall in the last block or two: both digests of each, in one digest
  // (Python's hashlib over the same bytes gives it).
  std::string all;
  for (std::size_t size = 0; size <= 300; ++size) {
    all += Md5Hex(testutil::BoundaryBytes(size)) + Sha256Hex(testutil::BoundaryBytes(size));
  }
  EXPECT_EQ(Sha256Hex(all), "d50ecfda68f9f1a37cde59c8a4bbc89ed4f7d225ced6fced996f1549118eda2a");
}

TEST(Digests, ShaExtensionsMatchPortableBlocks) {
  if (!HasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
  std::mt19937 random(27);
  for (std::size_t size = 0; size <= 300; ++size) {
    const std::string bytes = RandomBytes(random, size);
    ASSERT_EQ(Sha256With(Sha256BlocksShaExtensions, bytes), Sha256With(Sha256BlocksPortable, bytes)) << size;
  }
  for (const std::size_t size : {4095, 65536 + 1, 1 << 20}) {
    const std::string bytes = RandomBytes(random, size);
    EXPECT_EQ(Sha256With(Sha256BlocksShaExtensions, bytes), Sha256With(Sha256BlocksPortable, bytes)) << size;
  }
}

// A file of `size` bytes read through DigestStream, `most` bytes a read at
// most, hashed on two threads after `alone` bytes; stopped when asked `stop_at` times.
struct StreamCase {
  std::size_t size, most;
  std::int64_t alone;
  bool md5, sha256;
  int stop_at;
};

TEST(StreamDigests, OneReadOnOneOrTwoThreads) {
  constexpr std::size_t kPiece = kDigestPieceBytes, kRing = kDigestRingPieces * kDigestPieceBytes;
  const StreamCase cases[] = {
      {0, kPiece, 0, true, true, 0},                          // nothing to read, a second thread at once
      {kRing + kPiece / 2, kPiece, 0, true, true, 0},         // the ring goes round, the last piece short
      {kRing * 2 + 3, 70000, kPiece, true, true, 0},          // short reads, two threads after one piece
      {kRing + 1, kPiece, kDigestAloneBytes, true, true, 0},  // below the mark: one thread
      {kRing + 1, kPiece, 0, true, false, 0},                 // one digest never takes a second thread
      {kRing + 1, kPiece, 0, false, true, 0},
      {kRing * 2, kPiece, 0, true, true, 3},  // stopped with pieces in the ring
  };
  for (const StreamCase& c : cases) {
    const std::string file = testutil::BoundaryBytes(c.size);
    std::size_t at = 0;
    const ReadPiece read = [&](unsigned char* into, std::size_t size) {
      const std::size_t got = std::min({size, c.most, file.size() - at});
      std::copy_n(file.data() + at, got, into);
      at += got;
      return got;
    };
    int asked = 0;
    const DigestStop stop = [&] { return ++asked == c.stop_at; };
    DigestBuffer buffer;
    const auto digests = DigestStream(read, c.md5, c.sha256, buffer, stop, c.alone);
    const auto what = std::make_tuple(c.size, c.most, c.alone, c.md5, c.sha256);
    if (c.stop_at > 0) {
      EXPECT_FALSE(digests);
      EXPECT_EQ(at, c.stop_at * kPiece);  // nothing read after the stop
      continue;
    }
    ASSERT_TRUE(digests);
    EXPECT_EQ(digests->md5, c.md5 ? Md5Hex(file) : "") << ::testing::PrintToString(what);
    EXPECT_EQ(digests->sha256, c.sha256 ? Sha256Hex(file) : "") << ::testing::PrintToString(what);
    EXPECT_EQ(at, file.size());
    EXPECT_LE(buffer.size(), kRing);
  }
}

}  // namespace
