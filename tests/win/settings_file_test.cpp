// launcher_settings.json on disk: replaced whole through a temporary file, or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/file_replace_win.h"
#include "data/settings.h"
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

}  // namespace
