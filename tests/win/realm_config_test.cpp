#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "game/realm_config.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

struct HandleCloser {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Wine renames over a read-only file the way Linux does; Windows refuses.
bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// What the move itself reports when tried again: the error text must carry
// exactly this code.
std::string MoveErrorText(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.wstring().c_str(), to.wstring().c_str(), MOVEFILE_REPLACE_EXISTING)) return "moved";
  return "MoveFileEx failed: " + std::to_string(GetLastError());
}

const std::string kPlayerFile =
    "SET gxResolution \"1024x768\"\r\n"
    "SET realmList \"elsewhere.example\"\r\n"
    "SET SoundVolume \"0.4\"\r\n";

TEST(WriteRealmConfig, CreatesFolderAndFileWhenNoneExist) {
  testutil::TempDir client;
  std::string error;
  ASSERT_TRUE(WriteRealmConfig(client.wide(), error)) << error;
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(testutil::ReadBytes(client / "WTF" / "Config.wtf"), RewriteRealmConfig(""));
  EXPECT_FALSE(fs::exists(client / "WTF" / "Config.wtf.tmp"));
}

TEST(WriteRealmConfig, ReplacesThePlayersFileAndOverwritesALeftOverTemporary) {
  testutil::TempDir client;
  testutil::WriteBytes(client / "WTF" / "Config.wtf", kPlayerFile);
  testutil::WriteBytes(client / "WTF" / "Config.wtf.tmp", std::string(5000, 'x'));
  std::string error;
  ASSERT_TRUE(WriteRealmConfig(client.wide(), error)) << error;
  const std::string written = testutil::ReadBytes(client / "WTF" / "Config.wtf");
  EXPECT_EQ(written, RewriteRealmConfig(kPlayerFile));
  EXPECT_EQ(written.find("elsewhere"), std::string::npos);
  EXPECT_EQ(written.rfind("SET gxResolution \"1024x768\"\r\nSET SoundVolume \"0.4\"\r\n", 0), 0u);
  EXPECT_FALSE(fs::exists(client / "WTF" / "Config.wtf.tmp"));

  ASSERT_TRUE(WriteRealmConfig(client.wide(), error)) << error;
  EXPECT_EQ(testutil::ReadBytes(client / "WTF" / "Config.wtf"), written);
}

TEST(WriteRealmConfig, ReadOnlyConfigKeepsItsContent) {
  testutil::TempDir client;
  const fs::path config = client / "WTF" / "Config.wtf";
  testutil::WriteBytes(config, kPlayerFile);
  ASSERT_TRUE(SetFileAttributesW(config.wstring().c_str(), FILE_ATTRIBUTE_READONLY));
  if (RunningUnderWine()) GTEST_SKIP() << "Wine replaces read-only files on a move";

  std::string error;
  EXPECT_FALSE(WriteRealmConfig(client.wide(), error));
  EXPECT_EQ(testutil::ReadBytes(config), kPlayerFile);
  // The new content waits in the temporary file; nothing else was touched.
  EXPECT_EQ(testutil::ReadBytes(client / "WTF" / "Config.wtf.tmp"), RewriteRealmConfig(kPlayerFile));
  EXPECT_EQ(error, MoveErrorText(client / "WTF" / "Config.wtf.tmp", config));

  SetFileAttributesW(config.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WriteRealmConfig, ConfigHeldOpenByTheClientKeepsItsContent) {
  testutil::TempDir client;
  const fs::path config = client / "WTF" / "Config.wtf";
  testutil::WriteBytes(config, kPlayerFile);
  {
    // A running client holds the file open for writing without sharing it.
    UniqueHandle held(CreateFileW(config.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
    std::string error;
    EXPECT_FALSE(WriteRealmConfig(client.wide(), error));
    // Unreadable: rewriting it from nothing would lose the player's other settings.
    EXPECT_EQ(error, "Cannot read config");
  }
  EXPECT_EQ(testutil::ReadBytes(config), kPlayerFile);
  EXPECT_FALSE(fs::exists(client / "WTF" / "Config.wtf.tmp"));
}

TEST(WriteRealmConfig, TemporaryThatCannotBeCreatedLeavesConfigAlone) {
  testutil::TempDir client;
  const fs::path config = client / "WTF" / "Config.wtf";
  testutil::WriteBytes(config, kPlayerFile);
  fs::create_directories(client / "WTF" / "Config.wtf.tmp");  // a folder where the file should go

  std::string error;
  EXPECT_FALSE(WriteRealmConfig(client.wide(), error));
  EXPECT_EQ(error, "Cannot write temp config");
  EXPECT_EQ(testutil::ReadBytes(config), kPlayerFile);

  // A client folder whose parent does not exist: the WTF folder cannot be made.
  error.clear();
  EXPECT_FALSE(WriteRealmConfig((client / "missing" / "client").wstring(), error));
  EXPECT_EQ(error, "Cannot write temp config");
}

}  // namespace
