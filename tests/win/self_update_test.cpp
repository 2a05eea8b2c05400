#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/launcher_folder.h"
#include "data/manifest.h"
#include "data/text.h"
#include "log/log.h"
#include "net/file_digest.h"
#include "test_util.h"
#include "update/self_update.h"

namespace {

namespace fs = std::filesystem;

// The two stand-in builds lie beside win_tests.exe.
fs::path FakeLauncher(const std::string& build) {
  return fs::path(LauncherFolder()) / ("fake_launcher_" + build + ".exe");
}

// A launcher folder with blanks in its name, holding the old build as the
// running executable, and the log written there for the test to read.
class SelfUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(testutil::TestServerPort().empty()) << "needs the test update server";
    ASSERT_TRUE(fs::exists(FakeLauncher("old"))) << FakeLauncher("old");
    folder_ = dir_ / "Ostrel Launcher Folder";
    fs::create_directories(folder_);
    exe_ = folder_ / "OstrelLauncher.exe";
    fs::copy_file(FakeLauncher("old"), exe_);
    Log::Init((dir_ / "launcher.log").wstring());
  }
  void TearDown() override { Log::Init(L""); }  // lets go of the log file

  // Serves `bytes` at a path of this test's own and gives its address.
  std::string Serve(const std::string& name, const std::string& bytes) {
    testutil::WriteBytes(testutil::TestServerRoot() / "self_update" / name, bytes);
    return testutil::TestServerUrl("/self_update/" + name);
  }

  bool Run(const std::string& version, const std::string& url, const std::string& md5) {
    Manifest manifest;
    manifest.launcher_version = version;
    manifest.launcher_url = url;
    manifest.launcher_md5 = md5;
    return SelfUpdate(manifest, Widen(url), Widen(md5), error_, folder_.wstring(), exe_.wstring());
  }

  std::string LogText() const { return testutil::ReadBytes(dir_ / "launcher.log"); }
  bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  testutil::TempDir dir_;
  fs::path folder_;
  fs::path exe_;
  std::string error_;
};

TEST_F(SelfUpdateTest, ScriptReplacesTheExecutableAndStartsTheNewBuild) {
  const std::string old_build = testutil::ReadBytes(exe_);
  const std::string new_build = testutil::ReadBytes(FakeLauncher("new"));
  ASSERT_NE(old_build, new_build);
  const std::string url = Serve("OstrelLauncher-1.0.1.exe", new_build);
  testutil::WriteBytes(dir_ / "new.exe", new_build);
  std::string md5 = FileMd5((dir_ / "new.exe").wstring());
  std::transform(md5.begin(), md5.end(), md5.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

  ASSERT_TRUE(Run("1.0.1", url, md5)) << error_;
  // The script waits about two seconds before the move, so this is the state
  // it starts from.
  EXPECT_EQ(testutil::ReadBytes(folder_ / "OstrelLauncher_update.exe"), new_build);
  EXPECT_EQ(testutil::ReadBytes(folder_ / "launcher_update.bat"), SelfUpdateScript());
  EXPECT_TRUE(Logged("[INFO] Self-update available: server=1.0.1 local=1.0.0\r\n"));
  EXPECT_TRUE(Logged("[INFO] Downloading update...\r\n"));
  EXPECT_TRUE(Logged("[INFO] Update downloaded, launching updater bat\r\n"));

  const fs::path marker = folder_ / "fake_launcher_ran.txt";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(fs::exists(marker)) << "the new build was not started within 30 s";
  // The new build ran from the launcher's own path, not from the download.
  EXPECT_EQ(testutil::ReadBytes(marker), "new\r\n" + NarrowLowBytes(exe_.wstring()));
  EXPECT_EQ(testutil::ReadBytes(exe_), new_build);
  EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe"));
}

TEST_F(SelfUpdateTest, DownloadNotMatchingTheDigestIsDeletedAndNeverRun) {
  const std::string old_build = testutil::ReadBytes(exe_);
  const std::string url = Serve("tampered.exe", testutil::PatternBytes(70000, 7));

  EXPECT_FALSE(Run("1.0.1", url, "0123456789abcdef0123456789abcdef"));
  EXPECT_NE(error_.find("does not match launcher_md5 0123456789abcdef0123456789abcdef"), std::string::npos) << error_;
  EXPECT_TRUE(Logged("[ERROR] " + error_ + "\r\n")) << LogText();
  EXPECT_FALSE(Logged("launching updater bat"));
  EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe"));
  EXPECT_FALSE(fs::exists(folder_ / "launcher_update.bat"));
  EXPECT_EQ(testutil::ReadBytes(exe_), old_build);
}

TEST_F(SelfUpdateTest, FailedDownloadIsLoggedAndStartsNothing) {
  EXPECT_FALSE(Run("1.0.1", testutil::TestServerUrl("/self_update/missing.exe"), ""));
  EXPECT_EQ(error_, "Self-update download failed: HTTP 404");
  EXPECT_TRUE(Logged("[ERROR] Self-update download failed: HTTP 404\r\n")) << LogText();
  EXPECT_FALSE(fs::exists(folder_ / "launcher_update.bat"));
}

TEST_F(SelfUpdateTest, NoUpdateWhenNotNewerOrNoAddress) {
  const std::string url = Serve("same.exe", testutil::ReadBytes(FakeLauncher("new")));
  for (const char* version : {"1.0.0", "0.9.9", "2.0", ""}) {
    EXPECT_FALSE(Run(version, url, "")) << version;
  }
  EXPECT_FALSE(Run("1.0.1", "", ""));
  EXPECT_TRUE(error_.empty()) << error_;
  EXPECT_EQ(LogText(), "");
  EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe"));
}

}  // namespace
