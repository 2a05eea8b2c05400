#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
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

const std::vector<fs::path> kOnlyTheSettings = {"launcher_settings.json"};

TEST(SettingsFile, SaveReplacesTheFileWholeOrNotAtAll) {
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";
  const LauncherSettings saved{L"C:\\Users\\Jos\u00E9\\Desktop\\\u30B2\u30FC\u30E0", false, true};
  ASSERT_TRUE(SaveSettings(path, {L"C:\\Old", true, false}));
  ASSERT_TRUE(SaveSettings(path, saved));  // replaces the existing file
  const std::string saved_bytes = testutil::ReadBytes(path);
  EXPECT_EQ(saved_bytes, SettingsText(saved));
  EXPECT_EQ(FolderContent(dir.path()), kOnlyTheSettings);  // no temporary left
  LauncherSettings loaded;
  LoadSettings(path, loaded);
  EXPECT_EQ(loaded.wow_dir, saved.wow_dir);
  EXPECT_FALSE(loaded.close_on_launch);
  EXPECT_TRUE(loaded.muted);

  // The disk fills up half-way through the write.
  const LauncherSettings next{L"D:\\New\\Place", true, false};
  EXPECT_FALSE(ReplaceFileContent(path, SettingsText(next), [](HANDLE file, const std::string& bytes) {
    WriteAllBytes(file, bytes.substr(0, bytes.size() / 2));
    return false;
  }));
  EXPECT_EQ(testutil::ReadBytes(path), saved_bytes);
  EXPECT_EQ(FolderContent(dir.path()), kOnlyTheSettings);

  // The temporary file cannot even be created.
  fs::create_directory(dir / "launcher_settings.json.tmp");
  EXPECT_FALSE(SaveSettings(path, next));
  EXPECT_EQ(testutil::ReadBytes(path), saved_bytes);

  // A folder that does not exist: nothing is written anywhere.
  EXPECT_FALSE(SaveSettings(dir.wide() + L"\\missing\\launcher_settings.json", next));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(SettingsFile, LoadingWithoutAFolderLooksForTheCandidates) {
  for (const wchar_t* candidate : kClientFolderCandidates) {
    if (GetFileAttributesW(candidate) != INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "a client folder candidate exists";
  }
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";
  LauncherSettings first_start;
  LoadSettings(path, first_start);  // nothing anywhere: the first candidate all the same, and no file written
  EXPECT_EQ(first_start.wow_dir, kClientFolderCandidates[0]);
  EXPECT_TRUE(FolderContent(dir.path()).empty());

  // The last candidate is there ("C:\Program Files" itself always exists).
  struct RemoveOnExit {
    fs::path path;
    ~RemoveOnExit() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  };
  std::error_code error;
  if (!fs::create_directory(kClientFolderCandidates[3], error)) GTEST_SKIP() << "cannot create candidate folders";
  const RemoveOnExit remove{kClientFolderCandidates[3]};
  LauncherSettings found;
  LoadSettings(path, found);
  EXPECT_EQ(found.wow_dir, kClientFolderCandidates[3]);

  testutil::WriteBytes(path, "{\"wow_dir\":\"E:\\\\Elsewhere\"}");  // a stored folder is kept, present or not
  LauncherSettings stored;
  LoadSettings(path, stored);
  EXPECT_EQ(stored.wow_dir, L"E:\\Elsewhere");
}

}  // namespace
