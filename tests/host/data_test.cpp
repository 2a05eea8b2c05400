// The data formats (the JSON reader, manifests, the settings file) and the log.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/text.h"
#include "data/json.h"
#include "data/json_number.h"
#include "data/manifest.h"
#include "data/manifest_writer.h"
#include "data/settings.h"
#include "log/log.h"
#include "test_util.h"

namespace {

// A value in short form (true, 1.5, 'text', [a b], {k:v}), or "!" and the error.
std::string Show(const JsonValue& v) {
  std::ostringstream out;
  if (v.kind == JsonKind::Null) return "null";
  if (v.kind == JsonKind::Bool) return v.boolean ? "true" : "false";
  if (v.kind == JsonKind::String) return "'" + v.text + "'";
  if (v.kind == JsonKind::Number) return (out << v.number, out.str());
  for (const auto& item : v.items) out << (out.tellp() > 0 ? " " : "") << Show(item);
  for (const auto& [key, value] : v.members) out << (out.tellp() > 0 ? " " : "") << key << ":" << Show(value);
  return v.kind == JsonKind::Array ? "[" + out.str() + "]" : "{" + out.str() + "}";
}

std::string Show(const std::string& text) {
  try {
    return Show(ParseJson(text));
  } catch (const std::exception& e) {
    return std::string("!") + e.what();
  }
}

// The reader is lenient where older servers relied on it, and fails cleanly elsewhere.
TEST(Json, ParsesLenientlyAndFailsWithItsMessages) {
  const std::pair<std::string, std::string> cases[] = {
      {"  true garbage", "true"},  // whatever follows the first value is ignored
      {"1.2.3", "1.2"},
      {"[1 2]", "[1 2]"},             // commas are optional
      {R"({"a":1,"a":2})", "{a:2}"},  // the last value wins
      {R"("a\"b\/c\\d\ne\rf\tg")", "'a\"b/c\\d\ne\rf\tg'"},
      {R"("\u0041\q\b\f")", "'?0041?\?\?'"},  // no \u decoding; unknown escapes become '?'
      {"\"ends in backslash\\", "'ends in backslash?'"},
      {"", "!Unexpected char: "},
      {"[1,]", "!Unexpected char: ]"},
      {"-", "!invalid stod argument"},
      {"1e999", "!stod argument out of range"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Show(text), shown) << text;
}

// Hostile nesting must end in an error, not a stack overflow.
TEST(Json, DeepNestingEndsInAnError) {
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(Show(std::string(100000, '[')), "!JSON nesting deeper than 512 levels");
  EXPECT_EQ(Show(objects), "!JSON nesting deeper than 512 levels");
  EXPECT_EQ(Show(std::string(100000, '{')), "!Unexpected char: ");  // a brace where a key's quote is due
  EXPECT_EQ(ParseJson(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']')).kind, JsonKind::Array);
}

// A manifest as an earlier fetch could have left it.
Manifest Filled() {
  Manifest m;
  m.launcher_version = "0.9.0";
  m.launcher_url = "http://old/launcher.exe";
  m.realmList = "old.realm";
  m.realmName = "Old";
  m.wow_client = {"http://old/client.rar", 77, "ffee", "OldDir"};
  m.game_files.resize(1);
  return m;
}

Manifest Parsed(const std::string& text, Manifest m = Manifest{}) {
  std::string error;
  EXPECT_TRUE(ParseManifest(text, m, error)) << error;
  return m;
}

// A refused document changes nothing the launcher already knows.
TEST(Manifest, FailuresLeaveTheManifestUntouched) {
  for (const auto& [text, error] :
       {std::make_pair("[]", "Manifest root is not object"), std::make_pair("<html>", "Unexpected char: <"),
        std::make_pair("{\"game_files\":[{\"size\":1e999}]}", "stod argument out of range")}) {
    Manifest m = Filled();
    std::string message;
    EXPECT_FALSE(ParseManifest(text, m, message)) << text;
    EXPECT_EQ(message, error);
    EXPECT_EQ(ManifestJson(m), ManifestJson(Filled())) << text;
  }
}

// Every member the generator writes is read back by its test; here what it never writes.
TEST(Manifest, MistypedMembersAndOddListsReadAsEmptyOrDefault) {
  const Manifest m = Parsed(R"({"launcher_version": 130, "launcher_url": ["x"], "launcher_md5": null, "unknown": [1],
    "wow_client": {"url": 5, "size": "99", "md5": {}, "dir_name": true},
    "game_files": [5, {"path": 1, "size": "1234", "md5": false, "cdn_url": null, "extract_to": 3, "required": 1},
                   {"path": "p", "required": null, "url": "http://ignored", "future": {"x": 1}}]})");
  Manifest want;  // "required" is true unless a present value says otherwise
  want.game_files.resize(3);
  want.game_files[1].required = false;
  want.game_files[2].path = "p";
  EXPECT_EQ(ManifestJson(m), ManifestJson(want));
  EXPECT_TRUE(Parsed(R"({"game_files": {"path": "a"}})").game_files.empty());
}

// Sizes beyond the 64-bit range saturate instead of overflowing (undefined in C++).
TEST(Manifest, NumbersTruncateTowardZeroAndSaturate) {
  const Manifest m = Parsed(R"({"game_files": [{"size": 1234.9}, {"size": -7.9}, {"size": 1e300}],
                                "wow_client": {"url": "u", "size": -1e300}})");
  EXPECT_EQ(m.game_files[0].size, 1234);
  EXPECT_EQ(m.game_files[1].size, -7);
  EXPECT_EQ(m.game_files[2].size, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(m.wow_client.size, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(TruncateToInt64(9223372036854774784.0), 9223372036854774784);  // largest double below 2^63
}

// A new fetch replaces the file list and the launcher fields; a null config or client keeps the known ones.
TEST(Manifest, AFetchReplacesTheFileList) {
  const Manifest m = Parsed(R"({"config": null, "wow_client": null})", Filled());
  EXPECT_TRUE(m.game_files.empty() && m.launcher_url.empty());
  EXPECT_TRUE(m.realmName == "Old" && m.wow_client.url == "http://old/client.rar");
}

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
  for (const std::wstring& folder : {std::wstring(L"C:\\Spiele \U0001F3AE"), unpaired})
    EXPECT_EQ(FromText(SettingsText({folder, true, false})).wow_dir, folder) << NarrowLowBytes(folder);
}

// Older launchers kept one byte per character (é as 0xE9); bytes that are not UTF-8 widen one by one.
TEST(Settings, TextThatIsNotUtf8WidensByteByByte) {
  EXPECT_EQ(FromText("{\"wow_dir\":\"C:\\\\Jos\xE9\\\\WoW\"}").wow_dir, L"C:\\Jos\u00E9\\WoW");
  EXPECT_EQ(DecodeSettingsFolder("\xC3\xA9\xFF"), L"\u00C3\u00A9\u00FF");  // good UTF-8 then a bad byte
}

// Odd or missing keys keep what is known; a missing or malformed file changes nothing.
TEST(Settings, OddKeysAndMalformedFilesKeepWhatIsKnown) {
  const LauncherSettings known{L"C:\\Known", true, false};
  EXPECT_TRUE(FromText("{\"close_on_launch\":null}").close_on_launch);
  EXPECT_FALSE(FromText("{\"close_on_launch\":\"true\"}").close_on_launch);
  EXPECT_EQ(FromText("{\"wow_dir\":5}", known).wow_dir, L"C:\\Known");
  const LauncherSettings s = FromText("{\"wow_dir\":\"\",\"muted\":true}", known);
  EXPECT_TRUE(s.wow_dir == L"C:\\Known" && s.muted);

  testutil::TempDir dir;
  const std::wstring path = (dir / "launcher_settings.json").wstring();
  LauncherSettings read = known;
  ReadSettingsFile(path, read);
  testutil::WriteBytes(path, "{\"muted\":true,\"wow_dir\":");
  ReadSettingsFile(path, read);
  EXPECT_EQ(SettingsText(read), SettingsText(known));
  testutil::WriteBytes(path, SettingsText({L"E:\\Jos\u00E9", false, true}));
  ReadSettingsFile(path, read);
  EXPECT_EQ(SettingsText(read), SettingsText({L"E:\\Jos\u00E9", false, true}));
}

// The log appends across runs, keeps writing after a character the file cannot hold,
// and many writers at once each get their lines whole, CR LF ended.
TEST(Log, AppendsAcrossRunsAndKeepsWritingAfterWideCharacters) {
  testutil::TempDir dir;
  const auto path = dir / "launcher.log";
  testutil::WriteBytes(path, "earlier run\r\n");
  Log::Info(L"before init goes only to the debugger");
  Log::Init(path.wstring());
  Log::Info(L"one \u65e5 two");
  Log::Warn(L"after the wide line");
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 50; ++i) Log::Error(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i));
    });
  }
  for (auto& w : writers) w.join();

  const std::string content = testutil::ReadBytes(path);
  EXPECT_EQ(content.rfind("earlier run\r\n", 0), 0u);  // appended, not replaced
  EXPECT_EQ(content.find("before init"), std::string::npos);
  EXPECT_NE(content.find("] [INFO] one ? two\r\n["), std::string::npos);
  EXPECT_NE(content.find("] [WARN] after the wide line\r\n"), std::string::npos);
  const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[ERROR\] thread \d line \d+\r\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(content.begin(), content.end(), line), std::sregex_iterator()), 200);
  EXPECT_EQ(content.find('\n', 0) - 1, content.find('\r', 0));  // no bare line feeds
}

// At start a log past its limit becomes launcher.log.1, replacing an older one; one at the limit stays.
TEST(Log, ALogPastItsLimitStartsAfresh) {
  for (const long long size : {Log::kLogRotateBytes, Log::kLogRotateBytes + 1}) {
    testutil::TempDir dir;
    testutil::WriteBytes(dir / "launcher.log.1", "oldest");
    testutil::WriteBytes(dir / "launcher.log", std::string(static_cast<size_t>(size), 'x'));
    Log::Init((dir / "launcher.log").wstring());
    Log::Info(L"new start");
    const bool rotated = size > Log::kLogRotateBytes;
    EXPECT_EQ(testutil::ReadBytes(dir / "launcher.log.1").size(), rotated ? static_cast<size_t>(size) : 6u);
    EXPECT_EQ(testutil::ReadBytes(dir / "launcher.log").size() < 100, rotated);
  }
}

}  // namespace
