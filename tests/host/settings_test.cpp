#include "data/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/json.h"
#include "test_util.h"

namespace {

LauncherSettings Settings(const std::wstring& folder, bool close_on_launch = true, bool muted = false) {
  LauncherSettings s;
  s.wow_dir = folder;
  s.close_on_launch = close_on_launch;
  s.muted = muted;
  return s;
}

// Reads a file's text the way loading does, starting from the defaults.
LauncherSettings FromText(const std::string& text) {
  LauncherSettings s;
  ApplySettingsDocument(ParseJson(text), s);
  return s;
}

TEST(Settings, TextHasTheExactFileFormat) {
  EXPECT_EQ(SettingsText(Settings(L"C:\\Games\\WoW")),
            "{\"wow_dir\":\"C:\\\\Games\\\\WoW\",\"close_on_launch\":true,\"muted\":false}");
  EXPECT_EQ(SettingsText(Settings(L"", false, true)), "{\"wow_dir\":\"\",\"close_on_launch\":false,\"muted\":true}");
  // Only the backslash is escaped.
  EXPECT_EQ(SettingsText(Settings(L"\\\\nas\\wow/x")),
            "{\"wow_dir\":\"\\\\\\\\nas\\\\wow/x\",\"close_on_launch\":true,\"muted\":false}");
}

TEST(Settings, AsciiFoldersAreStoredAsTheirBytes) {
  std::wstring all;
  std::string bytes;
  for (int c = 1; c < 0x80; ++c) {
    all += static_cast<wchar_t>(c);
    bytes += static_cast<char>(c);
  }
  EXPECT_EQ(EncodeSettingsFolder(all), bytes);
  EXPECT_EQ(DecodeSettingsFolder(bytes), all);
}

TEST(Settings, RoundTripsThroughTheText) {
  const std::vector<std::wstring> folders = {
      L"C:\\Games\\World of Warcraft 3.3.5a",
      L"D:\\",
      L"\\\\server\\share\\WoW",
      L"C:\\Users\\Jos\u00E9\\Desktop\\WoW",  // Latin-1 range
      L"C:\\\u0418\u0433\u0440\u044B\\WoW",   // Cyrillic
      L"C:\\\u30B2\u30FC\u30E0",              // Japanese
      L"C:\\Spiele \U0001F3AE\\WoW",          // beyond the BMP (a surrogate pair on Windows)
  };
  for (const auto& folder : folders) {
    for (bool flag : {false, true}) {
      const LauncherSettings saved = Settings(folder, flag, !flag);
      const LauncherSettings loaded = FromText(SettingsText(saved));
      EXPECT_EQ(loaded.wow_dir, folder);
      EXPECT_EQ(loaded.close_on_launch, flag);
      EXPECT_EQ(loaded.muted, !flag);
    }
  }
}

TEST(Settings, NonAsciiIsStoredAsUtf8) {
  EXPECT_EQ(EncodeSettingsFolder(L"C:\\Jos\u00E9"), "C:\\Jos\xC3\xA9");
  EXPECT_EQ(EncodeSettingsFolder(L"\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(EncodeSettingsFolder(L"\U0001F3AE"), "\xF0\x9F\x8E\xAE");
  EXPECT_EQ(SettingsText(Settings(L"C:\\Jos\u00E9")),
            "{\"wow_dir\":\"C:\\\\Jos\xC3\xA9\",\"close_on_launch\":true,\"muted\":false}");
}

TEST(Settings, UnpairedSurrogatesSurvive) {
  // Windows allows them in file names; they must not merge or vanish.
  std::wstring odd = L"C:\\a";
  odd += static_cast<wchar_t>(0xD800);
  odd += L"b";
  odd += static_cast<wchar_t>(0xDFFF);
  EXPECT_EQ(DecodeSettingsFolder(EncodeSettingsFolder(odd)), odd);
}

TEST(Settings, OlderFilesWithSingleBytesStillLoad) {
  // Older launchers kept one byte per character: é was stored as 0xE9.
  EXPECT_EQ(FromText("{\"wow_dir\":\"C:\\\\Jos\xE9\\\\WoW\"}").wow_dir, L"C:\\Jos\u00E9\\WoW");
  // Anything that is not well-formed UTF-8 widens byte by byte, whole.
  EXPECT_EQ(DecodeSettingsFolder("\xC3"), std::wstring(1, wchar_t(0xC3)));
  EXPECT_EQ(DecodeSettingsFolder("\xC3\xA9\xFF"), (std::wstring{wchar_t(0xC3), wchar_t(0xA9), wchar_t(0xFF)}));
  EXPECT_EQ(DecodeSettingsFolder("\xC0\xAF"), (std::wstring{wchar_t(0xC0), wchar_t(0xAF)}));  // overlong '/'
  EXPECT_EQ(DecodeSettingsFolder("\xF4\x90\x80\x80"),                                         // above U+10FFFF
            (std::wstring{wchar_t(0xF4), wchar_t(0x90), wchar_t(0x80), wchar_t(0x80)}));
  EXPECT_EQ(DecodeSettingsFolder("\xE2\x82"), (std::wstring{wchar_t(0xE2), wchar_t(0x82)}));  // cut short
}

TEST(Settings, MissingAndOddKeysKeepTheirDefaults) {
  const LauncherSettings empty = FromText("{}");
  EXPECT_TRUE(empty.wow_dir.empty());
  EXPECT_TRUE(empty.close_on_launch);
  EXPECT_FALSE(empty.muted);

  EXPECT_TRUE(FromText("{\"close_on_launch\":null}").close_on_launch);
  EXPECT_FALSE(FromText("{\"close_on_launch\":0}").close_on_launch);
  EXPECT_FALSE(FromText("{\"close_on_launch\":\"true\"}").close_on_launch);
  EXPECT_FALSE(FromText("{\"muted\":1}").muted);
  EXPECT_TRUE(FromText("{\"muted\":true}").muted);
  EXPECT_TRUE(FromText("{\"wow_dir\":5}").wow_dir.empty());

  // An empty or missing folder keeps the one already known.
  LauncherSettings s = Settings(L"C:\\Known");
  ApplySettingsDocument(ParseJson("{\"wow_dir\":\"\",\"muted\":true}"), s);
  EXPECT_EQ(s.wow_dir, L"C:\\Known");
  EXPECT_TRUE(s.muted);
}

TEST(Settings, ReadsFilesAndIgnoresBadOnes) {
  testutil::TempDir dir;
  const auto path = dir / "launcher_settings.json";

  LauncherSettings s = Settings(L"", false, true);
  ReadSettingsFile(path.wstring(), s);  // missing: nothing changes
  EXPECT_FALSE(s.close_on_launch);
  EXPECT_TRUE(s.muted);

  testutil::WriteBytes(path, "{\"wow_dir\":");
  ReadSettingsFile(path.wstring(), s);  // malformed: nothing changes
  EXPECT_TRUE(s.wow_dir.empty());
  EXPECT_TRUE(s.muted);

  testutil::WriteBytes(path, SettingsText(Settings(L"E:\\Jos\u00E9", false, false)));
  ReadSettingsFile(path.wstring(), s);
  EXPECT_EQ(s.wow_dir, L"E:\\Jos\u00E9");
  EXPECT_FALSE(s.muted);
}

TEST(Settings, DetectionTakesTheFirstExistingCandidate) {
  std::vector<std::wstring> asked;
  auto only = [&asked](std::vector<std::wstring> present) {
    return [&asked, present](const std::wstring& folder) {
      asked.push_back(folder);
      for (const auto& p : present)
        if (p == folder) return true;
      return false;
    };
  };
  EXPECT_EQ(DetectClientFolder(only({})), L"C:\\Users\\Owner\\Desktop\\World of Warcraft 3.3.5");
  EXPECT_EQ(asked,
            (std::vector<std::wstring>{
                L"C:\\Users\\Owner\\Desktop\\World of Warcraft 3.3.5", L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a",
                L"C:\\Program Files (x86)\\World of Warcraft", L"C:\\Program Files\\World of Warcraft"}));
  asked.clear();
  EXPECT_EQ(DetectClientFolder(
                only({L"C:\\Program Files\\World of Warcraft", L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a"})),
            L"C:\\Users\\Owner\\Desktop\\Ostrelhold_3.3.5a");
  EXPECT_EQ(asked.size(), 2u);  // stops at the first hit
}

}  // namespace
