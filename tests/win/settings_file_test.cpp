#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "data/file_replace_win.h"
#include "data/settings.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

LauncherSettings Settings(const std::wstring& folder, bool close_on_launch, bool muted) {
  LauncherSettings s;
  s.wow_dir = folder;
  s.close_on_launch = close_on_launch;
  s.muted = muted;
  return s;
}

std::vector<fs::path> FolderContent(const fs::path& folder) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

TEST(SettingsFile, SavesAndLoadsAllThree) {
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";
  ASSERT_TRUE(SaveSettings(path, Settings(L"C:\\Games\\WoW", true, false)));
  EXPECT_EQ(testutil::ReadBytes(path), "{\"wow_dir\":\"C:\\\\Games\\\\WoW\",\"close_on_launch\":true,\"muted\":false}");

  const LauncherSettings saved = Settings(L"C:\\Users\\Jos\u00E9\\Desktop\\\u30B2\u30FC\u30E0", false, true);
  ASSERT_TRUE(SaveSettings(path, saved));  // replaces the existing file
  const std::string first = testutil::ReadBytes(path);
  ASSERT_TRUE(SaveSettings(path, saved));
  EXPECT_EQ(testutil::ReadBytes(path), first);                                            // same values, same bytes
  EXPECT_EQ(FolderContent(dir.path()), std::vector<fs::path>{"launcher_settings.json"});  // no temporary left

  LauncherSettings loaded;
  LoadSettings(path, loaded);
  EXPECT_EQ(loaded.wow_dir, saved.wow_dir);
  EXPECT_FALSE(loaded.close_on_launch);
  EXPECT_TRUE(loaded.muted);
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileWhole) {
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";
  ASSERT_TRUE(SaveSettings(path, Settings(L"C:\\Old", true, false)));
  const std::string old_bytes = testutil::ReadBytes(path);

  // The disk fills up half-way through the write.
  const std::string text = SettingsText(Settings(L"D:\\New\\Place", false, true));
  const bool replaced = ReplaceFileContent(path, text, [](HANDLE file, const std::string& bytes) {
    WriteAllBytes(file, bytes.substr(0, bytes.size() / 2));
    return false;
  });
  EXPECT_FALSE(replaced);
  EXPECT_EQ(testutil::ReadBytes(path), old_bytes);
  EXPECT_EQ(FolderContent(dir.path()), std::vector<fs::path>{"launcher_settings.json"});

  // The temporary file cannot even be created.
  fs::create_directory(dir / "launcher_settings.json.tmp");
  EXPECT_FALSE(SaveSettings(path, Settings(L"D:\\New", false, true)));
  EXPECT_EQ(testutil::ReadBytes(path), old_bytes);

  // A folder that does not exist: nothing is written anywhere.
  EXPECT_FALSE(SaveSettings(dir.wide() + L"\\missing\\launcher_settings.json", Settings(L"D:\\New", false, true)));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

// Creates a candidate folder (or file) for the length of a test and removes
// what it created, down to the first folder that was already there.
class ScopedCandidate {
 public:
  ScopedCandidate(const fs::path& path, bool as_file) {
    fs::path existing = path.parent_path();
    while (!existing.empty() && !fs::exists(existing)) {
      top_ = existing;
      existing = existing.parent_path();
    }
    std::error_code error;
    fs::create_directories(as_file ? path.parent_path() : path, error);
    if (as_file) testutil::WriteBytes(path, "not a folder");
    if (top_.empty()) top_ = path;
    ok_ = fs::exists(path);
  }
  ~ScopedCandidate() {
    std::error_code ignored;
    fs::remove_all(top_, ignored);
  }
  ScopedCandidate(const ScopedCandidate&) = delete;
  ScopedCandidate& operator=(const ScopedCandidate&) = delete;
  bool ok() const { return ok_; }

 private:
  fs::path top_;
  bool ok_ = false;
};

TEST(SettingsFile, LoadingWithoutAFolderLooksForTheCandidates) {
  for (const wchar_t* candidate : kClientFolderCandidates) {
    if (GetFileAttributesW(candidate) != INVALID_FILE_ATTRIBUTES)
      GTEST_SKIP() << "a client folder candidate exists on this machine";
  }
  testutil::TempDir dir;
  const std::wstring path = dir.wide() + L"\\launcher_settings.json";

  // Nothing anywhere: the first candidate all the same, the defaults, and no file written.
  LauncherSettings first_start;
  LoadSettings(path, first_start);
  EXPECT_EQ(first_start.wow_dir, L"C:\\Users\\Owner\\Desktop\\World of Warcraft 3.3.5");
  EXPECT_TRUE(first_start.close_on_launch);
  EXPECT_FALSE(first_start.muted);
  EXPECT_TRUE(FolderContent(dir.path()).empty());

  const ScopedCandidate program_files(L"C:\\Program Files\\World of Warcraft", false);
  if (!program_files.ok()) GTEST_SKIP() << "cannot create candidate folders here";
  LauncherSettings found;
  LoadSettings(path, found);
  EXPECT_EQ(found.wow_dir, L"C:\\Program Files\\World of Warcraft");

  {
    // An earlier candidate wins, and any kind of entry counts.
    const ScopedCandidate desktop(L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a", true);
    ASSERT_TRUE(desktop.ok());
    LauncherSettings earlier;
    LoadSettings(path, earlier);
    EXPECT_EQ(earlier.wow_dir, L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a");
  }
  EXPECT_FALSE(fs::exists(L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a"));  // cleaned up

  // A stored folder is kept, present or not; an empty one is looked for.
  testutil::WriteBytes(path, "{\"wow_dir\":\"E:\\\\Elsewhere\",\"close_on_launch\":false}");
  LauncherSettings stored;
  LoadSettings(path, stored);
  EXPECT_EQ(stored.wow_dir, L"E:\\Elsewhere");
  EXPECT_FALSE(stored.close_on_launch);
  testutil::WriteBytes(path, "{\"wow_dir\":\"\",\"muted\":true}");
  LauncherSettings empty_folder;
  LoadSettings(path, empty_folder);
  EXPECT_EQ(empty_folder.wow_dir, L"C:\\Program Files\\World of Warcraft");
  EXPECT_TRUE(empty_folder.muted);
}

}  // namespace
