#include "net/file_check.h"

#include <gtest/gtest.h>

namespace {

const std::string kMd5 = "900150983cd24fb0d6963f7d28e17f72";

TEST(FileCheck, HexDigestAndCaseInsensitiveComparison) {
  const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff, 0x10};
  EXPECT_EQ(HexDigest(bytes, sizeof bytes), "000fa5ff10");

  // Manifests may write the digest in upper case; nothing else may differ.
  EXPECT_TRUE(SameMd5(kMd5, "900150983CD24FB0D6963F7D28E17F72"));
  for (const std::string& other :
       {std::string("900150983cd24fb0d6963f7d28e17f73"), kMd5.substr(0, 31), kMd5 + "0", " " + kMd5.substr(1)}) {
    EXPECT_FALSE(SameMd5(kMd5, other)) << other;
  }
  EXPECT_FALSE(SameMd5("", ""));
  EXPECT_FALSE(SameMd5(std::string(32, 'g'), std::string(32, 'G')));  // not hex, even ignoring case
}

// Presence, then size, then digest; the file is hashed only when the digest decides.
TEST(FileCheck, FirstFailingTestDecides) {
  struct Case {
    bool present;
    int64_t size, expected_size;
    std::string expected_md5;
    FileCheckResult result;
    bool hashed;
  };
  for (const Case& c :
       {Case{false, 0, 3, kMd5, FileMissing, false}, Case{true, 99, 100, kMd5, FileSizeMismatch, false},
        Case{true, 3, 3, std::string(32, '0'), FileMd5Mismatch, true},
        Case{true, 3, 3, "900150983CD24FB0D6963F7D28E17F72", FileOk, true}, Case{true, 12345, 0, "", FileOk, false},
        Case{true, 12345, -1, "", FileOk, false}, Case{true, 12345, 0, kMd5, FileOk, true}}) {
    int calls = 0;
    const auto md5 = [&calls] {
      ++calls;
      return kMd5;
    };
    EXPECT_EQ(DecideFileCheck(c.present, c.size, c.expected_size, c.expected_md5, md5), c.result)
        << c.size << "/" << c.expected_size << " " << c.expected_md5;
    EXPECT_EQ(calls, c.hashed ? 1 : 0) << c.size << "/" << c.expected_size << " " << c.expected_md5;
  }
}

}  // namespace
