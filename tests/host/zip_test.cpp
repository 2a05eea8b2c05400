// The built-in ZIP reader and inflater, entry names, and extraction to disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "archive/inflate.h"
#include "archive/tar_command.h"
#include "archive/zip_copy_watch.h"
#include "archive/zip_entry_path.h"
#include "archive/zip_extract.h"
#include "archive/zip_reader.h"
#include "test_util.h"
#include "zip_test_data.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

const std::uint8_t* Data(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// Every file entry of an in-memory archive; `error` is the first failure.
struct Unpacked {
  std::string error;
  std::map<std::string, std::string> files;
  std::size_t largest_piece = 0;
};

Unpacked UnpackInMemory(const std::string& archive) {
  Unpacked r;
  MemoryByteSource source(Data(archive), archive.size());
  ZipReader reader(source);
  if (!reader.ReadDirectory(r.error)) return r;
  for (const auto& entry : reader.entries()) {
    std::string& out = r.files[entry.name];
    const auto append = [&](const std::uint8_t* p, std::size_t n) {
      r.largest_piece = std::max(r.largest_piece, n);
      return out.append(reinterpret_cast<const char*>(p), n), true;
    };
    if (!entry.is_directory && !reader.ReadEntry(entry, append, r.error)) break;
  }
  return r;
}

// Every block type decodes whatever the input piece size: held by the zip fuzzer,
// which compares byte-at-a-time input with whole input; content by the extraction test.
TEST(Inflate, MalformedStreamsFailWithTheirReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x01\x05\x00\x00\x00\x61"s, "stored block length check failed"},  // NLEN is not ~LEN
      {"\x01\x05\x00\xFA\xFF\x61\x62"s, "ends early"},                    // 5 bytes promised, 2 sent
      {"\x03\x02\x00"s, "distance too far back"},                         // a match before any output
  };
  for (const auto& [data, reason] : cases) {
    std::size_t pos = 0;
    std::string error;
    const InflateInput input = [&, &data = data](std::uint8_t* buffer, std::size_t capacity) {
      const std::size_t n = data.copy(reinterpret_cast<char*>(buffer), capacity, pos);
      return pos += n, n;
    };
    EXPECT_FALSE(Inflate(
        input, [](const std::uint8_t*, std::size_t) { return true; }, error));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

// A refused piece ends the entry at once, not after all 2 MiB are decoded.
TEST(ZipReader, TheOutputCanStopAnEntry) {
  const std::string archive = ziptest::ReadData("large.zip");
  MemoryByteSource source(Data(archive), archive.size());
  ZipReader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadDirectory(error)) << error;
  const auto entry = std::find_if(reader.entries().begin(), reader.entries().end(),
                                  [](const auto& e) { return e.name == "big/compressible.dat"; });
  std::size_t received = 0;
  EXPECT_FALSE(reader.ReadEntry(
      *entry, [&](const std::uint8_t*, std::size_t n) { return received += n, false; }, error));
  EXPECT_NE(error.find("output refused"), std::string::npos) << error;
  EXPECT_LT(received, 1024u * 1024u);
}

TEST(ZipReader, CorruptOrDamagedArchivesFailWithAClearReason) {
  const std::string stored = ziptest::ReadData("stored.zip");
  const std::size_t end = stored.rfind("PK\x05\x06"), central = stored.rfind("PK\x01\x02");  // of the second entry
  const auto damaged = [](std::string b, const std::function<void(std::string&)>& damage) { return damage(b), b; };
  // Info-ZIP's forced ZIP64: b.txt's size in ZIP64 extra fields (central: size; local: size, compressed size).
  const std::string zip64 = ziptest::ReadData("zip64_infozip.zip");
  const std::size_t record = zip64.find("PK\x06\x06"), locator = zip64.find("PK\x06\x07");
  const std::size_t central_b = zip64.rfind("PK\x01\x02");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {ziptest::ReadData("corrupt_crc.zip"), "CRC mismatch in \"damaged.bin\""},
      {ziptest::ReadData("bad_deflate.zip"), "bad deflate data: invalid block type in \"broken.txt\""},
      {ziptest::ReadData("truncated.zip"), "end of central directory not found"},
      {ziptest::ReadData("truncated_data.zip"), "truncated archive: data of \"cut.bin\""},
      {ziptest::ReadData("size_mismatch.zip"), "unpacks to 3000 bytes instead of the declared 3001"},
      {damaged(stored, [&](std::string& b) { b[central] = 'X'; }), "bad central directory signature"},
      {damaged(stored, [&](std::string& b) { b[0] = 'X'; }), "bad local header signature"},
      {damaged(stored, [&](std::string& b) { b[b.find("PK\x03\x04", 1) + 8] = b[central + 10] = 12; }),  // bzip2
       "unsupported compression method 12"},
      {damaged(stored, [&](std::string& b) { testutil::PutLe(b, central + 42, 0); }),
       "overlap"},                                                                // both entries' data at 0
      {damaged(stored, [&](std::string& b) { b[end + 10] = 3; }), "multi-part"},  // 3 entries, 2 on this disk
      {damaged(stored, [&](std::string& b) { testutil::PutLe(b, end + 16, static_cast<std::uint32_t>(end)); }),
       "central directory lies outside"},
      {damaged(zip64, [&](std::string& b) { b[record] = 'X'; }), "ZIP64 end record is not where its locator points"},
      {damaged(zip64, [&](std::string& b) { testutil::PutLe(b, locator + 8, 1ull << 40, 8); }),  // the record's offset
       "ZIP64 end record disagrees with the central directory's place"},
      {damaged(zip64, [&](std::string& b) { testutil::PutLe(b, record + 32, 3, 8); }), "disagrees with the end record"},
      {damaged(zip64, [&](std::string& b) { b[central_b + 51] = 9; }), "\"b.txt\": its ZIP64 extra field is missing"},
      {damaged(zip64, [&](std::string& b) { b[central_b + 53] = 4; }), "ZIP64 extra field is too short"},
      {damaged(zip64, [&](std::string& b) { testutil::PutLe(b, central_b + 55, 2001, 8); }),
       "local header of \"b.txt\" do not match the central directory"},
      {damaged(zip64, [&](std::string& b) { testutil::PutLe(b, central_b + 55, 1ull << 40, 8); }),
       "declares 1099511627776 bytes, more than its 1018 compressed bytes can hold"},
  };
  for (const auto& [archive, reason] : cases) {
    const std::string error = UnpackInMemory(archive).error;
    EXPECT_NE(error.find(reason), std::string::npos) << reason << ": " << error;
  }
  for (const std::string& archive : {stored, zip64}) {
    for (std::size_t size = 0; size < archive.size(); ++size) {
      EXPECT_NE(UnpackInMemory(archive.substr(0, size)).error, "") << "cut at " << size;
    }
  }
}

// A deflated entry claiming 1,000 times its compressed size: small pieces, then a size error.
TEST(ZipReader, HugeDeclaredSizeIsStreamedNotAllocated) {
  std::string b = ziptest::ReadData("size_mismatch.zip");
  testutil::PutLe(b, 22, 1530000);
  testutil::PutLe(b, b.rfind("PK\x01\x02") + 24, 1530000);
  const Unpacked result = UnpackInMemory(b);
  EXPECT_NE(result.error.find("instead of the declared 1530000"), std::string::npos) << result.error;
  EXPECT_EQ(result.files.at("short.txt").size(), 3000u);
  EXPECT_LE(result.largest_piece, 256u * 1024u);
}

// ZIP64 archives made by real tools at test time (make_zip64.py): the reader lists the
// names and gives the bytes Info-ZIP's unzip does; big.zip holds 4 GiB + 1 MiB of zeros.
// Made by Linux tools; not under TSan, where the big entry alone takes minutes.
#if !defined(_WIN32) && defined(__has_feature)
#if !__has_feature(thread_sanitizer)
TEST(ZipReader, Zip64ArchivesOfRealToolsReadAsUnzipReadsThem) {
  testutil::TempDir dir;
  const auto shell = [&](const std::string& command) {
    return std::system(("cd '" + dir.path().string() + "' && " + command).c_str());
  };
  ASSERT_EQ(shell("python3 '" + ziptest::DataFile("make_zip64.py").string() + "' . --big"), 0);
  for (const std::string name : {"infozip_fz.zip", "force_zip64.zip", "many_entries.zip", "streamed.zip", "big.zip"}) {
    const bool big = name == "big.zip";
    ASSERT_EQ(shell("zipinfo -1 " + name + " > names" + (big ? "" : " && unzip -p " + name + " > data")), 0);
    FileByteSource source;
    ASSERT_TRUE(source.Open(dir / name));
    ZipReader reader(source);
    std::string error, names, data;
    ASSERT_TRUE(reader.ReadDirectory(error)) << name << ": " << error;
    static const std::string kZeros(1 << 20, '\0');
    for (const auto& entry : reader.entries()) {
      names += entry.name + "\n";
      const auto take = [&](const std::uint8_t* p, std::size_t n) {
        if (big) return n <= kZeros.size() && std::memcmp(p, kZeros.data(), n) == 0;
        return data.append(reinterpret_cast<const char*>(p), n), true;
      };
      EXPECT_TRUE(reader.ReadEntry(entry, take, error)) << name << ": " << error;
    }
    EXPECT_EQ(names, testutil::ReadBytes(dir / "names")) << name;
    EXPECT_TRUE(big ? reader.entries()[0].size == (4097ull << 20) : data == testutil::ReadBytes(dir / "data")) << name;
  }
}
#endif
#endif

// Names split into the parts written below the destination; a name that
// leaves the folder or that Windows would read as something else is refused.
TEST(ZipEntryPath, NamesSplitIntoPartsOrAreRefused) {
  const std::vector<std::pair<std::string, std::vector<std::wstring>>> accepted = {
      {"a\\b/c.txt", {L"a", L"b", L"c.txt"}},  {"./x//y/./z", {L"x", L"y", L"z"}},    {"dir/", {L"dir"}},
      {"..data/x..y", {L"..data", L"x..y"}},   {"console.txt", {L"console.txt"}},     {"com10", {L"com10"}},
      {"caf\xC3\xA9/x", {L"caf\u00E9", L"x"}}, {"\xF0\x9F\x98\x80", {L"\U0001F600"}},
  };
  std::vector<std::wstring> parts;
  std::string error;
  for (const auto& [name, expected] : accepted) {
    EXPECT_TRUE(ZipEntryPathParts(name, true, parts, error)) << name << ": " << error;
    EXPECT_EQ(parts, expected) << name;
  }
  EXPECT_TRUE(ZipEntryPathParts("caf\xC3\xA9", false, parts, error));  // not flagged UTF-8: a character per byte
  EXPECT_EQ(parts, (std::vector<std::wstring>{L"caf\u00C3\u00A9"}));

  const std::vector<std::pair<std::string, std::vector<std::string>>> refused = {
      {"\"..\"", {"../evil.txt", "a\\..\\..\\evil.txt", "a/.."}},
      {"absolute", {"/abs.txt", "\\abs.txt"}},
      {"drive letter or stream", {"C:drive.txt", "file.txt:stream"}},
      {"empty", {""}},
      {"device", {"a/CON", "nul.txt", "Com1.log"}},
      {"character", {"a/b<c", "nul\0byte"s}},
      {"dot or a blank", {"trailing /x", "..."}},
      {"UTF-8", {"caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}},  // cut short, overlong, surrogate, bad lead byte
  };
  for (const auto& [reason, names] : refused) {
    for (const auto& name : names) {
      EXPECT_FALSE(ZipEntryPathParts(name, true, parts, error)) << name;
      EXPECT_NE(error.find(reason), std::string::npos) << name << ": " << error;
    }
  }
}

std::vector<ZipExtractionItem> Plan(const fs::path& archive) {
  FileByteSource source;
  EXPECT_TRUE(source.Open(archive));
  ZipReader reader(source);
  std::string error;
  std::vector<ZipExtractionItem> items;
  EXPECT_TRUE(reader.ReadDirectory(error) && PlanZipExtraction(reader.entries(), items, error)) << error;
  return items;
}

std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) names.push_back(fs::relative(e.path(), root).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ExtractZipArchive, WritesFilesAndFoldersAndReplacesExistingFiles) {
  testutil::TempDir dir;
  testutil::WriteBytes(dir / "hello.txt", "an older, longer version of this file that must go");
  testutil::WriteBytes(dir / "a/b/c/deep.txt", "old");
  testutil::WriteBytes(dir / "unrelated.txt", "stays");
  std::string error;
  ASSERT_TRUE(ExtractZipArchive(ziptest::DataFile("deflated.zip"), dir.path(), error)) << error;
  ASSERT_TRUE(ExtractZipArchive(ziptest::DataFile("large.zip"), dir.path(), error)) << error;

  EXPECT_EQ(testutil::ReadBytes(dir / "hello.txt"), "hello hello hello hello\n");
  EXPECT_TRUE(testutil::ReadBytes(dir / "a/b/c/deep.txt") == ziptest::Compressible(20000));
  EXPECT_TRUE(testutil::ReadBytes(dir / "big/compressible.dat") == ziptest::Compressible(2 * 1024 * 1024));
  EXPECT_TRUE(fs::is_empty(dir / "emptydir"));
  // Exactly the archives' files and the unrelated one: no partial files left behind.
  EXPECT_EQ(
      FilesBelow(dir.path()),
      (std::vector<std::string>{"a/b/c/deep.txt", "a/noise.bin", "big/compressible.dat", "big/letters.txt", "empty.txt",
                                "empty_stored.txt", "hello.txt", "implicit/parent/file.txt", "unrelated.txt"}));
}

// An escaping name refuses the whole archive up front, even its harmless entries; a
// damaged entry never replaces the good file (first.txt, before it, was fine).
TEST(ExtractZipArchive, EscapingNamesAndCorruptEntriesLeaveGoodFiles) {
  for (const auto& [archive, reason, left] :
       {std::make_tuple("escape_dotdot.zip", "refused entry", "damaged.bin"),
        std::make_tuple("escape_nested_dotdot.zip", "refused entry", "damaged.bin"),
        std::make_tuple("escape_backslash.zip", "refused entry", "damaged.bin"),
        std::make_tuple("escape_absolute.zip", "refused entry", "damaged.bin"),
        std::make_tuple("escape_drive.zip", "refused entry", "damaged.bin"),
        std::make_tuple("corrupt_crc.zip", "CRC mismatch", "damaged.bin first.txt")}) {
    testutil::TempDir outer;
    testutil::WriteBytes(outer / "dest/damaged.bin", "the good file");
    std::string error, files;
    EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile(archive), outer / "dest", error)) << archive;
    EXPECT_NE(error.find(reason), std::string::npos) << archive << ": " << error;
    EXPECT_EQ(testutil::ReadBytes(outer / "dest/damaged.bin"), "the good file");
    for (const auto& name : FilesBelow(outer.path())) files += (files.empty() ? "" : " ") + name.substr(5);
    EXPECT_EQ(files, left) << archive;
  }
}

// The shell's copy runs on its own: done only once every file is there, right
// and unchanged between two looks, and every folder exists.
TEST(ZipCopyWatch, DoneOnlyWhenEverythingIsThereUnchangedAndRight) {
  testutil::TempDir dir;
  const auto items = Plan(ziptest::DataFile("deflated.zip"));
  ZipCopyWatch watch(dir.path(), items);
  EXPECT_FALSE(watch.Poll());
  EXPECT_NE(watch.pending().find("missing"), std::string::npos) << watch.pending();
  std::string error;
  ASSERT_TRUE(ExtractZipArchive(ziptest::DataFile("deflated.zip"), dir.path(), error)) << error;
  EXPECT_FALSE(watch.Poll());  // just changed: wait for one more look
  EXPECT_TRUE(watch.Poll());

  // Same size, other content: an old file the copy has not replaced yet; then a folder missing.
  ZipCopyWatch later(dir.path(), items);
  const std::string good = testutil::ReadBytes(dir / "a/noise.bin");
  testutil::WriteBytes(dir / "a/noise.bin", std::string(good).replace(100, 1, "?"));
  EXPECT_FALSE(later.Poll() || later.Poll());
  EXPECT_NE(later.pending().find("content differs"), std::string::npos) << later.pending();
  fs::remove_all(dir / "emptydir");
  testutil::WriteBytes(dir / "a/noise.bin", good);
  EXPECT_FALSE(later.Poll());
  EXPECT_NE(later.pending().find("emptydir"), std::string::npos) << later.pending();
}

TEST(TarCommandLine, QuotesBothPathsAndKeepsTrailingBackslashesHarmless) {
  EXPECT_EQ(TarCommandLine(L"C:\\Windows\\system32\\tar.exe", L"C:\\My Games\\client pkg.zip", L"C:\\My Games\\WoW"),
            L"\"C:\\Windows\\system32\\tar.exe\" -xf \"C:\\My Games\\client pkg.zip\" -C \"C:\\My Games\\WoW\"");
  EXPECT_EQ(TarCommandLine(L"t.exe", L"a.zip", L"D:\\"), L"\"t.exe\" -xf \"a.zip\" -C \"D:\\.\"");
}

}  // namespace
