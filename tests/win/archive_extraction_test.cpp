// ExtractZip and ExtractWithTar as the updater and the client installation
// call them. Wine has neither the shell's ZIP folder nor tar.exe, so here
// both take the built-in reader; the results on disk must be the tools'.
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "test_util.h"
#include "update/archive_extraction.h"
#include "zip_test_data.h"

namespace fs = std::filesystem;

namespace {

// The updater's thread holds a single-threaded apartment while it unpacks.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

using Extractor = std::function<bool(const std::wstring&, const std::wstring&)>;

struct Tool {
  const char* name;
  Extractor extract;
};

const std::vector<Tool>& Tools() {
  static const std::vector<Tool> tools = {{"ExtractZip", ExtractZip}, {"ExtractWithTar", ExtractWithTar}};
  return tools;
}

std::wstring Archive(const std::string& name) { return ziptest::DataFile(name).wstring(); }

std::size_t CountFiles(const fs::path& root) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

TEST(ArchiveExtraction, UnpacksIntoAFolderWithBlanksAndReplacesFiles) {
  ComApartment com;
  for (const auto& tool : Tools()) {
    SCOPED_TRACE(tool.name);
    testutil::TempDir dir;
    const fs::path destination = dir / "My Games" / "World of Warcraft";
    testutil::WriteBytes(destination / "hello.txt", "older content, longer than the new one");
    testutil::WriteBytes(destination / "a" / "noise.bin", "short");
    ASSERT_TRUE(tool.extract(Archive("deflated.zip"), destination.wstring()));

    EXPECT_EQ(testutil::ReadBytes(destination / "hello.txt"), "hello hello hello hello\n");
    EXPECT_TRUE(testutil::ReadBytes(destination / "a" / "noise.bin") == testutil::PatternBytes(70000, 2));
    EXPECT_TRUE(testutil::ReadBytes(destination / "a" / "b" / "c" / "deep.txt") == ziptest::Compressible(20000));
    EXPECT_EQ(testutil::ReadBytes(destination / "implicit" / "parent" / "file.txt"),
              "folders made without entries of their own\n");
    EXPECT_TRUE(fs::is_regular_file(destination / "empty.txt"));
    EXPECT_TRUE(fs::is_directory(destination / "emptydir"));
    EXPECT_EQ(CountFiles(destination), 6u);

    ASSERT_TRUE(tool.extract(Archive("large.zip"), destination.wstring()));
    EXPECT_TRUE(testutil::ReadBytes(destination / "big" / "compressible.dat") ==
                ziptest::Compressible(2 * 1024 * 1024));
  }
}

TEST(ArchiveExtraction, RefusesEscapingEntriesAndWritesNothingOutside) {
  ComApartment com;
  for (const auto& tool : Tools()) {
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

TEST(ArchiveExtraction, CorruptOrMissingArchivesFail) {
  ComApartment com;
  for (const auto& tool : Tools()) {
    SCOPED_TRACE(tool.name);
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "damaged.bin", "the good copy");
    for (const char* archive : {"corrupt_crc.zip", "truncated.zip", "truncated_data.zip", "bad_deflate.zip",
                                "size_mismatch.zip", "zip64.zip", "no-such.zip"}) {
      EXPECT_FALSE(tool.extract(Archive(archive), dir.wide())) << archive;
    }
    EXPECT_EQ(testutil::ReadBytes(dir / "damaged.bin"), "the good copy");
    // Nothing half-written stays behind.
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
      EXPECT_EQ(e.path().filename().wstring().find(L".ostrel-part"), std::wstring::npos) << e.path();
    }
    EXPECT_FALSE(tool.extract(Archive("stored.zip"), (dir / "not made").wstring()));
    EXPECT_FALSE(fs::exists(dir / "not made"));
  }
}

}  // namespace
