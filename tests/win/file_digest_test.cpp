// FileMd5 and CheckFile on real files.
#include "net/file_digest.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "digest_vectors.h"
#include "test_util.h"

namespace {

class FileDigestTest : public ::testing::Test {
 protected:
  std::wstring Write(const std::string& bytes) {
    const auto path = dir_ / ("file" + std::to_string(count_++));
    testutil::WriteBytes(path, bytes);
    return path.wstring();
  }
  testutil::TempDir dir_;
  int count_ = 0;
};

TEST_F(FileDigestTest, KnownDigests) {
  for (const auto& v : testutil::DigestVectors()) {
    const std::wstring path = Write(v.input);
    EXPECT_EQ(FileMd5(path), v.md5) << v.input.size() << " bytes: " << v.input.substr(0, 80);
    const FileDigests both = DigestFile(path, true, true);
    EXPECT_EQ(both.md5 + " " + both.sha256, v.md5 + " " + v.sha256) << v.input.size();
    EXPECT_EQ(DigestFile(path, false, true).md5, "");
  }
}

TEST_F(FileDigestTest, CheckFileResults) {
  const std::wstring abc = Write("abc");
  const std::wstring absent = (dir_ / "absent").wstring();
  struct Case {
    const std::wstring& path;
    int64_t size;
    std::string md5;
    FileCheckResult result;
  };
  for (const Case& c : {Case{absent, 3, "900150983cd24fb0d6963f7d28e17f72", FileMissing}, Case{abc, 0, "", FileOk},
                        Case{abc, 4, "900150983cd24fb0d6963f7d28e17f72", FileSizeMismatch},
                        Case{abc, 3, "900150983cd24fb0d6963f7d28e17f73", FileMd5Mismatch},
                        // Manifests written with upper-case hex name the same digest.
                        Case{abc, 3, "900150983CD24FB0D6963F7D28E17F72", FileOk}}) {
    EXPECT_EQ(CheckFile(c.path, c.size, c.md5), c.result) << c.size << " " << c.md5;
  }
  EXPECT_EQ(CheckFile(abc, 3, "", std::string(64, '0')), FileSha256Mismatch);

  // A path that cannot be read throws once its digest is asked for.
  EXPECT_THROW(FileMd5(absent), std::runtime_error);
  try {
    CheckFile(dir_.wide(), 0, "d41d8cd98f00b204e9800998ecf8427e");
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot open file for MD5");
  }
}

// A stop asked between pieces abandons the digest; the caller's buffer is the one read through.
TEST_F(FileDigestTest, StopBetweenPieces) {
  const std::wstring path = Write(testutil::BoundaryBytes(testutil::kMiB + 1));
  DigestBuffer buffer;
  int asked = 0;
  EXPECT_FALSE(DigestFile(path, true, true, buffer, [&] { return ++asked > 1; }));  // yes after the first piece
  EXPECT_EQ(buffer.size(), testutil::kMiB);
  EXPECT_EQ(CheckFile(path, testutil::kMiB + 1, "9e45cee2c0e79c4df09344dcaa9b659f", "", buffer, [] { return true; }),
            std::nullopt);
}

}  // namespace
