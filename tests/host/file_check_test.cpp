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

// Presence, then size, then digests (MD5 first); the file is hashed once,
// for the digests that decide, and only when they decide.
TEST(FileCheck, FirstFailingTestDecides) {
  const std::string sha = std::string(60, 'a') + "BCDE";  // the file's SHA-256, as the stub below gives it
  struct Case {
    bool present;
    int64_t size, expected_size;
    std::string expected_md5, expected_sha256;
    FileCheckResult result;
    const char* asked;  // which digests were asked for: "", "m", "s" or "ms"
  };
  for (const Case& c :
       {Case{false, 0, 3, kMd5, sha, FileMissing, ""}, Case{true, 99, 100, kMd5, sha, FileSizeMismatch, ""},
        Case{true, 3, 3, std::string(32, '0'), "", FileMd5Mismatch, "m"},
        Case{true, 3, 3, "900150983CD24FB0D6963F7D28E17F72", "", FileOk, "m"}, Case{true, 12345, 0, "", "", FileOk, ""},
        Case{true, 12345, -1, "", "", FileOk, ""}, Case{true, 12345, 0, kMd5, "", FileOk, "m"},
        Case{true, 3, 3, "", sha, FileOk, "s"}, Case{true, 3, 3, kMd5, std::string(64, 'a'), FileSha256Mismatch, "ms"},
        Case{true, 3, 3, kMd5, sha.substr(1), FileSha256Mismatch, "ms"}}) {
    std::string asked;
    int calls = 0;
    const auto digest = [&](bool md5, bool sha256) {
      ++calls;
      asked = std::string(md5 ? "m" : "") + (sha256 ? "s" : "");
      return FileDigests{kMd5, std::string(60, 'a') + "bcde"};
    };
    const std::string context =
        std::to_string(c.size) + "/" + std::to_string(c.expected_size) + " " + c.expected_md5 + " " + c.expected_sha256;
    EXPECT_EQ(DecideFileCheck(c.present, c.size, c.expected_size, c.expected_md5, c.expected_sha256, digest), c.result)
        << context;
    EXPECT_EQ(asked, c.asked) << context;
    EXPECT_LE(calls, 1) << context;
  }
}

}  // namespace
