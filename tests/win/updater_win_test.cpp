// An update run with the real file system, WinHTTP and BCrypt against the test update
// server. (Resume, replacement and unpacking on disk: the e2e runs against the demo site
// and nginx.)
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "net/file_digest.h"
#include "test_util.h"
#include "update/updater.h"

namespace {

// A file the running game holds open without sharing ends the run before later entries.
TEST(UpdaterOnDisk, LockedFileEndsTheRunWithCannotOpen) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client;
  Manifest m;
  const std::string data = testutil::PatternBytes(4000, 5);
  for (const std::string name : {"locked.MPQ", "later.bin"}) {
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    m.game_files.push_back({name, 4000, FileMd5((testutil::TestServerRoot() / name).wstring()),
                            testutil::TestServerUrl("/" + name)});
  }
  testutil::WriteBytes(client / "locked.MPQ", data);
  HANDLE lock = CreateFileW((client / "locked.MPQ").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::string error = "no report";
  std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend())->Run(m, [&](const UpdaterProgress& p) {
    error = p.error;
  });
  CloseHandle(lock);
  EXPECT_EQ(error, "Cannot open file for MD5");
  EXPECT_FALSE(std::filesystem::exists(client / "later.bin"));
}

}  // namespace
