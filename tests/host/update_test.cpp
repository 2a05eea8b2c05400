// Update runs, file checks, check-ahead, and the launcher's self-update decisions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "data/manifest_path.h"
#include "delta/block_map.h"
#include "fake_updater_backend.h"
#include "net/file_check.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "test_util.h"
#include "update/download_parts.h"
#include "update/part_record.h"
#include "update/piece_plan.h"
#include "update/quick_check.h"
#include "update/self_update.h"
#include "update/unpack_marks.h"
#include "update/updater.h"

namespace {

const std::wstring kClient = L"C:\\Games\\WoW";
using P = UpdaterPhase;

GameFile Entry(const std::string& path, const std::string& content, bool checked = true) {
  GameFile f;
  f.path = path;
  f.size = checked ? static_cast<std::int64_t>(content.size()) : 0;
  f.md5 = checked ? FakeUpdaterBackend::DigestOf(content) : "";
  f.cdn_url = "http://cdn.example/" + path;
  return f;
}

struct UpdateRun {
  explicit UpdateRun(int check_threads = 0)
      : updater(std::make_shared<Updater>(kClient, backend, check_threads,
                                          FetchTuning{kDownloadConnections, RetryPauses{{0, 0, 0}}})) {}
  std::shared_ptr<FakeUpdaterBackend> backend = std::make_shared<FakeUpdaterBackend>();
  std::shared_ptr<Updater> updater;
  std::vector<UpdaterProgress> reports;
  std::atomic<int> reported{0};  // the index of the last report, for other threads

  void Serve(const GameFile& f, const std::string& content) { backend->server[Widen(f.cdn_url)] = content; }
  std::string& File(const std::string& rel) { return backend->files[ClientTargetPath(kClient, rel)]; }
  void Go(const Manifest& m) {
    updater->Run(m, [this](const UpdaterProgress& p) {
      reports.push_back(p);
      reported = p.index;
    });
  }
  const UpdaterProgress& Last() const { return reports.back(); }
};

// "V<index> <file>" per Verifying report, "Downloading<index>", "Extracting<index>", then "Done<index>"
// or "Error<index> <error>"; a line repeated at once is shown once.
std::vector<std::string> Story(const std::vector<UpdaterProgress>& reports) {
  std::vector<std::string> out;
  for (const auto& r : reports) {
    static const char* const kNames[] = {"Idle", "V", "Downloading", "Extracting", "Done", "Error"};
    std::string line = kNames[static_cast<int>(r.phase)] + std::to_string(r.index);
    if (r.phase == P::Verifying) line += " " + r.file;
    if (r.phase == P::Error) line += " " + r.error;
    if (out.empty() || out.back() != line) out.push_back(line);
  }
  return out;
}

// Polls for up to ten seconds; a test that needs longer fails on its expectations.
void WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
}

TEST(Updater, CorrectFilesAreOnlyVerifiedMissingOnesFetched) {
  UpdateRun run;
  Manifest m;
  m.game_files = {Entry("Data/a.MPQ", "alpha"), Entry("b.txt", "", false), Entry("Data/patch-4.MPQ", "0123456789"),
                  Entry("Interface/pack.zip", "zip")};
  m.game_files[3].extract_to = "Interface/AddOns";
  run.File("Data/a.MPQ") = "alpha";
  run.File("b.txt") = "anything";  // no size, no digest: present is enough
  run.Serve(m.game_files[2], "0123456789");
  run.Serve(m.game_files[3], "zip");
  run.Go(m);
  EXPECT_EQ(Story(run.reports),
            (std::vector<std::string>{"V1 Data/a.MPQ", "V2 b.txt", "V3 Data/patch-4.MPQ", "V4 Interface/pack.zip",
                                      "Downloading3", "Downloading4", "Extracting4", "Done4"}));
  EXPECT_EQ(run.backend->downloads[0].first, L"C:\\Games\\WoW\\Data\\patch-4.MPQ");
  EXPECT_EQ(run.backend->folders.front(), L"C:\\Games\\WoW\\Data");
  ASSERT_EQ(run.backend->extracted.size(), 1u);
  EXPECT_EQ(run.backend->extracted[0], L"C:\\Games\\WoW\\Interface\\AddOns");
}

// Only a shorter file is resumed; one that is longer, or changed in its first
// bytes, starts over rather than leaving a corrupt file behind.
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
    for (const auto& d : run.backend->downloads) asked.push_back(d.second);
    EXPECT_EQ(asked, offsets) << present;
    EXPECT_EQ(run.File("f.bin"), "0123456789") << present;
    EXPECT_EQ(run.Last().phase, P::Done) << present;
  }
}

// A failing entry ends the run with one Error; nothing else is fetched.
TEST(Updater, AFailingEntryEndsTheRunWithOneError) {
  // served body, SHA-256 instead of MD5, extraction fails, its folder cannot be made, error
  const std::tuple<const char*, bool, bool, bool, std::string> cases[] = {
      {nullptr, false, false, false, "HTTP 404"},
      {"evil", false, false, false, "MD5 mismatch after download: Data/b"},
      {"evil", true, false, false, "SHA-256 mismatch after download: Data/b"},
      {"good", false, true, false, "Could not unpack Data/b: bad archive: CRC mismatch in \"x\""},
      {"good", false, false, true, "create_directories failed for the folder"},
  };
  for (const auto& [served, sha256, extract_fails, folder_fails, error] : cases) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("a", "aaaa"), Entry("Data/b", "good"), Entry("c", "cccc")};
    GameFile& b = m.game_files[1];
    if (sha256) b.md5.clear(), b.sha256 = "sha256:good";
    if (extract_fails) b.extract_to = "Interface";
    run.backend->extract_fails = extract_fails;
    if (folder_fails) run.backend->failing_folder = L"C:\\Games\\WoW\\Data";
    if (served) run.Serve(b, served);
    run.File("a") = "aaaa";
    run.File("c") = "cccc";
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Error) << error;
    EXPECT_EQ(run.Last().error, error);
    EXPECT_EQ(run.Last().file, "Data/b");
    for (const auto& d : run.backend->downloads) EXPECT_EQ(d.first, L"C:\\Games\\WoW\\Data\\b") << error;
  }
}

// The volume must hold the whole fetch before anything is fetched; network
// trouble and busy servers are tried again (from what the file holds), other
// refusals and a full disk are not.
TEST(Updater, DiskSpaceFirstThenRetriesOfTransientFailures) {
  const auto failed = [](DownloadFailure failure, std::uint32_t status, const char* error) {
    DownloadResult r;
    r.failure = failure, r.status = status, r.error = error;
    return r;
  };
  const DownloadResult cut = failed(DownloadFailure::Network, 0, "Download interrupted after 4 of 10 bytes");
  const DownloadResult busy = failed(DownloadFailure::Status, 503, "HTTP 503");
  const DownloadResult gone = failed(DownloadFailure::Status, 404, "HTTP 404");
  const DownloadResult full = failed(DownloadFailure::DiskFull, 0, "Not enough disk space while writing f.bin");
  const std::int64_t spare = kSpareDiskBytes;
  // free space (the file keeps 4 of its 10 bytes: 6 more must fit), failed tries before the served
  // body, tries made, the run's error
  const std::tuple<std::int64_t, std::vector<DownloadResult>, size_t, std::string> cases[] = {
      {spare + 5, {}, 0, "Not enough disk space: 65 MB needed, 64 MB free on C:\\Games\\WoW"},
      {spare + 6, {cut, busy}, 3, ""},
      {spare + 6, {cut, cut, cut, cut}, 4, cut.error},
      {spare + 6, {gone}, 1, gone.error},
      {spare + 6, {full}, 1, full.error},
  };
  for (const auto& [free, failures, tries, error] : cases) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry("f.bin", "0123456789")};
    run.Serve(m.game_files[0], "0123456789");
    run.backend->free_space = free;
    run.File("f.bin") = "0123";
    run.backend->failures[Widen(m.game_files[0].cdn_url)] = failures;
    run.Go(m);
    EXPECT_EQ(run.backend->downloads.size(), tries) << error;
    EXPECT_EQ(run.Last().phase, error.empty() ? P::Done : P::Error) << error;
    EXPECT_EQ(run.Last().error, error);
  }
}

// An archive is marked from before its download until its last entry is in place; one
// still marked is unpacked again, though whole, when the mark is for these bytes in this
// folder. Part files of paths the manifest no longer lists go when a run completes.
TEST(Updater, AnUnfinishedUnpackIsDoneAgainAndStrayPartsGo) {
  const std::wstring marks = L"L\\launcher_cache\\unpacking.txt";
  // Parts of a path no longer listed, and a listed file's piece record without its part.
  const std::vector<std::wstring> strays = {L"data\\old.MPQ.ostrel-part", L"data\\old.MPQ.ostrel-part.pieces",
                                            L"data\\b.MPQ.ostrel-part.pieces"};
  // archive whole, its mark (this, older bytes, another client folder), served, unpacking
  // fails, downloads, unpacks, a mark left, stray parts left
  const std::tuple<bool, const char*, bool, bool, size_t, size_t, bool, bool> rows[] = {
      {true, "", true, false, 0, 0, false, false},     {true, "this", true, false, 0, 1, false, false},
      {true, "older", true, false, 0, 0, true, false}, {true, "elsewhere", true, false, 0, 0, true, false},
      {false, "", true, false, 1, 1, false, false},    {false, "", true, true, 1, 1, true, true},
      {false, "", false, false, 1, 0, true, true},
  };
  for (const auto& [whole, mark, served, fails, downloads, unpacks, mark_left, strays_left] : rows) {
    const std::string row = std::string(whole ? "whole " : "missing ") + mark + (served ? "" : " unserved");
    UpdateRun run;
    run.updater->UseUnpackMarks(marks);
    run.updater->UseRecord(L"record", false);
    Manifest m;
    m.game_files = {Entry("data/a.MPQ", "a"), Entry("Interface/pack.zip", "zip"), Entry("data/b.MPQ", "b")};
    GameFile& pack = m.game_files[1];
    pack.extract_to = "Interface/AddOns";
    run.File("data/a.MPQ") = "a";
    run.File("data/b.MPQ") = "b";
    for (const std::wstring& part : strays) run.backend->files[ClientTargetPath(kClient, part)] = "part";
    run.File("data/a.MPQ.ostrel-part") = "a listed file's part stays";
    if (whole) run.File("Interface/pack.zip") = "zip";
    if (served) run.Serve(pack, "zip");
    run.backend->unpacked = {{L"Pack\\pack.toc", "toc"}};
    run.backend->extract_fails = fails;
    UnpackMark marked{ClientTargetPath(kClient, pack.path), L"", pack.size, pack.md5, ""};
    if (mark == std::string("older")) marked.md5 = FakeUpdaterBackend::DigestOf("old zip");
    if (mark == std::string("elsewhere")) marked.archive = ClientTargetPath(L"D:\\WoW", pack.path);
    if (*mark) run.backend->small[marks] = UnpackMarksText({marked});
    run.Go(m);
    EXPECT_EQ(run.backend->downloads.size(), downloads) << row;
    ASSERT_EQ(run.backend->extracted.size(), unpacks) << row;
    if (unpacks) {
      EXPECT_NE(run.backend->small_at_extract[marks].find("pack.zip\t"), std::string::npos) << row;
    }
    EXPECT_EQ(!ParseUnpackMarks(run.backend->small[marks]).empty(), mark_left) << row;
    for (const std::wstring& part : strays)
      EXPECT_EQ(run.backend->files.count(ClientTargetPath(kClient, part)), strays_left ? 1u : 0u) << row;
    EXPECT_EQ(run.File("data/a.MPQ.ostrel-part"), "a listed file's part stays");
  }
  EXPECT_EQ(DownloadPartOwner(L"a.ostrel-partial"), L"");
}

// Many files over several connections: each is fetched once, and the reports count the whole fetch.
TEST(Updater, SeveralConnectionsFetchEachFileOnceAndReportTheWholeFetch) {
  UpdateRun run;
  Manifest m;
  for (int i = 1; i <= 20; ++i) {
    m.game_files.push_back(Entry("f" + std::to_string(i), std::string(i, 'x')));
    run.Serve(m.game_files.back(), std::string(i, 'x'));
  }
  run.Go(m);
  EXPECT_EQ(run.Last().phase, P::Done);
  EXPECT_EQ(run.backend->downloads.size(), 20u);
  std::int64_t most = 0;
  for (const auto& r : run.reports) {
    if (r.phase == P::Downloading) {
      EXPECT_EQ(r.bytes_total, 210);
    }
    most = std::max(most, r.bytes_done);
  }
  EXPECT_EQ(most, 210);
  for (int i = 1; i <= 20; ++i) EXPECT_EQ(run.File("f" + std::to_string(i)), std::string(i, 'x'));
}

// "first-end" of each range, in order.
std::string Shown(const std::vector<ByteRange>& ranges) {
  std::string out;
  for (const ByteRange& r : ranges)
    out += (out.empty() ? "" : " ") + std::to_string(r.first) + "-" + std::to_string(r.end);
  return out;
}

// What a part's record may claim: the ranges it names that the part file holds, and only
// for the bytes the manifest names; anything else starts the file over. The pieces to
// fetch are the gaps, cut to size.
TEST(PiecePlan, ARecordClaimsOnlyWhatThePartShows) {
  ByteRanges held;
  held.Add(30, 40), held.Add(0, 10), held.Add(10, 12), held.Add(5, 5);
  const std::string text = PartRecordText({100, "aa", "", held});
  std::string edited = text;
  edited[edited.find("held 30") + 5] = '2';
  // record, part file size, what it may claim
  const std::tuple<std::string, std::int64_t, std::string> rows[] = {
      {text, 100, "0-12 30-40"},
      {text, 35, "0-12 30-35"},  // a part shorter than its record claims
      {text, 101, ""},           // longer than the file
      {text.substr(0, text.size() - 3), 100, ""},
      {edited, 100, ""},
      {"", 100, ""},
      {PartRecordText({100, "bb", "", held}), 100, ""},
      {PartRecordText({99, "aa", "", held}), 100, ""},
  };
  for (const auto& [record, part, claimed] : rows) {
    std::string why;
    EXPECT_EQ(Shown(TrustedPartBytes(record, 100, "aa", "", part, why).Ranges()), claimed) << record;
    EXPECT_EQ(why.empty(), !claimed.empty()) << why;
  }
  EXPECT_EQ(Shown(held.Pieces(60, 8)), "12-20 20-28 28-30 40-48 48-56 56-60");
  EXPECT_EQ(std::make_pair(held.HeldFrom(5), held.HeldFrom(12)), std::make_pair(std::int64_t{12}, std::int64_t{12}));
  const std::int64_t mib = 1 << 20;
  EXPECT_EQ(PieceBytesFor(256 * mib, 6, kSmallestPiece, kLargestPiece), 4 * mib);
  EXPECT_EQ(PieceBytesFor(500 * mib, 6, kSmallestPiece, kLargestPiece), 8 * mib);
  EXPECT_EQ(PieceBytesFor(17000 * mib, 6, kSmallestPiece, kLargestPiece), 16 * mib);
}

// A big file comes in pieces (16 bytes here) over the connections it shares with small files,
// into its part, which takes the file's name once whole. It resumes from what its record
// shows, falls back to one connection when the server does not serve ranges, is fetched
// again once when resumed bytes were wrong, and a failed run leaves a record that claims
// only what a flush made durable.
TEST(Updater, BigFilesComeInPiecesAndResumeFromTheirRecord) {
  std::string content;
  for (int i = 0; i < 10; ++i) content += "0123456789";
  const GameFile big = Entry("Data/big.MPQ", content);
  const std::wstring part = ClientTargetPath(kClient, "Data/big.MPQ.ostrel-part"), url = Widen(big.cdn_url);
  const std::wstring record = PartRecordPath(ClientTargetPath(kClient, big.path));
  const auto held = [](std::int64_t first, std::int64_t end) {
    ByteRanges r;
    r.Add(first, end);
    return r;
  };
  const DownloadResult dropped = [] {
    DownloadResult r;
    r.failure = DownloadFailure::Network, r.error = "Download interrupted";
    return r;
  }();
  const std::string all = "0-15 16-31 32-47 48-63 64-79 80-95 96-99";
  // row, what the part holds, what its record claims (and for which digest), the ranges asked for,
  // whole downloads of it, the run's error
  struct Row {
    const char* what;
    std::string part;
    ByteRanges claimed;
    std::string md5, ranges;
    size_t whole;
    std::string error;
  };
  const Row rows[] = {
      {"fresh", "", {}, "", all, 0, ""},
      {"resumed", content.substr(0, 40), held(0, 40), big.md5, "40-55 56-71 72-87 88-99", 0, ""},
      {"part shorter than its record", content.substr(0, 20), held(0, 40), big.md5, "20-35 36-51 52-67 68-83 84-99", 0,
       ""},
      {"record shows it whole", content, held(0, 100), big.md5, "", 0, ""},  // killed while it was checked
      {"record for other bytes", content.substr(0, 40), held(0, 40), std::string(32, 'e'), all, 0, ""},
      {"resumed wrong bytes", std::string(40, 'x'), held(0, 40), big.md5, "40-55 56-71 72-87 88-99 " + all, 0, ""},
      {"cut piece", "", {}, "", "0-15 5-15 16-31 32-47 48-63 64-79 80-95 96-99", 0, ""},
      {"ranges ignored", "", {}, "", "0-15", 1, ""},
      {"dropped for good", "", {}, "", "", 0, "Download interrupted"},  // the other pieces come as they may
  };
  for (const Row& row : rows) {
    UpdateRun run;
    run.updater =
        std::make_shared<Updater>(kClient, run.backend, 0, FetchTuning{3, RetryPauses{{0, 0, 0}}, 64, 16, 16});
    Manifest m;
    m.game_files = {Entry("a", "aaaa"), big, Entry("b", "bbbb")};
    for (const GameFile& f : m.game_files) run.Serve(f, f.path == big.path ? content : std::string(4, f.path[0]));
    if (!row.part.empty()) run.backend->files[part] = row.part;
    if (!row.md5.empty()) run.backend->small[record] = PartRecordText({100, row.md5, "", row.claimed});
    run.backend->whole_only = row.what == std::string("ranges ignored");
    if (row.ranges.find("5-15") != std::string::npos || !row.error.empty()) run.backend->cut[url] = 5;
    if (!row.error.empty()) run.backend->failures[url + L"@5"] = {dropped, dropped, dropped};
    run.Go(m);
    std::multiset<std::string> expected, asked(run.backend->ranges.begin(), run.backend->ranges.end());
    std::istringstream words(row.ranges);
    for (std::string r; words >> r;) expected.insert(r);
    if (!row.error.empty()) expected = asked;
    EXPECT_EQ(asked, expected) << row.what;
    EXPECT_EQ(std::count_if(run.backend->downloads.begin(), run.backend->downloads.end(),
                            [&](const auto& d) { return d.first == part; }),
              static_cast<long>(row.whole))
        << row.what;
    EXPECT_EQ(run.Last().error, row.error) << row.what;
    EXPECT_LE(run.backend->most_busy, 3) << row.what;
    EXPECT_EQ(run.backend->ahead, 0) << row.what;
    if (row.error.empty()) {
      EXPECT_EQ(run.File(big.path), content) << row.what;
      EXPECT_EQ(run.backend->files.count(part) + run.backend->small.count(record), 0u) << row.what;
      continue;
    }
    EXPECT_EQ(asked.count("5-15"), 3u);
    PartRecord left;
    std::string why;
    ASSERT_TRUE(ParsePartRecord(run.backend->small[record], left, why)) << why;
    EXPECT_EQ(left.held.HeldFrom(0), 5);
  }
}

// A changed file whose entry names a block map is patched from its old copy: only the
// changed stretches are asked for (ranges that the reports count, not the file's size), and
// the file is exact. A map that fails its digest, is of other bytes, or finds too little of
// the file in the old copy, and a server that ignores ranges: the file comes whole. A run
// that ends mid-patch leaves a part whose record the next run resumes from.
TEST(Updater, ChangedFilesArePatchedFromTheirOldCopy) {
  const std::string old_file = testutil::PatternBytes(64 << 10, 4);
  const std::string content = old_file.substr(0, 9000) + testutil::PatternBytes(3000, 5) +
                              old_file.substr(9000, 30000) + old_file.substr(45000) + "appended";
  GameFile big = Entry("Data/big.MPQ", content);
  big.md5 = Md5Hex(content);  // a patch is checked by its real digests
  const std::wstring url = Widen(big.cdn_url), map_url = url + L".ostrel-map";
  const auto map_of = [&](const std::string& file) {
    BlockMapBuilder builder(1024);
    builder.Update(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    std::array<std::uint8_t, 16> md5{};
    BytesFromHex(big.md5, md5);
    return builder.Finish(md5, {});
  };
  const auto run_with = [&](UpdateRun& run, const std::string& old_copy, const std::string& map,
                            const std::string& listed_map) {
    run.updater = std::make_shared<Updater>(kClient, run.backend, 0,
                                            FetchTuning{3, RetryPauses{{0, 0, 0}}, 1 << 20, 16 << 10, 16 << 10});
    big.block_map = {"big.MPQ.ostrel-map", static_cast<std::int64_t>(listed_map.size()), Md5Hex(listed_map),
                     Sha256Hex(listed_map)};
    run.Serve(big, content);
    run.backend->server[map_url] = map;
    if (!old_copy.empty()) run.File(big.path) = old_copy;
    Manifest m;
    m.game_files = {big};
    run.Go(m);
    EXPECT_EQ(run.Last().phase, P::Done) << run.Last().error;
    EXPECT_TRUE(run.File(big.path) == content);
  };
  const auto asked = [](const UpdateRun& run) {
    std::int64_t bytes = 0;
    for (const std::string& r : run.backend->ranges) bytes += std::stoll(r.substr(r.find('-') + 1)) - std::stoll(r) + 1;
    return bytes;
  };
  const std::string map = map_of(content), forged = map.substr(0, map.size() - 1) + "x";
  struct Row {
    const char* what;
    std::string old_copy, served_map, listed_map;
    bool whole_over_one = false;
  };
  const Row rows[] = {
      {"patched", old_file, map, map},
      {"map not its digests", old_file, forged, map},
      {"map of other bytes", old_file, map_of(old_file), map_of(old_file)},
      {"old copy unrelated", testutil::PatternBytes(64 << 10, 6), map, map},
      {"ranges ignored", old_file, map, map, true},
  };
  for (const Row& row : rows) {
    UpdateRun run;
    run.backend->whole_only = row.whole_over_one;
    run_with(run, row.old_copy, row.served_map, row.listed_map);
    const bool patched = row.what == std::string("patched");
    EXPECT_EQ(run.backend->downloads.size(), row.whole_over_one ? 1u : 0u) << row.what;
    // Patched: the blocks around the insertion (4 KiB), one at the cut (1 KiB), the new end (80 bytes).
    if (!row.whole_over_one) {
      EXPECT_EQ(asked(run), patched ? 5200 : content.size()) << row.what;
    }
    EXPECT_EQ(run.Last().bytes_total, patched ? asked(run) : content.size()) << row.what;
    EXPECT_EQ(run.Last().bytes_done, run.Last().bytes_total) << row.what;
  }

  // A run that ends mid-patch (one stretch dropped for good) leaves its fetched stretches
  // with their record; the next run asks for the dropped one alone and writes every copy again.
  UpdateRun first, second;
  const DownloadResult dropped{false, "Download interrupted", DownloadFailure::Network};
  first.backend->failures[url + L"@62464"] = {dropped, dropped, dropped, dropped};
  Manifest m;
  big.block_map = {"big.MPQ.ostrel-map", static_cast<std::int64_t>(map.size()), Md5Hex(map), Sha256Hex(map)};
  m.game_files = {big};
  first.updater = std::make_shared<Updater>(kClient, first.backend, 0, FetchTuning{3, RetryPauses{{0, 0, 0}}});
  first.Serve(big, content);
  first.backend->server[map_url] = map;
  first.File(big.path) = old_file;
  first.Go(m);
  EXPECT_EQ(first.Last().error, "Download interrupted");
  EXPECT_TRUE(first.File(big.path) == old_file);
  second.backend->files = first.backend->files;
  second.backend->small = first.backend->small;
  // As a kill while the copies were being written leaves it: other bytes where the record claims none.
  second.backend->files[DownloadPartPath(ClientTargetPath(kClient, big.path))].replace(0, 4096, 4096, 'x');
  run_with(second, old_file, map, map);
  EXPECT_EQ(second.backend->ranges, std::vector<std::string>{"62464-62543"});
  EXPECT_EQ(second.Last().bytes_done, second.Last().bytes_total);
  EXPECT_EQ(second.Last().bytes_total, 5200);
}

// A manifest may not name files outside the client folder nor names Windows
// turns into a device or another file; nothing is checked or fetched then.
TEST(Updater, UnsafeManifestPathsEndTheRunWithoutTouchingFiles) {
  for (const std::string bad :
       {"", "../evil.dll", "Data/../../evil.dll", "..\\evil.dll", "C:/Windows/evil.dll", "/etc/evil",
        "\\\\server\\share\\evil", "Data/.. /evil", "a:stream", "CON", "Data/nul.txt", "Data/com1.MPQ", "Data/patch.",
        "Data/patch ", "a?b", "a|b", "extract_to"}) {
    UpdateRun run;
    Manifest m;
    m.game_files = {Entry(bad == "extract_to" ? "ok.zip" : bad, "x")};
    if (bad == "extract_to") m.game_files[0].extract_to = "../../Startup";
    run.Serve(m.game_files[0], "x");
    run.Go(m);
    EXPECT_EQ(run.Last().error, "Unsafe path in manifest: " + (bad == "extract_to" ? "../../Startup" : bad));
    EXPECT_TRUE(run.backend->checked.empty()) << bad;
    EXPECT_TRUE(run.backend->downloads.empty()) << bad;
  }
  for (const char* good : {"Data/./patch.MPQ", "Interface/AddOns/..hidden", "Data/CONSOLE.txt"})
    EXPECT_TRUE(IsSafeClientRelativePath(good)) << good;
  EXPECT_EQ(ParentFolderOf(L"C:\\WoW\\\\x"), L"C:\\WoW");
  EXPECT_EQ(ParentFolderOf(L"C:\\x"), L"C:\\");
  EXPECT_EQ(ClientTargetPath(L"C:\\", "Data/x"), L"C:\\Data\\x");
}

// A backend that holds the run at its start until released.
struct GatedBackend : FakeUpdaterBackend {
  void EnterThread() override { gate.wait(); }
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
};

// The owner may cancel and drop the run before its thread begins: one Done, no use after free.
TEST(Updater, CancelBeforeTheFirstEntryGivesOneDoneOnItsOwnThread) {
  auto backend = std::make_shared<GatedBackend>();
  std::promise<std::string> reported;
  {
    auto updater = std::make_shared<Updater>(kClient, backend);
    Manifest manifest;
    manifest.game_files = {Entry("a", "a")};
    updater->Start(manifest, [&](const UpdaterProgress& p) { reported.set_value(Story({p})[0]); });
    updater->Cancel();
  }  // the owner drops its share; the run keeps its own
  backend->open.set_value();
  auto story = reported.get_future();
  ASSERT_EQ(story.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(story.get(), "Done0");
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

// Check-ahead results come back in any order; the reports keep the manifest's,
// and an unreadable file ends the run where it stands, as when checked alone.
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

// Presence, then size, then digests (MD5 first); the file is hashed once,
// for the digests that decide, and only when they decide.
TEST(FileCheck, FirstFailingTestDecides) {
  const std::string md5 = "900150983cd24fb0d6963f7d28e17f72", sha = std::string(60, 'a') + "BCDE";
  // present, size, expected size, MD5, SHA-256, result, which digests were asked for ("m", "s")
  const std::tuple<bool, int64_t, int64_t, std::string, std::string, FileCheckResult, const char*> cases[] = {
      {false, 0, 3, md5, sha, FileMissing, ""},
      {true, 99, 100, md5, sha, FileSizeMismatch, ""},
      {true, 3, 3, std::string(32, '0'), "", FileMd5Mismatch, "m"},
      {true, 3, 3, "900150983CD24FB0D6963F7D28E17F72", "", FileOk, "m"},
      {true, 12345, 0, "", "", FileOk, ""},
      {true, 12345, 0, md5, "", FileOk, "m"},
      {true, 3, 3, "", sha, FileOk, "s"},
      {true, 3, 3, md5, std::string(64, 'a'), FileSha256Mismatch, "ms"},
      {true, 3, 3, md5, sha.substr(1), FileSha256Mismatch, "ms"},
  };
  for (const auto& [present, size, expected_size, want_md5, want_sha256, result, digests] : cases) {
    std::string asked;  // a second call shows as a longer text
    const auto digest = [&](bool m, bool s) {
      asked += std::string(m ? "m" : "") + (s ? "s" : "");
      return FileDigests{md5, std::string(60, 'a') + "bcde"};
    };
    EXPECT_EQ(DecideFileCheck(present, size, expected_size, want_md5, want_sha256, digest), result) << want_md5;
    EXPECT_EQ(asked, digests) << size << " " << want_md5 << " " << want_sha256;
  }
}

// Read like sscanf("%d.%d.%d"): blanks before a number skipped, trailing text ignored;
// numeric, not textual; signed. A version that is unreadable or does not fit never updates.
TEST(SelfUpdateVersion, OnlyANewerServerVersionUpdates) {
  for (const char* newer : {"1.0.1", "1.10.0", " 1.0.1", "1.0.1-beta", "+1.0.1"})
    EXPECT_TRUE(IsNewerLauncherVersion(newer, "1.0.0")) << newer;
  for (const char* bad : {"", "2.0", "v1.0.1", "1.0.", "1.0.+", "2147483648.0.0", "1.0.99999999999999999999999"})
    EXPECT_FALSE(IsNewerLauncherVersion(bad, "0.0.0")) << bad;
  EXPECT_FALSE(IsNewerLauncherVersion("1.0.0", "1.0.0"));
  EXPECT_FALSE(IsNewerLauncherVersion("1.9.9", "1.10.0"));
  EXPECT_TRUE(IsNewerLauncherVersion("2147483647.0.0", "-2147483648.0.0"));
  EXPECT_FALSE(IsNewerLauncherVersion("9.9.9", "1.0"));
}

}  // namespace

VerifiedFile Verified(std::string key, FileIdentity identity, const std::string& md5, const std::string& sha256) {
  VerifiedFile file{std::move(key), identity};
  SetDigests(file, md5, sha256);
  return file;
}

// Which entries pass unread: one base case (passes), each row changing one thing.
TEST(QuickCheck, AnEntryPassesOrFailsUnreadOnlyWhenNothingChanged) {
  using Change = std::function<void(GameFile&, VerifiedFile&, std::optional<FileIdentity>&, std::uint64_t&)>;
  const std::pair<const char*, Change> rows[] = {
      {"unchanged", [](auto&, auto&, auto&, auto&) {}},
      {"written, same size", [](auto&, auto&, auto& now, auto&) { now->last_write += 1, now->change += 1; }},
      {"last-write time set back", [](auto&, auto&, auto& now, auto&) { now->change += 5; }},
      {"replaced by a copy with kept times", [](auto&, auto&, auto& now, auto&) { now->file_id += 1; }},
      {"gone", [](auto&, auto&, auto& now, auto&) { now.reset(); }},
      {"manifest digest changed", [](auto& e, auto&, auto&, auto&) { e.md5[0] = 'b'; }},
      {"manifest adds a SHA-256", [](auto& e, auto&, auto&, auto&) { e.sha256 = std::string(64, 'c'); }},
      {"manifest size changed", [](auto& e, auto&, auto&, auto&) { e.size = 11; }},
      {"entry without digest", [](auto& e, auto&, auto&, auto&) { e.md5.clear(); }},
      {"changed just before the last listing", [](auto&, auto&, auto&, auto& at) { at = 199 + kIdentitySettleTime; }},
      {"no file ids", [](auto&, auto& r, auto& now, auto&) { now->file_id = r.identity.file_id = 0; }},
  };
  for (const auto& [what, change] : rows) {
    GameFile entry = Entry("Data/a.MPQ", "0123456789");
    VerifiedFile recorded = Verified("data/a.mpq", {10, 100, 200, 7}, entry.md5, "");
    std::optional<FileIdentity> now = recorded.identity;
    std::uint64_t taken_at = 200 + kIdentitySettleTime;
    change(entry, recorded, now, taken_at);
    EXPECT_EQ(QuickPasses(entry, &recorded, now, taken_at), what == std::string("unchanged")) << what;
    // Known wrong unread: only a file unchanged since it matched another digest than the one asked for.
    EXPECT_EQ(QuickFails(entry, &recorded, now, taken_at), what == std::string("manifest digest changed")) << what;
  }
}

// A file the record knows, changed by the realm since, is fetched without being read first.
TEST(QuickCheck, AFileTheRealmChangedIsFetchedUnread) {
  UpdateRun warm, run;
  Manifest m = PresentFiles(warm, {{"a", 8}, {"b", 8}});
  for (UpdateRun* r : {&warm, &run}) r->updater->UseRecord(L"record", false);
  warm.Go(m);
  run.backend->files = warm.backend->files, run.backend->small = warm.backend->small;
  m.game_files[1] = Entry("b", "changed!");
  run.Serve(m.game_files[1], "changed!");
  run.Go(m);
  EXPECT_EQ(run.File("b"), "changed!");
  EXPECT_EQ(run.backend->hashed, std::vector<std::wstring>{ClientTargetPath(kClient, "b")});  // once downloaded
}

// A stored record serves only as written, for the folder it was written for.
TEST(QuickCheck, ARecordIsTrustedOnlyWhenWhole) {
  const FolderIdentity folder{L"C:\\Games\\WoW", 5, 9};
  const auto write = [&](std::vector<VerifiedFile> files, std::uint64_t id = 9) {
    return SerializeRecord({{folder.path, 5, id}, 1, std::move(files)});
  };
  const VerifiedFile a = Verified("data/a.mpq", {10, 1, 2, 3}, std::string(32, 'a'), ""),
                     b = Verified("wow.exe", {1, 1, 1, 1}, "", std::string(64, 'b'));
  auto outside = b, unnormal = b, huge = b;
  outside.key = "../wow.exe", unnormal.key = "Wow.exe", huge.identity.size = std::int64_t{1} << 60;
  std::string version = write({a}), flipped = version;
  version[4] = 7, flipped[flipped.size() - 5] ^= 1;  // the digest's last byte: only the CRC guards it
  const std::pair<std::string, bool> rows[] = {
      {write({a, b}), true},
      {write({a, b}, 8), false},
      {write({a, a}), false},
      {write({b, a}), false},
      {write({a, outside}), false},
      {write({a, unnormal}), false},
      {write({a, huge}), false},
      {write({a}).substr(0, 40), false},
      {flipped, false},
      {version, false},
      {"", false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    VerifiedRecord read;
    std::string why;
    EXPECT_EQ(ParseRecord(rows[i].first, read, why) && RecordProblem(read, folder).empty(), rows[i].second) << i;
  }
  VerifiedRecord read;
  std::string why;
  ParseRecord(version, read, why);
  EXPECT_EQ(why, "unknown format version 7");
}

// Only checks that ran to their end are remembered: a check stopped by a cancel, or by
// the run ending on a failed download, is read again next time, so a wrong file is
// still repaired; a file that an unpacking overwrote after the listing is read at once.
TEST(QuickCheck, OnlyFinishedChecksAreRemembered) {
  for (const std::string stop : {"cancel", "failed download", "unpacked over", "unpacked over from the root"}) {
    UpdateRun warm(2), first(2), second(2);
    Manifest m = PresentFiles(warm, {{"a", 1}, {"n", 1}, {"b", 64}, {"c", 512}, {"sub/d", 64}, {"subway", 1}});
    for (UpdateRun* run : {&warm, &first, &second}) {
      run->backend->piece_bytes = 8;
      run->updater->UseRecord(L"record", false);
      for (const auto& entry : m.game_files) run->Serve(entry, std::string(size_t(entry.size), entry.path[0]));
    }
    Manifest known = m;  // n is new after the first run: its check starts the check threads
    known.game_files.erase(known.game_files.begin() + 1);
    warm.Go(known);
    first.backend->files = warm.backend->files, first.backend->small = warm.backend->small;
    first.File("c") = std::string(512, 'x');  // wrong, same size
    std::atomic<int> pieces{0};
    if (stop == "cancel") {
      first.backend->on_piece = [&](const std::wstring&) {
        if (++pieces == 12) first.updater->Cancel();  // the loop waiting for c, read by a worker
      };
    } else if (stop == "failed download") {
      first.File("b") = std::string(64, 'x');
      first.backend->server.erase(Widen(m.game_files[2].cdn_url));
      first.backend->on_piece = [&](const std::wstring& path) {
        if (path == ClientTargetPath(kClient, "c")) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      };
    } else {
      const bool root = stop == "unpacked over from the root";
      first.File("b") = std::string(64, 'x');
      m.game_files[2].extract_to = root ? "." : "sub";
      first.backend->unpacked[root ? L"sub\\d" : L"d"] = std::string(64, 'y');  // sub/d was listed unchanged before
    }
    first.Go(m);
    EXPECT_EQ(first.File("sub/d"), std::string(64, 's')) << stop;  // repaired at once when unpacked over
    second.backend->files = first.backend->files, second.backend->small = first.backend->small;
    second.Go(m);
    for (const char* name : {"b", "c", "sub/d"}) EXPECT_EQ(second.File(name)[0], name[0]) << stop << " " << name;
    const auto& read = second.backend->checked;
    // a and subway (beside sub, not in it) stay trusted, unless an archive was unpacked over the whole client folder
    const int rereads = stop == "unpacked over from the root" ? 1 : 0;
    for (const char* name : {"a", "subway"})
      EXPECT_EQ(std::count(read.begin(), read.end(), ClientTargetPath(kClient, name)), rereads) << stop << name;
    EXPECT_LE(first.backend->replaced, 2) << stop;
  }
}
