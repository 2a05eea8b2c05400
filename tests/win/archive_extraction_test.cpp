// ExtractZip and ExtractWithTar as the updater and the client installation call them
// (in a single-threaded apartment). Wine has neither the shell's ZIP folder nor tar.exe,
// so here both take the built-in reader; the results on disk must be the tools'.
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/archive_extraction.h"
#include "test_util.h"
#include "zip_test_data.h"

namespace {

namespace fs = std::filesystem;

std::size_t CountFiles(const fs::path& root) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

TEST(ArchiveExtraction, UnpacksRefusesEscapesAndKeepsGoodFiles) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (const auto& [name, extract] :
       {std::make_pair("ExtractZip", ExtractZip), std::make_pair("ExtractWithTar", ExtractWithTar)}) {
    SCOPED_TRACE(name);
    const auto archive = [](const char* file) { return ziptest::DataFile(file).wstring(); };
    testutil::TempDir dir;
    const fs::path game = dir / "My Games" / "World of Warcraft";
    testutil::WriteBytes(game / "hello.txt", "older content, longer than the new one");
    std::string error;
    ASSERT_TRUE(extract(archive("deflated.zip"), game.wstring(), error)) << error;
    EXPECT_EQ(testutil::ReadBytes(game / "hello.txt"), "hello hello hello hello\n");  // what the reader makes
    EXPECT_TRUE(fs::is_directory(game / "emptydir"));                                 // of each entry: tests/host
    EXPECT_EQ(CountFiles(game), 6u);

    // Escaping entries: nothing written, inside or outside. A damaged entry never
    // replaces a good file and leaves nothing half-written.
    for (const char* bad : {"escape_dotdot.zip", "escape_backslash.zip", "escape_absolute.zip", "escape_drive.zip",
                            "corrupt_crc.zip", "truncated.zip", "no-such.zip"}) {
      testutil::WriteBytes(game / "damaged.bin", "the good copy");
      EXPECT_FALSE(extract(archive(bad), game.wstring(), error)) << bad;
      EXPECT_NE(error, "") << bad;  // the reason, for the status line
      EXPECT_EQ(testutil::ReadBytes(game / "damaged.bin"), "the good copy") << bad;
    }
    EXPECT_EQ(CountFiles(dir.path()), 8u);  // the 6, damaged.bin, and first.txt before the damaged entry
    EXPECT_FALSE(fs::exists(game.root_path() / "abs.txt"));
    EXPECT_FALSE(fs::exists(game.root_path() / "drive.txt"));
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace
