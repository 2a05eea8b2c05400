// WTF\Config.wtf written through a temporary file; a file that cannot be read or
// replaced is left as the player had it.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "game/realm_config.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

const std::string kPlayerFile = "SET gxResolution \"1024x768\"\r\nSET realmList \"elsewhere.example\"\r\n";

std::string Refusal(const fs::path& client) {
  std::string error;
  EXPECT_FALSE(WriteRealmConfig(client.wstring(), error));
  return error;
}

TEST(WriteRealmConfig, WritesThroughATemporaryFileOrLeavesTheConfigIntact) {
  testutil::TempDir client;
  const fs::path config = client / "WTF" / "Config.wtf", temp = client / "WTF" / "Config.wtf.tmp";
  std::string error;
  ASSERT_TRUE(WriteRealmConfig(client.wide(), error)) << error;  // no WTF folder yet
  EXPECT_EQ(testutil::ReadBytes(config), RewriteRealmConfig(""));
  testutil::WriteBytes(config, kPlayerFile);
  testutil::WriteBytes(temp, std::string(5000, 'x'));  // left over from an earlier run
  ASSERT_TRUE(WriteRealmConfig(client.wide(), error)) << error;
  EXPECT_EQ(testutil::ReadBytes(config), RewriteRealmConfig(kPlayerFile));
  EXPECT_FALSE(fs::exists(temp));

  testutil::WriteBytes(config, kPlayerFile);
  // A running client holds the file open without sharing: rewriting it from nothing
  // would lose the player's other settings.
  HANDLE held = CreateFileW(config.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Refusal(client.path()), "Cannot read config");
  CloseHandle(held);
  EXPECT_FALSE(fs::exists(temp));

  fs::create_directories(temp);  // a folder where the temporary file should go
  EXPECT_EQ(Refusal(client.path()), "Cannot write temp config");
  EXPECT_EQ(Refusal(client / "missing" / "client"), "Cannot write temp config");
  EXPECT_EQ(testutil::ReadBytes(config), kPlayerFile);
}

}  // namespace
