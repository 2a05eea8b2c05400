#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "base/launcher_folder.h"
#include "base/text.h"
#include "data/manifest.h"
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
    Manifest manifest;  // the address and digest are passed on their own
    manifest.launcher_version = version;
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
  const std::string new_build = testutil::ReadBytes(FakeLauncher("new"));
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
  EXPECT_TRUE(Logged("[INFO] Update downloaded, launching updater bat\r\n"));

  const fs::path marker = folder_ / "fake_launcher_ran.txt";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  // Until it can be read, not just until it exists: right after the move the mover's
  // handle (with delete access) can still be open, and refuses a reader that does not
  // share delete.
  std::string ran;
  while ((ran = testutil::ReadBytes(marker)).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(ran.empty()) << "the new build was not started within 30 s";
  // The new build ran from the launcher's own path, not from the download.
  EXPECT_EQ(ran, "new\r\n" + NarrowLowBytes(exe_.wstring()));
  EXPECT_EQ(testutil::ReadBytes(exe_), new_build);
  EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe"));
}

// Neither a download whose digest differs from the manifest's nor a failed one is run;
// the reason is logged and the running build stays.
TEST_F(SelfUpdateTest, RefusedDownloadsAreLoggedAndStartNothing) {
  const std::string old_build = testutil::ReadBytes(exe_);
  const std::string tampered = Serve("tampered.exe", testutil::PatternBytes(70000, 7));
  for (const auto& [url, md5, error] : {std::make_tuple(tampered, "0123456789abcdef0123456789abcdef",
                                                        "does not match launcher_md5 0123456789abcdef0123456789abcdef"),
                                        std::make_tuple(testutil::TestServerUrl("/self_update/missing.exe"), "",
                                                        "Self-update download failed: HTTP 404")}) {
    EXPECT_FALSE(Run("1.0.1", url, md5)) << url;
    EXPECT_NE(error_.find(error), std::string::npos) << error_;
    EXPECT_TRUE(Logged("[ERROR] " + error_ + "\r\n")) << LogText();
    EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe")) << url;
  }
  EXPECT_FALSE(Logged("launching updater bat"));
  EXPECT_FALSE(fs::exists(folder_ / "launcher_update.bat"));
  EXPECT_EQ(testutil::ReadBytes(exe_), old_build);
}

// The version comparison itself is tested on the host.
TEST_F(SelfUpdateTest, NoUpdateWhenNotNewerOrNoAddress) {
  const std::string url = Serve("same.exe", testutil::ReadBytes(FakeLauncher("new")));
  EXPECT_FALSE(Run("1.0.0", url, ""));
  EXPECT_FALSE(Run("1.0.1", "", ""));
  EXPECT_TRUE(error_.empty()) << error_;
  EXPECT_EQ(LogText(), "");
  EXPECT_FALSE(fs::exists(folder_ / "OstrelLauncher_update.exe"));
}

}  // namespace
