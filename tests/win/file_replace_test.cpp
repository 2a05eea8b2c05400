// The player's files the launcher rewrites, launcher_settings.json and WTF\Config.wtf:
// replaced whole through a temporary file, or left as they were.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/file_replace_win.h"
#include "data/settings.h"
#include "game/realm_config.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FolderContent(const fs::path& folder) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

TEST(SettingsFile, SaveReplacesTheFileWholeOrNotAtAll) {
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";
  const std::vector<fs::path> only_the_settings = {"launcher_settings.json"};
  const LauncherSettings saved{L"C:\\Users\\Jos\u00E9\\Desktop\\\u30B2\u30FC\u30E0", false, true};
  ASSERT_TRUE(SaveSettings(path, {L"C:\\Old", true, false}));
  ASSERT_TRUE(SaveSettings(path, saved));  // replaces the existing file
  const std::string saved_bytes = testutil::ReadBytes(path);
  EXPECT_EQ(FolderContent(dir.path()), only_the_settings);  // no temporary left
  LauncherSettings loaded;
  LoadSettings(path, loaded);
  EXPECT_EQ(SettingsText(loaded), SettingsText(saved));

  // The disk fills up half-way through the write.
  const LauncherSettings next{L"D:\\New\\Place", true, false};
  EXPECT_FALSE(ReplaceFileContent(path, SettingsText(next), [](HANDLE file, const std::string& bytes) {
    WriteAllBytes(file, bytes.substr(0, bytes.size() / 2));
    return false;
  }));
  EXPECT_EQ(testutil::ReadBytes(path), saved_bytes);
  EXPECT_EQ(FolderContent(dir.path()), only_the_settings);

  fs::create_directory(dir / "launcher_settings.json.tmp");  // the temporary file cannot be made
  EXPECT_FALSE(SaveSettings(path, next));
  EXPECT_EQ(testutil::ReadBytes(path), saved_bytes);
  EXPECT_FALSE(SaveSettings(dir.wide() + L"\\missing\\launcher_settings.json", next));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

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
