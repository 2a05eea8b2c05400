// ExtractZip and ExtractWithTar as the updater and the client installation
// call them. Wine has neither the shell's ZIP folder nor tar.exe, so here
// both take the built-in reader; the results on disk must be the tools'.
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_util.h"
#include "update/archive_extraction.h"
#include "zip_test_data.h"

namespace fs = std::filesystem;

namespace {

// The updater's thread holds a single-threaded apartment while it unpacks.
class ArchiveExtraction : public testing::Test {
 protected:
  void SetUp() override { com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  void TearDown() override {
    if (SUCCEEDED(com_)) CoUninitialize();
  }

  struct Tool {
    const char* name;
    bool (*extract)(const std::wstring&, const std::wstring&);
  };
  const Tool tools_[2] = {{"ExtractZip", ExtractZip}, {"ExtractWithTar", ExtractWithTar}};

 private:
  HRESULT com_ = E_FAIL;
};

std::wstring Archive(const std::string& name) { return ziptest::DataFile(name).wstring(); }

std::size_t CountFiles(const fs::path& root) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

TEST_F(ArchiveExtraction, UnpacksIntoAFolderWithBlanksAndReplacesFiles) {
  for (const auto& tool : tools_) {
    SCOPED_TRACE(tool.name);
    testutil::TempDir dir;
    const fs::path destination = dir / "My Games" / "World of Warcraft";
    testutil::WriteBytes(destination / "hello.txt", "older content, longer than the new one");
    ASSERT_TRUE(tool.extract(Archive("deflated.zip"), destination.wstring()));
    ASSERT_TRUE(tool.extract(Archive("large.zip"), destination.wstring()));
    EXPECT_EQ(testutil::ReadBytes(destination / "hello.txt"), "hello hello hello hello\n");
    EXPECT_TRUE(testutil::ReadBytes(destination / "a" / "b" / "c" / "deep.txt") == ziptest::Compressible(20000));
    EXPECT_TRUE(testutil::ReadBytes(destination / "big" / "compressible.dat") ==
                ziptest::Compressible(2 * 1024 * 1024));
    EXPECT_TRUE(fs::is_directory(destination / "emptydir"));
    EXPECT_EQ(CountFiles(destination), 8u);
  }
}

TEST_F(ArchiveExtraction, RefusesEscapingEntriesAndWritesNothingOutside) {
  for (const auto& tool : tools_) {
    for (const char* archive : {"escape_dotdot.zip", "escape_nested_dotdot.zip", "escape_backslash.zip",
                                "escape_absolute.zip", "escape_drive.zip"}) {
      SCOPED_TRACE(std::string(tool.name) + " " + archive);
      testutil::TempDir outer;
      const fs::path destination = outer / "game";
      fs::create_directories(destination);
      EXPECT_FALSE(tool.extract(Archive(archive), destination.wstring()));
      EXPECT_EQ(CountFiles(outer.path()), 0u);
      // "/abs.txt" and "C:/drive.txt" would land at the root of the drive.
      EXPECT_FALSE(fs::exists(destination.root_path() / "abs.txt"));
      EXPECT_FALSE(fs::exists(destination.root_path() / "drive.txt"));
    }
  }
}

TEST_F(ArchiveExtraction, CorruptOrMissingArchivesFailAndLeaveGoodFilesAlone) {
  for (const auto& tool : tools_) {
    SCOPED_TRACE(tool.name);
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "damaged.bin", "the good copy");
    for (const char* archive : {"corrupt_crc.zip", "truncated.zip", "truncated_data.zip", "bad_deflate.zip",
                                "size_mismatch.zip", "zip64.zip", "no-such.zip"}) {
      EXPECT_FALSE(tool.extract(Archive(archive), dir.wide())) << archive;
    }
    EXPECT_EQ(testutil::ReadBytes(dir / "damaged.bin"), "the good copy");
    // Nothing half-written stays behind: damaged.bin and the intact entries before a bad one (first.txt, whole.txt).
    EXPECT_EQ(CountFiles(dir.path()), 3u);
    EXPECT_FALSE(tool.extract(Archive("stored.zip"), (dir / "not made").wstring()));
    EXPECT_FALSE(fs::exists(dir / "not made"));
  }
}

}  // namespace
