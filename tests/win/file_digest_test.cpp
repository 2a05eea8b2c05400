// FileMd5, DigestFile and CheckFile (BCrypt) on real files.
#include "net/file_digest.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "digest_vectors.h"
#include "test_util.h"

namespace {

TEST(FileDigest, KnownDigestsAndChecks) {
  testutil::TempDir dir;
  const std::wstring path = (dir / "file").wstring();
  for (const auto& v : testutil::DigestVectors()) {
    testutil::WriteBytes(path, v.input);
    const FileDigests both = DigestFile(path, true, true);
    EXPECT_EQ(both.md5 + " " + both.sha256, v.md5 + " " + v.sha256) << v.input.size();
    EXPECT_EQ(DigestFile(path, false, true).md5, "");
  }
  testutil::WriteBytes(path, "abc");
  const std::wstring absent = (dir / "absent").wstring();
  const std::string abc = "900150983cd24fb0d6963f7d28e17f72";
  EXPECT_EQ(CheckFile(absent, 3, abc), FileMissing);
  EXPECT_EQ(CheckFile(path, 4, abc), FileSizeMismatch);
  EXPECT_EQ(CheckFile(path, 3, "900150983CD24FB0D6963F7D28E17F72"), FileOk);  // upper-case hex names the same
  EXPECT_EQ(CheckFile(path, 3, "", std::string(64, '0')), FileSha256Mismatch);
  EXPECT_THROW(FileMd5(absent), std::runtime_error);  // a file that cannot be opened: UpdaterOnDisk
}

// A stop asked between pieces abandons the digest; the caller's buffer is the one read through.
TEST(FileDigest, StopBetweenPieces) {
  testutil::TempDir dir;
  const std::wstring path = (dir / "file").wstring();
  testutil::WriteBytes(path, testutil::BoundaryBytes(testutil::kMiB + 1));
  DigestBuffer buffer;
  int asked = 0;
  EXPECT_FALSE(DigestFile(path, true, true, buffer, [&] { return ++asked > 1; }));  // yes after the first piece
  EXPECT_EQ(buffer.size(), testutil::kMiB);
  EXPECT_EQ(CheckFile(path, testutil::kMiB + 1, "9e45cee2c0e79c4df09344dcaa9b659f", "", buffer, [] { return true; }),
            std::nullopt);
}

}  // namespace
