// File digests (BCrypt) and an update run with the real file system and WinHTTP against
// the test update server. (Resume, replacement and unpacking on disk: the e2e runs against
// the demo site and nginx.)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "digest_vectors.h"
#include "log/log.h"
#include "net/file_digest.h"
#include "net/stream_digests.h"
#include "test_util.h"
#include "update/updater.h"
#include "update/updater_backend.h"

namespace {

// BCrypt's MD5 and SHA-256 on real files. (What a check makes of them: tests/host.)
TEST(FileDigest, KnownDigests) {
  testutil::TempDir dir;
  const std::wstring path = (dir / "file").wstring();
  for (const auto& v : testutil::DigestVectors()) {
    testutil::WriteBytes(path, v.input);
    const FileDigests both = DigestFile(path, true, true);
    EXPECT_EQ(both.md5 + " " + both.sha256, v.md5 + " " + v.sha256) << v.input.size();
  }
  EXPECT_THROW(FileMd5((dir / "absent").wstring()), std::runtime_error);
}

// A stop asked between pieces abandons the digest; the caller's buffer is the one read through.
TEST(FileDigest, StopBetweenPieces) {
  testutil::TempDir dir;
  const std::wstring path = (dir / "file").wstring();
  testutil::WriteBytes(path, testutil::BoundaryBytes(testutil::kMiB + 1));
  DigestBuffer buffer;
  int asked = 0;
  EXPECT_FALSE(DigestFile(path, true, true, buffer, [&] { return ++asked > 1; }));  // yes after the first piece
  EXPECT_EQ(buffer.size(), kDigestPieceBytes);
  EXPECT_EQ(CheckFile(path, testutil::kMiB + 1, "9e45cee2c0e79c4df09344dcaa9b659f", "", buffer, [] { return true; }),
            std::nullopt);
}

// An entry for a file the test server holds under `name`, fetched with `query`.
GameFile ServedEntry(const std::string& name, std::int64_t size, const std::string& query = "") {
  GameFile file;
  file.path = name;
  file.size = size;
  file.md5 = FileMd5((testutil::TestServerRoot() / name).wstring());
  file.cdn_url = testutil::TestServerUrl("/" + name + query);
  return file;
}

// A file the running game holds open without sharing ends the run before later entries.
TEST(UpdaterOnDisk, LockedFileEndsTheRunWithCannotOpen) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client;
  Manifest m;
  const std::string data = testutil::PatternBytes(4000, 5);
  for (const std::string name : {"locked.MPQ", "later.bin"}) {
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    m.game_files.push_back(ServedEntry(name, 4000));
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

// Three files at once, one stalled and one cut by the server on their first request: each
// is asked for again from the bytes it kept, and the run ends with every file whole.
TEST(UpdaterOnDisk, StalledAndCutBodiesResumeWhileOthersComplete) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client;
  Manifest m;
  const std::string data = testutil::PatternBytes(300000, 9);
  for (const std::string name : {"stalled.bin", "cut.bin", "whole.bin"}) {
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    const std::string query = name == "whole.bin" ? ""
                              : name == "cut.bin" ? "?once=1&cut=100000"
                                                  : "?once=1&stall=100000";
    m.game_files.push_back(ServedEntry(name, 300000, query));
  }
  UpdaterProgress last;
  std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend(1000), 1,
                            FetchTuning{3, RetryPauses{{0.1, 0.1, 0.1}}})
      ->Run(m, [&](const UpdaterProgress& p) { last = p; });
  EXPECT_EQ(last.phase, UpdaterPhase::Done) << last.error;
  for (const char* name : {"stalled.bin", "cut.bin", "whole.bin"}) EXPECT_EQ(testutil::ReadBytes(client / name), data);
  const std::string requests = testutil::ReadBytes(testutil::TestServerRoot() / "_requests.log");
  for (const char* name : {"/stalled.bin?", "/cut.bin?"}) {
    const size_t first = requests.find(name), second = requests.find(name, first + 1);
    ASSERT_NE(second, std::string::npos) << name;
    EXPECT_EQ(requests.substr(requests.find(' ', second) + 1, 13), "bytes=100000-") << name;
  }
}

// Big files over WinHTTP: one in pieces from a server that holds each connection to 2 MiB/s and
// cuts the first piece's reply (asked for again from where it broke, while other pieces come at
// once), and three from servers that do not serve ranges as asked (the whole file, another
// range, more than the range): each falls back to one connection. All arrive exact, no part left.
TEST(UpdaterOnDisk, BigFilesComeInPiecesOrWholeAndExact) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client;
  Manifest m;
  const std::string data = testutil::PatternBytes(4 << 20, 8);
  const char* const queries[] = {"?rate=2097152&once=1&cut=100000", "?ignore_range=1", "?wrong_range=1", "?overlong=1"};
  for (const char* query : queries) {
    const std::string name = "big" + std::to_string(m.game_files.size()) + ".bin";
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    m.game_files.push_back(ServedEntry(name, 4 << 20, query));
  }
  UpdaterProgress last;
  std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend(2000), 1,
                            FetchTuning{6, RetryPauses{{0.1, 0.1, 0.1}}, 1 << 20, 512 << 10, 512 << 10})
      ->Run(m, [&](const UpdaterProgress& p) { last = p; });
  EXPECT_EQ(last.phase, UpdaterPhase::Done) << last.error;
  for (const auto& entry : m.game_files) EXPECT_EQ(testutil::ReadBytes(client / entry.path), data) << entry.cdn_url;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(client.path()), {}), 4);
  const std::string requests = testutil::ReadBytes(testutil::TestServerRoot() / "_requests.log");
  EXPECT_NE(requests.find("/big0.bin?" + std::string(queries[0] + 1) + " bytes=100000-524287 "), std::string::npos);
  EXPECT_NE(requests.find("/big0.bin?" + std::string(queries[0] + 1) + " bytes=3670016-4194303 "), std::string::npos);
  std::istringstream busy(testutil::ReadBytes(testutil::TestServerRoot() / "_busy.log"));
  int most = 0;
  for (std::string path, others; busy >> path >> others;) {
    if (path == "/big0.bin") most = std::max(most, std::stoi(others));
  }
  EXPECT_EQ(most, 5);            // six connections at once, never more
  for (int i = 1; i < 4; ++i) {  // one range asked for, then the whole file
    const std::string path = "/big" + std::to_string(i) + ".bin" + queries[i];
    EXPECT_NE(requests.find(path + " bytes=0-524287 "), std::string::npos) << path;
    EXPECT_NE(requests.find(path + " - "), std::string::npos) << path;
  }
}

// A cancel stops every connection within a piece; each file keeps only the start of itself.
TEST(UpdaterOnDisk, CancelStopsEveryConnectionWithinAPiece) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client;
  Manifest m;
  const std::string data = testutil::PatternBytes(300000, 4);
  for (const std::string name : {"cancel_a.bin", "cancel_b.bin", "cancel_c.bin"}) {
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    m.game_files.push_back(ServedEntry(name, 300000, "?drip=0.2"));
  }
  std::promise<UpdaterPhase> final_phase;
  std::atomic<bool> started{false};
  auto updater = std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend(), 1, FetchTuning{3, RetryPauses{}});
  updater->Start(m, [&](const UpdaterProgress& p) {
    if (p.phase == UpdaterPhase::Downloading && p.bytes_done > 0) started = true;
    if (p.phase == UpdaterPhase::Done || p.phase == UpdaterPhase::Error) final_phase.set_value(p.phase);
  });
  for (int i = 0; !started && i < 3000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  updater->Cancel();
  auto done = final_phase.get_future();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(2)), std::future_status::ready);  // a whole file takes 7 s
  EXPECT_EQ(done.get(), UpdaterPhase::Done);
  for (const char* name : {"cancel_a.bin", "cancel_b.bin", "cancel_c.bin"}) {
    const std::string kept = testutil::ReadBytes(client / name);
    EXPECT_TRUE(kept.size() < data.size() && kept == data.substr(0, kept.size())) << name;
  }
}

// Files unchanged since the last run pass unread; a file rewritten at its size with its
// last-write time set back, and one replaced by a copy with kept times, are read and repaired.
TEST(UpdaterOnDisk, QuickCheckReadsChangedFilesAgain) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::TempDir client, cache;
  Manifest m;
  for (const std::string name : {"Data/rewritten.MPQ", "Data/replaced.MPQ", "kept.txt"}) {
    const std::string data = testutil::PatternBytes(3000, static_cast<unsigned>(name.size()));
    testutil::WriteBytes(testutil::TestServerRoot() / name, data);
    testutil::WriteBytes(client / name, data);
    m.game_files.push_back(ServedEntry(name, 3000));
  }
  Log::Init((cache / "launcher.log").wstring());
  const auto run = [&] {
    auto updater = std::make_shared<Updater>(client.wide(), MakeSystemUpdaterBackend());
    updater->UseRecord((cache / "verified.dat").wstring(), false);
    updater->Run(m, nullptr);
  };
  Sleep(1100);  // older than the file system's clock may blur
  run();
  // Writes `path` at the size of `like` and sets its last-write time back to that of `like`.
  const auto rewrite = [](const std::filesystem::path& path, const std::filesystem::path& like) {
    WIN32_FILE_ATTRIBUTE_DATA before = {};
    GetFileAttributesExW(like.wstring().c_str(), GetFileExInfoStandard, &before);
    testutil::WriteBytes(path, std::string(3000, 'x'));
    HANDLE file = CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime));
    CloseHandle(file);
  };
  rewrite(client / "Data/rewritten.MPQ", client / "Data/rewritten.MPQ");
  rewrite(client / "copy", client / "Data/replaced.MPQ");
  std::filesystem::rename(client / "copy", client / "Data/replaced.MPQ");
  run();
  // Both repaired, so neither passed unread.
  for (const auto& entry : m.game_files) EXPECT_EQ(FileMd5((client / entry.path).wstring()), entry.md5);
  const std::string log = testutil::ReadBytes(cache / "launcher.log");
  EXPECT_NE(log.find("Quick check: 1 of 3 files unchanged since their last check\r\n"), std::string::npos);
  EXPECT_EQ(log.find("OK: kept.txt", log.find("Quick check: 1")), std::string::npos);
  Log::Init(L"");  // closed, so the folder can go
}

}  // namespace
