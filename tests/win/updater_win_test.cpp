// Update runs with the real file system, WinHTTP, BCrypt and archive code,
// against the test update server.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/text.h"
#include "net/file_digest.h"
#include "test_util.h"
#include "update/updater.h"

namespace {

namespace fs = std::filesystem;

struct ServedFile {
  GameFile entry;
  std::string content;
};

class UpdaterOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
    site = testutil::TestServerRoot() / ("updater-" + std::to_string(GetTickCount64()));
    fs::create_directories(site);
  }

  // Puts `content` on the server and makes a manifest entry for it.
  GameFile Serve(const std::string& path, const std::string& content, const std::string& query = "") {
    const fs::path file = site / fs::path(path).filename();
    testutil::WriteBytes(file, content);
    GameFile entry;
    entry.path = path;
    entry.size = static_cast<std::int64_t>(content.size());
    entry.md5 = FileMd5(file.wstring());
    entry.cdn_url = testutil::TestServerUrl("/" + site.filename().string() + "/" + file.filename().string() + query);
    return entry;
  }

  std::vector<UpdaterProgress> RunOn(const Manifest& manifest) {
    std::vector<UpdaterProgress> reports;
    auto updater = std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend());
    updater->Run(manifest, [&](const UpdaterProgress& p) { reports.push_back(p); });
    return reports;
  }

  std::string RequestLog() { return testutil::ReadBytes(testutil::TestServerRoot() / "_requests.log"); }

  fs::path site;
  testutil::TempDir client;
};

TEST_F(UpdaterOnDisk, DownloadsResumesAndReplacesFiles) {
  const std::string a = testutil::PatternBytes(300000, 1), b = testutil::PatternBytes(5000, 2),
                    c = testutil::PatternBytes(7000, 3);
  Manifest m;
  m.game_files = {Serve("Data/a.MPQ", a), Serve("Data/enUS/b.MPQ", b), Serve("c.bin", c)};
  testutil::WriteBytes(client / "Data/a.MPQ", a.substr(0, 1000));            // partial: resumed
  testutil::WriteBytes(client / "Data/enUS/b.MPQ", std::string(5000, 'x'));  // right size, wrong digest
  testutil::WriteBytes(client / "c.bin", c + "trailing");                    // too large

  const auto reports = RunOn(m);
  ASSERT_EQ(reports.back().phase, UpdaterPhase::Done) << reports.back().error;
  EXPECT_EQ(testutil::ReadBytes(client / "Data/a.MPQ"), a);
  EXPECT_EQ(testutil::ReadBytes(client / "Data/enUS/b.MPQ"), b);
  EXPECT_EQ(testutil::ReadBytes(client / "c.bin"), c);
  const std::string requests = RequestLog();
  EXPECT_NE(requests.find("a.MPQ bytes=1000-"), std::string::npos) << requests;
  EXPECT_EQ(requests.find("b.MPQ bytes="), std::string::npos);
  EXPECT_EQ(requests.find("c.bin bytes="), std::string::npos);

  // A second run finds everything in place and downloads nothing.
  const auto again = RunOn(m);
  for (const auto& r : again) EXPECT_NE(r.phase, UpdaterPhase::Downloading);
  EXPECT_EQ(again.back().phase, UpdaterPhase::Done);
}

TEST_F(UpdaterOnDisk, UnknownLengthShowsTheEntrySize) {
  Manifest m;
  m.game_files = {Serve("nolen.bin", testutil::PatternBytes(20000, 4), "?no_length=1")};
  const auto reports = RunOn(m);
  ASSERT_EQ(reports.back().phase, UpdaterPhase::Done) << reports.back().error;
  for (const auto& r : reports) {
    if (r.phase == UpdaterPhase::Downloading) {
      EXPECT_EQ(r.bytes_total, 20000);
    }
  }
}

TEST_F(UpdaterOnDisk, LockedFileEndsTheRunWithCannotOpen) {
  const std::string data = testutil::PatternBytes(4000, 5);
  Manifest m;
  m.game_files = {Serve("locked.MPQ", data), Serve("later.bin", "later")};
  testutil::WriteBytes(client / "locked.MPQ", data);
  // Held open without sharing, as a running game would.
  HANDLE lock = CreateFileW((client / "locked.MPQ").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const auto reports = RunOn(m);
  CloseHandle(lock);
  EXPECT_EQ(reports.back().phase, UpdaterPhase::Error);
  EXPECT_EQ(reports.back().error, "Cannot open file for MD5");
  EXPECT_FALSE(fs::exists(client / "later.bin"));
}

TEST_F(UpdaterOnDisk, ArchivesUnpackOnceAndUnsafePathsWriteNothing) {
  const std::string zip_bytes = testutil::ReadBytes(testutil::TestDataPath("zip/deflated.zip"));
  ASSERT_FALSE(zip_bytes.empty()) << "test archive missing";
  Manifest m;
  m.game_files = {Serve("Interface/pack.zip", zip_bytes)};
  m.game_files[0].extract_to = "Interface/AddOns";
  auto reports = RunOn(m);
  ASSERT_EQ(reports.back().phase, UpdaterPhase::Done) << reports.back().error;
  EXPECT_FALSE(fs::is_empty(client / "Interface/AddOns"));
  fs::remove_all(client / "Interface/AddOns");
  reports = RunOn(m);  // archive present and matching: not unpacked again
  EXPECT_FALSE(fs::exists(client / "Interface/AddOns"));

  const fs::path outside = client.path().parent_path() / ("escaped-" + client.path().filename().string());
  Manifest evil;
  evil.game_files = {Serve("../" + outside.filename().string(), "payload")};
  reports = RunOn(evil);
  EXPECT_EQ(reports.back().phase, UpdaterPhase::Error);
  EXPECT_EQ(reports.back().error, "Unsafe path in manifest: ../" + outside.filename().string());
  EXPECT_FALSE(fs::exists(outside));
}

}  // namespace
