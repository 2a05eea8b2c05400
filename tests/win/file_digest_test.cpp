// FileMd5 and CheckFile on real files.
#include "net/file_digest.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "test_util.h"

namespace {

constexpr size_t kMiB = 1048576;

// Bytes whose digests were computed independently (Python's hashlib); they differ
// from byte to byte so a dropped or repeated piece changes the digest.
std::string BoundaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 8) + (i >> 16) * 7) & 0xFF);
  return bytes;
}

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

// The RFC 1321 test suite, then sizes around the 1 MiB read piece.
TEST_F(FileDigestTest, KnownDigests) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {BoundaryBytes(kMiB - 1), "510fe6a6a47926454323022e72e2e871"},
      {BoundaryBytes(kMiB), "2b1f9be17cb0684ee87980f394848140"},
      {BoundaryBytes(kMiB + 1), "9e45cee2c0e79c4df09344dcaa9b659f"},
  };
  for (const auto& [input, digest] : cases) {
    EXPECT_EQ(FileMd5(Write(input)), digest) << input.size() << " bytes: " << input.substr(0, 80);
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
  const std::wstring path = Write(BoundaryBytes(kMiB + 1));
  DigestBuffer buffer;
  int asked = 0;
  EXPECT_EQ(FileMd5(path, buffer, [&] { return ++asked > 1; }), std::nullopt);  // yes after the first piece
  EXPECT_EQ(buffer.size(), kMiB);
  EXPECT_EQ(CheckFile(path, kMiB + 1, "9e45cee2c0e79c4df09344dcaa9b659f", buffer, [] { return true; }), std::nullopt);
}

}  // namespace
