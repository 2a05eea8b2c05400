#include "update/updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "data/manifest_path.h"
#include "fake_updater_backend.h"

namespace {

const std::wstring kClient = L"C:\\Games\\WoW";

GameFile Entry(const std::string& path, const std::string& content, bool with_size = true, bool with_md5 = true) {
  GameFile f;
  f.path = path;
  f.size = with_size ? static_cast<std::int64_t>(content.size()) : 0;
  f.md5 = with_md5 ? FakeUpdaterBackend::DigestOf(content) : "";
  f.cdn_url = "http://cdn.example/" + path;
  return f;
}

struct UpdateRun {
  explicit UpdateRun(int check_threads = 0) : updater(std::make_shared<Updater>(kClient, backend, check_threads)) {}
  std::shared_ptr<FakeUpdaterBackend> backend = std::make_shared<FakeUpdaterBackend>();
  std::shared_ptr<Updater> updater;
  std::vector<UpdaterProgress> reports;
  std::atomic<int> reported{0};  // the index of the last report, for other threads

  void Serve(const GameFile& f, const std::string& content) { backend->server[Widen(f.cdn_url)] = content; }
  std::string& File(const std::string& rel) { return backend->files[ClientTargetPath(kClient, rel)]; }
  bool Has(const std::string& rel) const { return backend->files.count(ClientTargetPath(kClient, rel)) > 0; }

  void Go(const Manifest& m) {
    updater->Run(m, [this](const UpdaterProgress& p) {
      reports.push_back(p);
      reported = p.index;
    });
  }
  std::vector<UpdaterPhase> Phases() const {
    std::vector<UpdaterPhase> out;
    for (const auto& r : reports) {
      if (out.empty() || out.back() != r.phase) out.push_back(r.phase);
    }
    return out;
  }
  const UpdaterProgress& Last() const { return reports.back(); }
};

// Polls for up to ten seconds; a test that needs longer fails on its own expectations.
void WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

using P = UpdaterPhase;

TEST(Updater, EmptyListGivesOneDone) {
  UpdateRun run;
  run.Go(Manifest{});
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.Last().phase, P::Done);
  EXPECT_EQ(run.Last().count, 0);
}

TEST(Updater, CorrectFilesAreOnlyVerified) {
  UpdateRun run;
  Manifest m;
  m.game_files = {Entry("Data/a.MPQ", "alpha"), Entry("b.txt", "beta", false, false)};
  run.File("Data/a.MPQ") = "alpha";
  run.File("b.txt") = "anything";  // no size, no digest: present is enough
  run.Go(m);
  EXPECT_EQ(run.Phases(), (std::vector<P>{P::Verifying, P::Done}));
  EXPECT_TRUE(run.backend->downloads.empty());
  EXPECT_EQ(run.Last().index, 2);
  EXPECT_EQ(run.Last().count, 2);
}

TEST(Updater, MissingFileIsDownloadedVerifiedAndReported) {
  UpdateRun run;
  Manifest m;
  m.game_files = {Entry("Data/patch-4.MPQ", "0123456789")};
  run.Serve(m.game_files[0], "0123456789");
  run.Go(m);
  EXPECT_EQ(run.Phases(), (std::vector<P>{P::Verifying, P::Downloading, P::Verifying, P::Done}));
  EXPECT_EQ(run.File("Data/patch-4.MPQ"), "0123456789");
  ASSERT_EQ(run.backend->downloads.size(), 1u);
  EXPECT_EQ(run.backend->downloads[0].offset, 0);
  EXPECT_EQ(run.backend->downloads[0].path, L"C:\\Games\\WoW\\Data\\patch-4.MPQ");
  EXPECT_EQ(run.backend->folders.front(), L"C:\\Games\\WoW\\Data");
  // The download starts at 0 of the entry's size and ends at the full size.
  const auto first_download = std::find_if(run.reports.begin(), run.reports.end(),
                                           [](const UpdaterProgress& p) { return p.phase == P::Downloading; });
  EXPECT_EQ(first_download->bytes_done, 0);
  EXPECT_EQ(first_download->bytes_total, 10);
  EXPECT_EQ(run.Last().bytes_done, 10);
  EXPECT_EQ(run.reports[run.reports.size() - 2].file, "Data/patch-4.MPQ (verify)");
  EXPECT_EQ(run.Last().file, "Data/patch-4.MPQ (verify)");
}

TEST(Updater, ResumeOnlyFromAShorterFileAndRestartAStaleOne) {
  const std::vector<std::pair<std::string, std::vector<std::int64_t>>> cases = {
      {"0123", {4}}, {"01234567xx", {0}}, {"0123456789-longer", {0}}, {"abc", {3, 0}}};  // "abc": changed, grew
  for (const auto& [present, offsets] : cases) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("f.bin", "0123456789")};
    run.Serve(m.game_files[0], "0123456789");
    run.File("f.bin") = present;
    run.Go(m);
    std::vector<std::int64_t> asked;
    for (const auto& d : run.backend->downloads) asked.push_back(d.offset);
    EXPECT_EQ(asked, offsets) << present;
    EXPECT_EQ(run.File("f.bin"), "0123456789") << present;
    EXPECT_EQ(run.Last().phase, P::Done) << present;
  }
}

TEST(Updater, FailingEntryEndsTheRun) {
  UpdateRun run;
  Manifest m;
  m.game_files = {Entry("a", "aaaa"), Entry("b", "bbbb"), Entry("c", "cccc")};
  run.Serve(m.game_files[0], "aaaa");  // b is not served: its download fails
  run.Go(m);
  EXPECT_EQ(run.Last().phase, P::Error);
  EXPECT_EQ(run.Last().error, "HTTP 404");
  EXPECT_EQ(run.Last().index, 2);
  for (const auto& r : run.reports) EXPECT_NE(r.file, "c");
  EXPECT_EQ(run.backend->checked.size(), 3u);  // a, a (verify), b: never c
  EXPECT_EQ(std::count_if(run.reports.begin(), run.reports.end(),
                          [](const UpdaterProgress& p) { return p.phase == P::Done || p.phase == P::Error; }),
            1);
}

TEST(Updater, VerificationAndExtractionFailures) {
  for (const bool by_sha256 : {false, true}) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("Data/x.MPQ", "good", true, !by_sha256)};
    if (by_sha256) m.game_files[0].sha256 = "sha256:good";  // checked in addition to (or without) the MD5
    run.Serve(m.game_files[0], "evil");                     // the server sends something else
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Error);
    EXPECT_EQ(run.Last().error, std::string(by_sha256 ? "SHA-256" : "MD5") + " mismatch after download: Data/x.MPQ");
    EXPECT_EQ(run.Last().file, "Data/x.MPQ (verify)");
  }
  {
    UpdateRun run;
    run.backend->extract_fails = true;
    Manifest m;
    m.game_files = {Entry("Interface/pack.zip", "zipbytes")};
    m.game_files[0].extract_to = "Interface/AddOns";
    run.Serve(m.game_files[0], "zipbytes");
    run.Go(m);
    EXPECT_EQ(run.Last().error, "Zip extraction failed: Interface/pack.zip");
    ASSERT_EQ(run.backend->extracted.size(), 1u);
    EXPECT_EQ(run.backend->extracted[0].second, L"C:\\Games\\WoW\\Interface\\AddOns");
  }
}

TEST(Updater, ExceptionsBecomeOneErrorOnAFreshRecord) {
  {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("locked.MPQ", "data"), Entry("next", "n")};
    run.File("locked.MPQ") = "data";
    run.backend->unreadable[ClientTargetPath(kClient, "locked.MPQ")] = true;
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Error);
    EXPECT_EQ(run.Last().error, "Cannot open file for MD5");
    EXPECT_EQ(run.Last().index, 0);  // fresh record
    EXPECT_EQ(run.backend->checked.size(), 1u);
  }
  {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("Sub/f", "x")};
    run.Serve(m.game_files[0], "x");
    run.backend->failing_folder = L"C:\\Games\\WoW\\Sub";
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Error);
    EXPECT_NE(run.Last().error.find("create_directories"), std::string::npos);
  }
}

TEST(Updater, UnsafeManifestPathsEndTheRunWithoutTouchingFiles) {
  for (const std::string bad : {"../evil.dll", "Data/../../evil.dll", "..\\evil.dll", "C:/Windows/evil.dll",
                                "/etc/evil", "\\\\server\\share\\evil", "Data/.. /evil", "a:stream",
                                // names Windows would turn into a device or another file
                                "CON", "Data/nul.txt", "Data/com1.MPQ", "Data/patch.", "Data/patch ", "a?b", "a|b"}) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry(bad, "x")};
    run.Serve(m.game_files[0], "x");
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Error) << bad;
    EXPECT_EQ(run.Last().error, "Unsafe path in manifest: " + bad);
    EXPECT_TRUE(run.backend->checked.empty()) << bad;
    EXPECT_TRUE(run.backend->downloads.empty()) << bad;
  }
  UpdateRun run;
  Manifest m;
  m.game_files = {Entry("ok.zip", "z")};
  m.game_files[0].extract_to = "../../Startup";
  run.Serve(m.game_files[0], "z");
  run.Go(m);
  EXPECT_EQ(run.Last().error, "Unsafe path in manifest: ../../Startup");
  EXPECT_TRUE(run.backend->downloads.empty());
}

// A backend that holds the run at its start until released.
class GatedBackend : public FakeUpdaterBackend {
 public:
  void EnterThread() override {
    std::unique_lock<std::mutex> lock(gate_mutex);
    gate.wait(lock, [this] { return open; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(gate_mutex);
    open = true;
    gate.notify_all();
  }
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool open = false;
};

TEST(Updater, CancelBeforeTheFirstEntryGivesOneDoneOnItsOwnThread) {
  auto backend = std::make_shared<GatedBackend>();
  std::mutex m;
  std::condition_variable finished;
  std::vector<UpdaterProgress> reports;
  {
    auto updater = std::make_shared<Updater>(kClient, backend);
    Manifest manifest;
    manifest.game_files = {Entry("a", "a")};
    updater->Start(manifest, [&](const UpdaterProgress& p) {
      std::lock_guard<std::mutex> lock(m);
      reports.push_back(p);
      finished.notify_all();
    });
    updater->Cancel();
  }  // the owner drops its share; the run keeps its own
  backend->Open();
  std::unique_lock<std::mutex> lock(m);
  ASSERT_TRUE(finished.wait_for(lock, std::chrono::seconds(10), [&] { return !reports.empty(); }));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].phase, P::Done);
  EXPECT_TRUE(backend->checked.empty());
}

// Entries of `size` bytes named by `names`, all present and correct; 8-byte pieces.
Manifest PresentFiles(UpdateRun& run, const std::vector<std::pair<std::string, size_t>>& names) {
  Manifest m;
  for (const auto& [name, size] : names) {
    m.game_files.push_back(Entry(name, std::string(size, name[0])));
    run.File(name) = std::string(size, name[0]);
  }
  run.backend->piece_bytes = 8;
  return m;
}

// "V<index> <file>" per Verifying report, then "Done<index>" or "Error<index> <error>".
std::vector<std::string> Story(const std::vector<UpdaterProgress>& reports) {
  std::vector<std::string> out;
  for (const auto& r : reports) {
    static const char* const kNames[] = {"Idle", "V", "Downloading", "Extracting", "Done", "Error"};
    std::string line = kNames[static_cast<int>(r.phase)] + std::to_string(r.index);
    if (r.phase == P::Verifying) line += " " + r.file;
    if (r.phase == P::Error) line += " " + r.error;
    out.push_back(line);
  }
  return out;
}

// Results come back in any order; the reports keep the manifest's.
TEST(UpdaterCheckAhead, ReportsKeepManifestOrderAndUnreadableFilesStopInPlace) {
  for (int threads : {1, 2, 4}) {
    UpdateRun run(threads);
    Manifest m = PresentFiles(run, {{"a", 1}, {"big", 64}, {"bulk", 64}, {"s1", 1}, {"s2", 1}, {"s3", 1}});
    // With a second worker, "big" is read only once every other entry is done.
    run.backend->on_piece = [&](const std::wstring& path) {
      if (threads == 1 || path != ClientTargetPath(kClient, "big")) return;
      WaitFor([&] {
        std::lock_guard<std::mutex> lock(run.backend->mutex);
        return run.backend->hashed.size() == 5;
      });
    };
    run.Go(m);
    EXPECT_EQ(Story(run.reports),
              (std::vector<std::string>{"V1 a", "V2 big", "V3 bulk", "V4 s1", "V5 s2", "V6 s3", "Done6"}));
    EXPECT_EQ(run.backend->hashed.back() == ClientTargetPath(kClient, "big"), threads > 1);

    // An unreadable file in the middle ends the run where it stands, as when checked alone.
    UpdateRun locked(threads);
    m = PresentFiles(locked, {{"a", 1}, {"b", 9}, {"x", 9}, {"c", 1}});
    m.game_files.push_back(Entry("missing", "m"));
    locked.Serve(m.game_files.back(), "m");
    locked.backend->unreadable[ClientTargetPath(kClient, "x")] = true;
    locked.Go(m);
    EXPECT_EQ(Story(locked.reports),
              (std::vector<std::string>{"V1 a", "V2 b", "V3 x", "Error0 Cannot open file for MD5"}));
    EXPECT_TRUE(locked.backend->downloads.empty());
  }
}

// A cancel stops the reading in hand within one piece, whether the loop reads (a) or a worker (b).
TEST(UpdaterCheckAhead, CancelStopsReadingWithinAPiece) {
  for (const size_t first : {size_t{8000}, size_t{1}}) {
    UpdateRun run(2);
    const Manifest m = PresentFiles(run, {{"a", first}, {"b", 8000}, {"c", 8000}});
    std::atomic<int> pieces{0};
    std::atomic<bool> cancelled{false};
    run.backend->on_piece = [&](const std::wstring&) {
      const int piece = ++pieces;
      if (piece > 20) return WaitFor([&] { return cancelled.load(); });  // the other worker, held in its piece
      if (piece < 20) return;
      if (first == 1) WaitFor([&] { return run.reported == 2; });  // the loop waits for b
      run.updater->Cancel();
      cancelled = true;
    };
    run.Go(m);
    const std::vector<std::string> expected =
        first == 1 ? std::vector<std::string>{"V1 a", "V2 b", "Done2"} : std::vector<std::string>{"V1 a", "Done1"};
    EXPECT_EQ(Story(run.reports), expected);
    EXPECT_LE(pieces, 21);  // no piece begun after the cancel but the other worker's
    EXPECT_EQ(run.backend->hashed.size(), first == 1 ? 1u : 0u);
  }
}

TEST(UpdaterPaths, TargetsAndParents) {
  EXPECT_EQ(ClientTargetPath(L"C:\\WoW", "Data/enUS/patch.MPQ"), L"C:\\WoW\\Data\\enUS\\patch.MPQ");
  EXPECT_EQ(ParentFolderOf(L"C:\\WoW\\Data\\x.MPQ"), L"C:\\WoW\\Data");
  EXPECT_EQ(ParentFolderOf(L"C:\\WoW\\\\x"), L"C:\\WoW");
  EXPECT_EQ(ParentFolderOf(L"C:\\x"), L"C:\\");
  EXPECT_TRUE(IsSafeClientRelativePath("Data/./patch.MPQ"));
  EXPECT_TRUE(IsSafeClientRelativePath("Interface/AddOns/..hidden"));
  EXPECT_FALSE(IsSafeClientRelativePath(""));
  EXPECT_TRUE(IsSafeClientRelativePath("Data/CONSOLE.txt"));  // only the device names themselves
  EXPECT_EQ(ManifestPathKey("./Data//enUS\\Patch.MPQ"), "data/enus/patch.mpq");
}

}  // namespace
