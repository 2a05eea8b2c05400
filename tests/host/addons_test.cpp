#include "game/addons.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "ui/dialog_template.h"

namespace {

GameFile Addon(const std::string& path, const std::string& extract_to = "Interface/AddOns") {
  GameFile f;
  f.path = path;
  f.extract_to = extract_to;
  return f;
}

TEST(Addons, NamesAndSafety) {
  for (auto [path, name] : std::vector<std::pair<std::string, std::string>>{
           {"Interface/AddOns/Foo.zip", "Foo"}, {"Bar.ZIP", "Bar.ZIP"}, {".zip", ".zip"}, {"x/..", ".."}}) {
    EXPECT_EQ(AddonName(path), name) << path;
  }
  for (const char* bad : {"", ".", "..", "a\\b", "a:b", "x?", "CON", "nul.txt", "dots.", "a\x01"}) {
    EXPECT_FALSE(IsSafeAddonName(bad)) << bad;
  }
  EXPECT_TRUE(IsSafeAddonName("Ostrel UI-2.1"));
}

TEST(Addons, RuleAndPresence) {
  Manifest m;
  m.game_files = {Addon("Data/patch.MPQ", ""), Addon("Interface/AddOns/Req.zip"), Addon("../Escape.zip")};
  std::vector<std::wstring> probed;
  const auto entries = ListAddons(m, L"C:\\WoW", [&](const std::wstring& p) {
    probed.push_back(p);
    return true;
  });
  ASSERT_EQ(entries.size(), 2u);  // extract_to alone decides
  EXPECT_EQ(entries[0].name, "Req");
  EXPECT_TRUE(entries[0].installed);
  EXPECT_FALSE(entries[1].installed);  // an unsafe path is never probed
  EXPECT_EQ(probed, std::vector<std::wstring>{L"C:\\WoW\\Interface\\AddOns\\Req"});
}

TEST(Addons, UnsafeNamesAreNeverRemovedNorUnsafeArchivesDeleted) {
  const std::vector<std::pair<std::string, bool>> cases = {// path, installed (all unticked when installed)
                                                           {"Interface/AddOns/Old.zip", true},
                                                           {"Interface/AddOns/...zip", true},
                                                           {"../../New.zip", false},
                                                           {"Interface/AddOns/Stuck.zip", true}};
  std::vector<AddonEntry> entries;
  std::vector<bool> selected;
  for (const auto& [path, installed] : cases) {
    entries.push_back({AddonName(path), installed, Addon(path)});
    selected.push_back(!installed);
  }
  std::vector<std::wstring> removed, deleted;
  AddonFileOps ops{[&](const std::wstring& f) {
                     removed.push_back(f);
                     return f.find(L"Stuck") == std::wstring::npos;
                   },
                   [&](const std::wstring& f) { deleted.push_back(f); }};
  const auto installs = ApplyAddonChoices(L"C:\\W", entries, selected, ops);
  ASSERT_EQ(installs.size(), 1u);  // the update run refuses its unsafe path
  EXPECT_EQ(removed, (std::vector<std::wstring>{L"C:\\W\\Interface\\AddOns\\Old", L"C:\\W\\Interface\\AddOns\\Stuck"}));
  EXPECT_EQ(deleted,
            (std::vector<std::wstring>{L"C:\\W\\Interface\\AddOns\\Old.zip", L"C:\\W\\Interface\\AddOns\\...zip",
                                       L"C:\\W\\Interface\\AddOns\\Stuck.zip"}));
}

// Reads a template back as the dialog manager does, one line for the header
// and one per control; every record starts on a 4-byte boundary and the words
// end with the last record.
std::vector<std::string> Describe(const std::vector<std::uint16_t>& w) {
  size_t i = 0;
  auto word = [&] { return w.at(i++); };
  auto num = [&] { return static_cast<std::int16_t>(word()); };
  auto dword = [&] {
    const unsigned low = word();
    return low | static_cast<unsigned>(word()) << 16;
  };
  auto text = [&] {
    std::string s;
    for (std::uint16_t c; (c = word()) != 0;)
      s += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
    return s;
  };
  char line[200];
  std::vector<std::string> out;
  const unsigned style = dword(), ex = dword(), n = word();
  const int x = num(), y = num(), cx = num(), cy = num(), menu = word(), cls = word();
  const std::string title = text();
  const unsigned points = word();
  std::snprintf(line, sizeof line, "%08x %x %u %d,%d %dx%d %d %d '%s' %u '%s'", style, ex, n, x, y, cx, cy, menu, cls,
                title.c_str(), points, text().c_str());
  out.push_back(line);
  for (unsigned k = 0; k < n; ++k) {
    if (i % 2 && word() != 0) out.push_back("bad padding");
    const unsigned s = dword(), e = dword();
    const int l = num(), t = num(), cw = num(), ch = num(), id = word(), ffff = word(), atom = word();
    const std::string label = text();
    std::snprintf(line, sizeof line, "%08x %x %d,%d,%d,%d %d %04x%04x '%s' %d", s, e, l, t, cw, ch, id, ffff, atom,
                  label.c_str(), word());
    out.push_back(line);
  }
  if (i != w.size()) out.push_back("trailing words");
  return out;
}

TEST(DialogTemplates, SettingsWordForWord) {
  EXPECT_EQ(Describe(SettingsTemplate().words()),
            (std::vector<std::string>{
                "80c808c0 0 7 0,0 430x105 0 0 'Settings \\u8212 Ostrelhold' 9 'Segoe UI'",
                "50000000 0 7,7,80,10 100 ffff0082 'WoW Install Path:' 0", "50810080 0 7,19,330,14 101 ffff0081 '' 0",
                "50010000 0 342,19,80,14 102 ffff0080 'Browse...' 0",
                "50010003 0 7,42,200,12 103 ffff0080 'Close launcher when game starts' 0",
                "50000010 0 7,60,415,1 104 ffff0082 '' 0", "50010001 0 255,70,75,14 1 ffff0080 'OK' 0",
                "50010000 0 337,70,75,14 2 ffff0080 'Cancel' 0"}));
}

TEST(DialogTemplates, AddonsGrowWithEntries) {
  std::vector<AddonEntry> entries{{"Ostrel\xE9UI", false, {}}};
  EXPECT_EQ(Describe(BuildAddonsTemplate(entries).words()),
            (std::vector<std::string>{
                "80c808c0 0 5 0,0 340x80 0 0 'Addons \\u8212 Ostrelhold' 9 'Segoe UI'",
                "50000000 0 7,7,320,10 200 ffff0082 'Check to install  /  Uncheck to remove:' 0",
                "50010003 0 7,20,170,12 300 ffff0080 'Ostrel\\u233UI' 0", "50000000 0 185,20,148,12 400 ffff0082 '' 0",
                "50010001 0 170,62,75,14 1 ffff0080 'Apply' 0", "50010000 0 252,62,75,14 2 ffff0080 'Close' 0"}));
  entries.push_back({"Second", true, {}});
  const auto two = Describe(BuildAddonsTemplate(entries).words());
  EXPECT_EQ(two[0].substr(0, 29), "80c808c0 0 7 0,0 340x98 0 0 '");
  EXPECT_EQ(two[5], "50000000 0 185,38,148,12 401 ffff0082 '' 0");
  EXPECT_EQ(two[6], "50010001 0 170,80,75,14 1 ffff0080 'Apply' 0");
}

}  // namespace
