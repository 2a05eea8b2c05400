#include "net/file_check.h"

#include <gtest/gtest.h>

namespace {

TEST(FileCheck, HexDigestIsLowerCaseHighNibbleFirst) {
  const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff, 0x10};
  EXPECT_EQ(HexDigest(bytes, sizeof bytes), "000fa5ff10");
  EXPECT_EQ(HexDigest(bytes, 0), "");
}

TEST(FileCheck, SameMd5IgnoresLetterCaseOnly) {
  const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";
  EXPECT_TRUE(SameMd5(md5, md5));
  EXPECT_TRUE(SameMd5(md5, "900150983CD24FB0D6963F7D28E17F72"));
  EXPECT_TRUE(SameMd5("ABCDEF0123456789abcdef0123456789", "abcdef0123456789ABCDEF0123456789"));
  EXPECT_FALSE(SameMd5(md5, "900150983cd24fb0d6963f7d28e17f73"));
  EXPECT_FALSE(SameMd5(md5, md5.substr(0, 31)));
  EXPECT_FALSE(SameMd5(md5, md5 + "0"));
  EXPECT_FALSE(SameMd5(md5, " " + md5.substr(1)));
  EXPECT_FALSE(SameMd5("", ""));
  // Not hex at all: letters beyond f in either case never match, even themselves.
  const std::string not_hex(32, 'g');
  EXPECT_FALSE(SameMd5(not_hex, not_hex));
  EXPECT_FALSE(SameMd5(std::string(32, 'G'), not_hex));
}

struct CountingMd5 {
  std::string digest;
  int calls = 0;
  std::function<std::string()> Fn() {
    return [this] {
      ++calls;
      return digest;
    };
  }
};

TEST(FileCheck, FirstFailingTestDecides) {
  CountingMd5 md5{"900150983cd24fb0d6963f7d28e17f72"};
  EXPECT_EQ(DecideFileCheck(false, 0, 3, md5.digest, md5.Fn()), FileMissing);
  EXPECT_EQ(DecideFileCheck(true, 99, 100, md5.digest, md5.Fn()), FileSizeMismatch);
  EXPECT_EQ(md5.calls, 0);

  EXPECT_EQ(DecideFileCheck(true, 3, 3, "00000000000000000000000000000000", md5.Fn()), FileMd5Mismatch);
  EXPECT_EQ(DecideFileCheck(true, 3, 3, "900150983CD24FB0D6963F7D28E17F72", md5.Fn()), FileOk);
  EXPECT_EQ(md5.calls, 2);
}

TEST(FileCheck, UnaskedTestsAreSkipped) {
  CountingMd5 md5{"900150983cd24fb0d6963f7d28e17f72"};
  EXPECT_EQ(DecideFileCheck(true, 12345, 0, "", md5.Fn()), FileOk);
  EXPECT_EQ(DecideFileCheck(true, 12345, -1, "", md5.Fn()), FileOk);
  EXPECT_EQ(md5.calls, 0);
  EXPECT_EQ(DecideFileCheck(true, 12345, 0, md5.digest, md5.Fn()), FileOk);
  EXPECT_EQ(md5.calls, 1);
}

}  // namespace
