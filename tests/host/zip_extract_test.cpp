#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"
#include "update/tar_command.h"
#include "update/zip_copy_watch.h"
#include "update/zip_extract.h"
#include "update/zip_reader.h"
#include "zip_test_data.h"

namespace fs = std::filesystem;

namespace {

std::vector<ZipExtractionItem> Plan(const fs::path& archive) {
  FileZipSource source;
  EXPECT_TRUE(source.Open(archive));
  ZipReader reader(source);
  std::string error;
  std::vector<ZipExtractionItem> items;
  EXPECT_TRUE(reader.ReadDirectory(error) && PlanZipExtraction(reader.entries(), items, error)) << error;
  return items;
}

// Every file below `root`, as sorted relative generic paths.
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
  EXPECT_EQ(fs::file_size(dir / "empty.txt"), 0u);
  EXPECT_TRUE(fs::is_empty(dir / "emptydir"));
  // Exactly the archives' files and the unrelated one: no partial files left behind.
  EXPECT_EQ(
      FilesBelow(dir.path()),
      (std::vector<std::string>{"a/b/c/deep.txt", "a/noise.bin", "big/compressible.dat", "big/letters.txt", "empty.txt",
                                "empty_stored.txt", "hello.txt", "implicit/parent/file.txt", "unrelated.txt"}));
  ASSERT_TRUE(ExtractZipArchive(ziptest::DataFile("utf8_names.zip"), dir.path(), error)) << error;
  EXPECT_EQ(testutil::ReadBytes(dir.path() / fs::u8path("caf\xC3\xA9/na\xC3\xAFve.txt")), "utf-8 name\n");
}

TEST(ExtractZipArchive, EscapingNamesAreRefusedBeforeAnythingIsWritten) {
  for (const char* archive : {"escape_dotdot.zip", "escape_nested_dotdot.zip", "escape_backslash.zip",
                              "escape_absolute.zip", "escape_drive.zip"}) {
    testutil::TempDir outer;
    fs::create_directories(outer / "dest");
    std::string error;
    EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile(archive), outer / "dest", error)) << archive;
    EXPECT_NE(error.find("refused entry"), std::string::npos) << archive << ": " << error;
    // Not even the harmless entry: the whole archive is refused up front.
    EXPECT_EQ(FilesBelow(outer.path()), std::vector<std::string>{}) << archive;
  }
}

TEST(ExtractZipArchive, CorruptEntryNeverReplacesAGoodFile) {
  testutil::TempDir dir;
  testutil::WriteBytes(dir / "damaged.bin", "the good file");
  std::string error;
  EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile("corrupt_crc.zip"), dir.path(), error));
  EXPECT_NE(error.find("CRC mismatch"), std::string::npos) << error;
  EXPECT_EQ(testutil::ReadBytes(dir / "damaged.bin"), "the good file");
  EXPECT_EQ(FilesBelow(dir.path()), (std::vector<std::string>{"damaged.bin", "first.txt"}));  // first.txt was fine

  for (const char* archive : {"truncated.zip", "truncated_data.zip", "bad_deflate.zip", "size_mismatch.zip"}) {
    EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile(archive), dir.path(), error)) << archive;
  }
  EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile("no-such.zip"), dir.path(), error));
  EXPECT_EQ(error, "cannot open the archive");
  EXPECT_FALSE(ExtractZipArchive(ziptest::DataFile("stored.zip"), dir / "missing", error));
  EXPECT_NE(error.find("destination folder does not exist"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(ExtractZipArchive, MethodsTheReaderLacksAreRefusedUpFront) {
  // stored.zip with its second entry marked as bzip2 (method 12) in both headers.
  std::string bytes = testutil::ReadBytes(ziptest::DataFile("stored.zip"));
  bytes[bytes.find("PK\x03\x04", 1) + 8] = bytes[bytes.rfind("PK\x01\x02") + 10] = 12;
  testutil::TempDir dir;
  testutil::WriteBytes(dir / "bzip2.zip", bytes);
  fs::create_directories(dir / "out");
  EXPECT_EQ(Plan(dir / "bzip2.zip").size(), 2u);  // the names alone pass: the shell may know the method
  std::string error;
  EXPECT_FALSE(ExtractZipArchive(dir / "bzip2.zip", dir / "out", error));
  EXPECT_NE(error.find("unsupported compression method 12"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(dir / "out"));
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
  std::string noise = testutil::ReadBytes(dir / "a/noise.bin");
  noise[100] ^= 1;
  testutil::WriteBytes(dir / "a/noise.bin", noise);
  EXPECT_FALSE(later.Poll());
  EXPECT_FALSE(later.Poll());
  EXPECT_NE(later.pending().find("content differs"), std::string::npos) << later.pending();
  fs::remove_all(dir / "emptydir");
  noise[100] ^= 1;
  testutil::WriteBytes(dir / "a/noise.bin", noise);
  EXPECT_FALSE(later.Poll());
  EXPECT_NE(later.pending().find("emptydir"), std::string::npos) << later.pending();
}

TEST(ZipCopyWatch, TimeLimitGrowsWithTheArchive) {
  EXPECT_GE(ShellCopyTimeLimit(0, 1), std::chrono::seconds(10));
  EXPECT_GT(ShellCopyTimeLimit(0, 20000), ShellCopyTimeLimit(0, 1));
  EXPECT_GT(ShellCopyTimeLimit(std::uint64_t{4} << 30, 1), std::chrono::minutes(30));  // 4 GiB at 2 MiB/s
}

TEST(TarCommandLine, QuotesBothPathsAndKeepsTrailingBackslashesHarmless) {
  EXPECT_EQ(TarCommandLine(L"C:\\Windows\\system32\\tar.exe", L"C:\\My Games\\client pkg.zip", L"C:\\My Games\\WoW"),
            L"\"C:\\Windows\\system32\\tar.exe\" -xf \"C:\\My Games\\client pkg.zip\" -C \"C:\\My Games\\WoW\"");
  EXPECT_EQ(TarCommandLine(L"t.exe", L"a.zip", L"D:\\"), L"\"t.exe\" -xf \"a.zip\" -C \"D:\\.\"");
}

}  // namespace
