#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"
#include "update/crc32.h"
#include "update/inflate.h"
#include "update/zip_entry_path.h"
#include "update/zip_reader.h"
#include "zip_test_data.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Crc(const std::string& s) {
  return Crc32Update(0, reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// Reads the directory and every entry of an in-memory archive; "" when all
// went well, else the first error.
struct Unpacked {
  std::string error;
  std::map<std::string, std::string> files;
  std::vector<std::string> folders;
};

Unpacked UnpackInMemory(const Bytes& archive) {
  Unpacked result;
  MemoryZipSource source(archive.data(), archive.size());
  ZipReader reader(source);
  if (!reader.ReadDirectory(result.error)) return result;
  for (const auto& entry : reader.entries()) {
    if (entry.is_directory) {
      result.folders.push_back(entry.name);
      continue;
    }
    std::string data;
    const auto sink = [&data](const std::uint8_t* p, std::size_t n) {
      data.append(reinterpret_cast<const char*>(p), n);
      return true;
    };
    if (!reader.ReadEntry(entry, sink, result.error)) return result;
    result.files[entry.name] = data;
  }
  return result;
}

// The raw deflate data of one entry, found through the local header.
Bytes DeflateData(const Bytes& archive, const std::string& name) {
  MemoryZipSource source(archive.data(), archive.size());
  ZipReader reader(source);
  std::string error;
  EXPECT_TRUE(reader.ReadDirectory(error)) << error;
  for (const auto& e : reader.entries()) {
    if (e.name != name) continue;
    const std::size_t at = e.local_header_offset;
    const std::size_t start =
        at + 30 + (archive[at + 26] | archive[at + 27] << 8) + (archive[at + 28] | archive[at + 29] << 8);
    return Bytes(archive.begin() + start, archive.begin() + start + e.compressed_size);
  }
  ADD_FAILURE() << "no entry " << name;
  return {};
}

// Inflates `data`, handing it to the decoder at most `piece` bytes at a time.
bool InflateInPieces(const Bytes& data, std::size_t piece, std::string& out, std::string& error) {
  std::size_t pos = 0;
  const InflateInput input = [&](std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t n = std::min({piece, capacity, data.size() - pos});
    std::copy(data.begin() + pos, data.begin() + pos + n, buffer);
    pos += n;
    return n;
  };
  const InflateOutput output = [&](const std::uint8_t* p, std::size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
    return true;
  };
  return Inflate(input, output, error);
}

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t FindLast(const Bytes& b, std::uint32_t signature) {
  if (b.size() < 4) return std::string::npos;
  for (std::size_t i = b.size() - 3; i-- > 0;) {
    if ((b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<std::uint32_t>(b[i + 3]) << 24) == signature) return i;
  }
  return std::string::npos;
}

TEST(Crc32, CheckValueAndPiecewiseUpdate) {
  EXPECT_EQ(Crc("123456789"), 0xCBF43926u);  // the CRC-32 check value
  EXPECT_EQ(Crc(""), 0u);
  const std::string data = testutil::PatternBytes(1001, 5);
  std::uint32_t crc = 0;
  for (std::size_t at = 0; at < data.size(); at += 7) {
    const std::size_t n = std::min<std::size_t>(7, data.size() - at);
    crc = Crc32Update(crc, reinterpret_cast<const std::uint8_t*>(data.data()) + at, n);
  }
  EXPECT_EQ(crc, Crc(data));
}

TEST(Inflate, AllBlockTypesWhateverTheInputPieceSize) {
  const Bytes deflated = ziptest::ReadData("deflated.zip");
  const Bytes large = ziptest::ReadData("large.zip");
  struct Case {
    Bytes data;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {DeflateData(deflated, "hello.txt"), "hello hello hello hello\n"},         // fixed codes
      {DeflateData(deflated, "a/noise.bin"), testutil::PatternBytes(70000, 2)},  // stored blocks
      {DeflateData(deflated, "a/b/c/deep.txt"), ziptest::Compressible(20000)},   // one dynamic block
      {DeflateData(large, "big/letters.txt"), ziptest::Letters(96 * 1024)},      // several dynamic blocks
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
      std::string out, error;
      EXPECT_TRUE(InflateInPieces(c.data, piece, out, error)) << error;
      EXPECT_TRUE(out == c.expected) << "piece " << piece << ", got " << out.size() << " bytes";
    }
  }
}

TEST(Inflate, MalformedStreamsFailWithAReason) {
  const Bytes large = ziptest::ReadData("large.zip");
  const Bytes whole = DeflateData(large, "big/compressible.dat");
  struct Case {
    Bytes data;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{0xFF, 0xFF}, "invalid block type"},
      {{0x01, 0x05, 0x00, 0x00, 0x00, 'a'}, "stored block length check failed"},  // NLEN is not ~LEN
      {{0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, "ends early"},                   // 5 bytes promised, 2 sent
      {{0x03, 0x02, 0x00}, "distance too far back"},                              // a match before any output
      {Bytes(whole.begin(), whole.begin() + whole.size() / 2), "ends early"},
      {{}, "ends early"},
  };
  for (const auto& c : cases) {
    std::string out, error;
    EXPECT_FALSE(InflateInPieces(c.data, 1 << 20, out, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.rfind("bad deflate data: ", 0), 0u) << error;
  }
}

TEST(Inflate, OutputCanStopTheDecoding) {
  const Bytes data = DeflateData(ziptest::ReadData("large.zip"), "big/compressible.dat");
  std::size_t pos = 0, received = 0;
  const InflateInput input = [&](std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, data.size() - pos);
    std::copy(data.begin() + pos, data.begin() + pos + n, buffer);
    pos += n;
    return n;
  };
  const InflateOutput output = [&](const std::uint8_t*, std::size_t n) {
    received += n;
    return false;
  };
  std::string error;
  EXPECT_FALSE(Inflate(input, output, error));
  EXPECT_EQ(error, "output refused");
  // It stopped after its first piece instead of decoding the whole 2 MiB.
  EXPECT_GT(received, 0u);
  EXPECT_LT(received, 1024u * 1024u);
}

TEST(ZipReader, ReadsStoredDeflatedEmptyAndFolderEntries) {
  const Unpacked stored = UnpackInMemory(ziptest::ReadData("stored.zip"));
  ASSERT_EQ(stored.error, "");
  EXPECT_EQ(stored.files.at("readme.txt"), "Stored, not compressed.\r\n");
  EXPECT_TRUE(stored.files.at("Data/patch-4.MPQ") == testutil::PatternBytes(3000, 1));

  const Unpacked deflated = UnpackInMemory(ziptest::ReadData("deflated.zip"));
  ASSERT_EQ(deflated.error, "");
  EXPECT_EQ(deflated.files.size(), 6u);
  EXPECT_EQ(deflated.files.at("empty.txt"), "");
  EXPECT_EQ(deflated.files.at("empty_stored.txt"), "");
  EXPECT_EQ(deflated.files.at("implicit/parent/file.txt"), "folders made without entries of their own\n");
  EXPECT_EQ(deflated.folders, (std::vector<std::string>{"a/", "a/b/", "emptydir/"}));

  const Unpacked large = UnpackInMemory(ziptest::ReadData("large.zip"));
  ASSERT_EQ(large.error, "");
  EXPECT_TRUE(large.files.at("big/compressible.dat") == ziptest::Compressible(2 * 1024 * 1024));
}

TEST(ZipReader, ArchiveAfterAPrefixIsFound) {
  // As in a self-extracting archive: other bytes come first.
  Bytes archive(1000, 0x90);
  const Bytes stored = ziptest::ReadData("stored.zip");
  archive.insert(archive.end(), stored.begin(), stored.end());
  const Unpacked result = UnpackInMemory(archive);
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.files.at("readme.txt"), "Stored, not compressed.\r\n");
}

TEST(ZipReader, CorruptArchivesFailWithAClearReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"corrupt_crc.zip", "CRC mismatch in \"damaged.bin\""},
      {"bad_deflate.zip", "bad deflate data: invalid block type in \"broken.txt\""},
      {"truncated.zip", "end of central directory not found"},
      {"truncated_data.zip", "truncated archive: data of \"cut.bin\""},
      {"size_mismatch.zip", "unpacks to 3000 bytes instead of the declared 3001"},
      {"zip64.zip", "ZIP64 archives are not supported"},
  };
  for (const auto& [name, reason] : cases) {
    const Unpacked result = UnpackInMemory(ziptest::ReadData(name));
    EXPECT_NE(result.error.find(reason), std::string::npos) << name << ": " << result.error;
  }
}

TEST(ZipReader, DamagedHeadersAreRefused) {
  const Bytes good = ziptest::ReadData("stored.zip");
  const std::size_t end = FindLast(good, 0x06054B50);
  const std::size_t central = FindLast(good, 0x02014B50);  // the second entry's record
  ASSERT_NE(end, std::string::npos);
  ASSERT_NE(central, std::string::npos);

  Bytes b = good;
  b[central] = 'X';
  EXPECT_NE(UnpackInMemory(b).error.find("bad central directory signature"), std::string::npos);

  b = good;
  b[0] = 'X';  // the first entry's local header
  EXPECT_NE(UnpackInMemory(b).error.find("bad local header signature"), std::string::npos);

  b = good;
  PutLe32(b, central + 42, 0);  // both entries claim the same data
  EXPECT_NE(UnpackInMemory(b).error.find("overlap"), std::string::npos) << UnpackInMemory(b).error;

  b = good;
  b[end + 10] = b[end + 11] = 0xFF;  // entry count of a ZIP64 archive
  EXPECT_NE(UnpackInMemory(b).error.find("ZIP64"), std::string::npos);

  b = good;
  PutLe32(b, end + 16, static_cast<std::uint32_t>(end));  // directory would run past the end record
  EXPECT_NE(UnpackInMemory(b).error.find("central directory lies outside"), std::string::npos);

  // No cut of an archive reads as a good one.
  for (std::size_t size = 0; size < good.size(); ++size) {
    const Unpacked cut = UnpackInMemory(Bytes(good.begin(), good.begin() + size));
    EXPECT_NE(cut.error, "") << "cut at " << size;
  }
}

TEST(ZipReader, HugeDeclaredSizeIsStreamedNotAllocated) {
  // A deflated entry that claims nearly 4 GiB: the data arrive in small
  // pieces and the reading fails on the size once the data run out.
  Bytes b = ziptest::ReadData("size_mismatch.zip");
  const std::size_t central = FindLast(b, 0x02014B50);
  PutLe32(b, 22, 0xFFFFFFF0u);
  PutLe32(b, central + 24, 0xFFFFFFF0u);
  MemoryZipSource source(b.data(), b.size());
  ZipReader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadDirectory(error)) << error;
  std::size_t largest_piece = 0, total = 0;
  const ZipOutput output = [&](const std::uint8_t*, std::size_t n) {
    largest_piece = std::max(largest_piece, n);
    total += n;
    return true;
  };
  EXPECT_FALSE(reader.ReadEntry(reader.entries().at(0), output, error));
  EXPECT_NE(error.find("instead of the declared 4294967280"), std::string::npos) << error;
  EXPECT_EQ(total, 3000u);
  EXPECT_LE(largest_piece, 256u * 1024u);
}

TEST(ZipReader, ReadsFromAFileSource) {
  FileZipSource source;
  ASSERT_TRUE(source.Open(ziptest::DataFile("large.zip")));
  ZipReader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadDirectory(error)) << error;
  ASSERT_EQ(reader.entries().size(), 2u);
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  const ZipOutput output = [&](const std::uint8_t* p, std::size_t n) {
    crc = Crc32Update(crc, p, n);
    size += n;
    return true;
  };
  ASSERT_TRUE(reader.ReadEntry(reader.entries()[0], output, error)) << error;
  EXPECT_EQ(size, 2u * 1024 * 1024);
  EXPECT_EQ(crc, Crc(ziptest::Compressible(2 * 1024 * 1024)));
  EXPECT_FALSE(FileZipSource().Open(ziptest::DataFile("no-such.zip")));
}

TEST(ZipEntryPath, AcceptedNamesSplitIntoParts) {
  const std::vector<std::pair<std::string, std::vector<std::wstring>>> cases = {
      {"a/b/c.txt", {L"a", L"b", L"c.txt"}},
      {"a\\b\\c.txt", {L"a", L"b", L"c.txt"}},
      {"./x//y/./z", {L"x", L"y", L"z"}},
      {"dir/", {L"dir"}},
      {"./", {}},
      {"..data/x..y", {L"..data", L"x..y"}},
      {".hidden", {L".hidden"}},
      {"console.txt", {L"console.txt"}},
      {"com10", {L"com10"}},
  };
  for (const auto& [name, parts] : cases) {
    std::vector<std::wstring> got;
    std::string error;
    EXPECT_TRUE(ZipEntryPathParts(name, false, got, error)) << name << ": " << error;
    EXPECT_EQ(got, parts) << name;
  }
}

TEST(ZipEntryPath, NamesLeavingTheFolderOrUnfitForWindowsAreRefused) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"../evil.txt", "\"..\""},
      {"a/../../evil.txt", "\"..\""},
      {"a\\..\\..\\evil.txt", "\"..\""},
      {"a/..", "\"..\""},
      {"/abs.txt", "absolute"},
      {"\\abs.txt", "absolute"},
      {"C:/drive.txt", "drive letter"},
      {"C:drive.txt", "drive letter"},
      {"file.txt:stream", "drive letter or stream"},
      {"", "empty"},
      {"a/CON", "device"},
      {"nul.txt", "device"},
      {"Com1.log", "device"},
      {"lpt9", "device"},
      {"a/b<c", "character"},
      {"q?.txt", "character"},
      {std::string("nul\0byte", 8), "character"},
      {"tab\tname", "character"},
      {"trailing.", "dot or a blank"},
      {"trailing /x", "dot or a blank"},
      {"...", "dot or a blank"},
  };
  for (const auto& [name, reason] : cases) {
    std::vector<std::wstring> parts;
    std::string error;
    EXPECT_FALSE(ZipEntryPathParts(name, false, parts, error)) << name;
    EXPECT_NE(error.find(reason), std::string::npos) << name << ": " << error;
  }
}

TEST(ZipEntryPath, Utf8NamesAreDecodedOnlyWhenFlagged) {
  std::vector<std::wstring> parts;
  std::string error;
  ASSERT_TRUE(ZipEntryPathParts("caf\xC3\xA9/x", true, parts, error)) << error;
  EXPECT_EQ(parts, (std::vector<std::wstring>{L"caf\u00E9", L"x"}));
  ASSERT_TRUE(ZipEntryPathParts("caf\xC3\xA9", false, parts, error));
  EXPECT_EQ(parts, (std::vector<std::wstring>{L"caf\u00C3\u00A9"}));
  ASSERT_TRUE(ZipEntryPathParts("\xF0\x9F\x98\x80", true, parts, error)) << error;
  EXPECT_EQ(parts.at(0).size(), sizeof(wchar_t) == 2 ? 2u : 1u);
  for (const std::string bad : {"caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
    EXPECT_FALSE(ZipEntryPathParts(bad, true, parts, error)) << bad;
    EXPECT_NE(error.find("UTF-8"), std::string::npos);
  }
}

}  // namespace
