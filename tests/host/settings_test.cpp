#include "data/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "data/json.h"
#include "test_util.h"

namespace {

// Reads a file's text the way loading does, on top of `s`.
LauncherSettings FromText(const std::string& text, LauncherSettings s = LauncherSettings{}) {
  ApplySettingsDocument(ParseJson(text), s);
  return s;
}

// The file other launcher builds read: only the backslash escaped, UTF-8 for non-ASCII.
TEST(Settings, TextHasTheExactFileFormatAndFoldersRoundTrip) {
  EXPECT_EQ(SettingsText({L"\\\\nas\\wow/x", false, true}),
            "{\"wow_dir\":\"\\\\\\\\nas\\\\wow/x\",\"close_on_launch\":false,\"muted\":true}");
  EXPECT_EQ(SettingsText({L"C:\\Jos\u00E9", true, false}),
            "{\"wow_dir\":\"C:\\\\Jos\xC3\xA9\",\"close_on_launch\":true,\"muted\":false}");
  // Unpaired surrogates: Windows allows them in names; they must not merge or vanish.
  const std::wstring unpaired = std::wstring(L"C:\\a") + wchar_t(0xD800) + L"b" + wchar_t(0xDFFF);
  bool flag = false;
  for (const std::wstring& folder :
       {std::wstring(L"C:\\\u30B2\u30FC\u30E0"), std::wstring(L"C:\\Spiele \U0001F3AE"), unpaired}) {
    flag = !flag;
    const LauncherSettings loaded = FromText(SettingsText({folder, flag, !flag}));
    EXPECT_EQ(loaded.wow_dir, folder) << NarrowLowBytes(folder);
    EXPECT_EQ(loaded.close_on_launch, flag);
    EXPECT_EQ(loaded.muted, !flag);
  }
}

TEST(Settings, TextThatIsNotUtf8WidensByteByByte) {
  // Older launchers kept one byte per character: é was stored as 0xE9.
  EXPECT_EQ(FromText("{\"wow_dir\":\"C:\\\\Jos\xE9\\\\WoW\"}").wow_dir, L"C:\\Jos\u00E9\\WoW");
  // Cut short, a bad byte after a good sequence, overlong '/', above U+10FFFF.
  for (const std::string bytes : {"\xE2\x82", "\xC3\xA9\xFF", "\xC0\xAF", "\xF4\x90\x80\x80"}) {
    std::wstring want;
    for (const char c : bytes) want += static_cast<wchar_t>(static_cast<unsigned char>(c));
    EXPECT_EQ(DecodeSettingsFolder(bytes), want) << bytes.size();
  }
}

// Odd or missing keys keep what is known; a malformed file changes nothing.
TEST(Settings, OddKeysAndMalformedFilesKeepWhatIsKnown) {
  EXPECT_TRUE(FromText("{\"close_on_launch\":null}").close_on_launch);
  EXPECT_FALSE(FromText("{\"close_on_launch\":\"true\"}").close_on_launch);
  EXPECT_EQ(FromText("{\"wow_dir\":5}", {L"C:\\Known", true, false}).wow_dir, L"C:\\Known");
  const LauncherSettings s = FromText("{\"wow_dir\":\"\",\"muted\":true}", {L"C:\\Known", true, false});
  EXPECT_EQ(s.wow_dir, L"C:\\Known");
  EXPECT_TRUE(s.muted);

  testutil::TempDir dir;
  const std::wstring path = (dir / "launcher_settings.json").wstring();
  LauncherSettings read{L"", false, true};
  ReadSettingsFile(path, read);
  testutil::WriteBytes(path, "{\"wow_dir\":");
  ReadSettingsFile(path, read);
  EXPECT_FALSE(read.close_on_launch);
  EXPECT_TRUE(read.muted);
  testutil::WriteBytes(path, SettingsText({L"E:\\Jos\u00E9", false, false}));
  ReadSettingsFile(path, read);
  EXPECT_EQ(read.wow_dir, L"E:\\Jos\u00E9");
  EXPECT_FALSE(read.muted);
}

TEST(Settings, DetectionTakesTheFirstExistingCandidate) {
  const std::vector<std::wstring> candidates(std::begin(kClientFolderCandidates), std::end(kClientFolderCandidates));
  std::vector<std::wstring> present, asked;
  const auto exists = [&](const std::wstring& folder) {
    asked.push_back(folder);
    return std::find(present.begin(), present.end(), folder) != present.end();
  };
  EXPECT_EQ(DetectClientFolder(exists), candidates[0]);  // none there: the first all the same
  EXPECT_EQ(asked, candidates);
  present = {candidates[3], candidates[1]};
  EXPECT_EQ(DetectClientFolder(exists), candidates[1]);
}

}  // namespace
