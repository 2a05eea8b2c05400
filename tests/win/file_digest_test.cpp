// FileMd5 and CheckFile on real files.
#include "net/file_digest.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "test_util.h"

namespace {

using testutil::WriteBytes;

constexpr size_t kMiB = 1048576;

// Bytes whose digests were computed independently (Python's hashlib); they differ
// from byte to byte so a dropped or repeated piece changes the digest.
std::string BoundaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + (i >> 8) + (i >> 16) * 7) & 0xFF);
  return bytes;
}

std::string ErrorOf(const std::wstring& path) {
  try {
    FileMd5(path);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

// Holds a file open without sharing it.
class ExclusiveOpen {
 public:
  explicit ExclusiveOpen(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ExclusiveOpen() {
    if (valid()) CloseHandle(handle_);
  }
  ExclusiveOpen(const ExclusiveOpen&) = delete;
  ExclusiveOpen& operator=(const ExclusiveOpen&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

class FileDigestTest : public ::testing::Test {
 protected:
  std::wstring Write(const std::string& name, const std::string& bytes) {
    WriteBytes(dir_ / name, bytes);
    return (dir_ / name).wstring();
  }
  testutil::TempDir dir_;
};

TEST_F(FileDigestTest, Rfc1321TestSuite) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  int n = 0;
  for (const auto& [input, digest] : cases) {
    EXPECT_EQ(FileMd5(Write("rfc" + std::to_string(n++), input)), digest) << '"' << input << '"';
  }
}

TEST_F(FileDigestTest, SizesAroundTheReadPiece) {
  EXPECT_EQ(FileMd5(Write("below", BoundaryBytes(kMiB - 1))), "510fe6a6a47926454323022e72e2e871");
  EXPECT_EQ(FileMd5(Write("exact", BoundaryBytes(kMiB))), "2b1f9be17cb0684ee87980f394848140");
  EXPECT_EQ(FileMd5(Write("above", BoundaryBytes(kMiB + 1))), "9e45cee2c0e79c4df09344dcaa9b659f");
}

TEST_F(FileDigestTest, UnreadablePathsThrow) {
  EXPECT_EQ(ErrorOf(dir_.wide()), "Cannot open file for MD5");
  EXPECT_EQ(ErrorOf((dir_ / "absent").wstring()), "Cannot open file for MD5");
}

TEST_F(FileDigestTest, CheckFileResults) {
  const std::wstring abc = Write("abc", "abc");
  const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";

  EXPECT_EQ(CheckFile((dir_ / "absent").wstring(), 3, md5), FileMissing);
  EXPECT_EQ(CheckFile(abc, 0, ""), FileOk);
  EXPECT_EQ(CheckFile(abc, 3, md5), FileOk);
  EXPECT_EQ(CheckFile(abc, -5, md5), FileOk);
  EXPECT_EQ(CheckFile(abc, 4, md5), FileSizeMismatch);
  EXPECT_EQ(CheckFile(abc, 3, "900150983cd24fb0d6963f7d28e17f73"), FileMd5Mismatch);
  EXPECT_EQ(CheckFile(abc, 3, md5.substr(1)), FileMd5Mismatch);
  // Manifests written with upper-case hex name the same digest.
  EXPECT_EQ(CheckFile(abc, 3, "900150983CD24FB0D6963F7D28E17F72"), FileOk);
}

TEST_F(FileDigestTest, CheckFileHashesOnlyWhenSizePasses) {
  const std::wstring path = Write("locked", std::string(99, 'z'));
  // Nobody else may read the file while this handle is open, so hashing it would throw.
  const ExclusiveOpen lock(path);
  ASSERT_TRUE(lock.valid());
  EXPECT_EQ(CheckFile(path, 100, "0123456789abcdef0123456789abcdef"), FileSizeMismatch);
  EXPECT_EQ(CheckFile(path, 0, ""), FileOk);
  EXPECT_EQ(ErrorOf(path), "Cannot open file for MD5");
}

TEST_F(FileDigestTest, CheckFileOnFolderWithDigestThrows) {
  try {
    CheckFile(dir_.wide(), 0, "d41d8cd98f00b204e9800998ecf8427e");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot open file for MD5");
  }
}

}  // namespace
