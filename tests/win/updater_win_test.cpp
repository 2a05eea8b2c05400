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

  fs::path site;
  testutil::TempDir client;
};

// A partial file is resumed with a Range request; a wrong digest or size is fetched whole;
// a reply without a length shows the entry's size; a second run only verifies.
TEST_F(UpdaterOnDisk, DownloadsResumesAndReplacesFiles) {
  const std::string a = testutil::PatternBytes(300000, 1), b = testutil::PatternBytes(5000, 2),
                    c = testutil::PatternBytes(7000, 3);
  Manifest m;
  m.game_files = {Serve("Data/a.MPQ", a), Serve("Data/enUS/b.MPQ", b), Serve("c.bin", c, "?no_length=1")};
  testutil::WriteBytes(client / "Data/a.MPQ", a.substr(0, 1000));
  testutil::WriteBytes(client / "Data/enUS/b.MPQ", std::string(5000, 'x'));
  testutil::WriteBytes(client / "c.bin", c + "trailing");

  const auto reports = RunOn(m);
  ASSERT_EQ(reports.back().phase, UpdaterPhase::Done) << reports.back().error;
  EXPECT_EQ(testutil::ReadBytes(client / "Data/a.MPQ"), a);
  EXPECT_EQ(testutil::ReadBytes(client / "Data/enUS/b.MPQ"), b);
  EXPECT_EQ(testutil::ReadBytes(client / "c.bin"), c);
  for (const auto& r : reports) {
    if (r.phase == UpdaterPhase::Downloading && r.file == "c.bin") {
      EXPECT_EQ(r.bytes_total, 7000);
    }
  }
  const std::string requests = testutil::ReadBytes(testutil::TestServerRoot() / "_requests.log");
  EXPECT_NE(requests.find("a.MPQ bytes=1000-"), std::string::npos) << requests;
  EXPECT_EQ(requests.find("b.MPQ bytes="), std::string::npos);
  EXPECT_EQ(requests.find("c.bin?no_length=1 bytes="), std::string::npos);

  for (const auto& r : RunOn(m)) EXPECT_NE(r.phase, UpdaterPhase::Downloading);
}

// A file the running game holds open without sharing ends the run before later entries.
TEST_F(UpdaterOnDisk, LockedFileEndsTheRunWithCannotOpen) {
  const std::string data = testutil::PatternBytes(4000, 5);
  Manifest m;
  m.game_files = {Serve("locked.MPQ", data), Serve("later.bin", "later")};
  testutil::WriteBytes(client / "locked.MPQ", data);
  HANDLE lock = CreateFileW((client / "locked.MPQ").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const auto reports = RunOn(m);
  CloseHandle(lock);
  EXPECT_EQ(reports.back().error, "Cannot open file for MD5");
  EXPECT_FALSE(fs::exists(client / "later.bin"));
}

}  // namespace
