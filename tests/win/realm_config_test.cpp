#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "game/realm_config.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

struct HandleCloser {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

const std::string kPlayerFile = "SET gxResolution \"1024x768\"\r\nSET realmList \"elsewhere.example\"\r\n";

class WriteRealmConfigTest : public ::testing::Test {
 protected:
  // The error of a call that must fail.
  static std::string Refusal(const std::wstring& client) {
    std::string error;
    EXPECT_FALSE(WriteRealmConfig(client, error));
    return error;
  }
  testutil::TempDir client_;
  fs::path config_ = client_ / "WTF" / "Config.wtf";
  fs::path temp_ = client_ / "WTF" / "Config.wtf.tmp";
};

TEST_F(WriteRealmConfigTest, WritesThroughATemporaryFile) {
  std::string error;
  ASSERT_TRUE(WriteRealmConfig(client_.wide(), error)) << error;  // no WTF folder yet
  EXPECT_EQ(testutil::ReadBytes(config_), RewriteRealmConfig(""));

  testutil::WriteBytes(config_, kPlayerFile);
  testutil::WriteBytes(temp_, std::string(5000, 'x'));  // left over from an earlier run
  ASSERT_TRUE(WriteRealmConfig(client_.wide(), error)) << error;
  EXPECT_EQ(testutil::ReadBytes(config_), RewriteRealmConfig(kPlayerFile));
  EXPECT_FALSE(fs::exists(temp_));
}

TEST_F(WriteRealmConfigTest, ConfigHeldOpenByTheClientIsLeftIntact) {
  testutil::WriteBytes(config_, kPlayerFile);
  {
    // A running client holds the file open for writing without sharing it.
    UniqueHandle held(CreateFileW(config_.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
    // Unreadable: rewriting it from nothing would lose the player's other settings.
    EXPECT_EQ(Refusal(client_.wide()), "Cannot read config");
  }
  EXPECT_EQ(testutil::ReadBytes(config_), kPlayerFile);
  EXPECT_FALSE(fs::exists(temp_));
}

TEST_F(WriteRealmConfigTest, ReadOnlyConfigOrUnwritableTemporaryIsLeftIntact) {
  testutil::WriteBytes(config_, kPlayerFile);
  fs::create_directories(temp_);  // a folder where the temporary file should go
  EXPECT_EQ(Refusal(client_.wide()), "Cannot write temp config");
  EXPECT_EQ(testutil::ReadBytes(config_), kPlayerFile);
  // The WTF folder cannot be made under a missing parent.
  EXPECT_EQ(Refusal((client_ / "missing" / "client").wstring()), "Cannot write temp config");

  // Wine renames over a read-only file the way Linux does; Windows refuses.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll && GetProcAddress(ntdll, "wine_get_version")) GTEST_SKIP() << "Wine replaces read-only files on a move";
  fs::remove(temp_);
  ASSERT_TRUE(SetFileAttributesW(config_.wstring().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Refusal(client_.wide()).rfind("MoveFileEx failed: ", 0), 0u);
  EXPECT_EQ(testutil::ReadBytes(config_), kPlayerFile);
  SetFileAttributesW(config_.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
