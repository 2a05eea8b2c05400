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
           {"Interface/AddOns/Foo.zip", "Foo"}, {"Bar.ZIP", "Bar.ZIP"}, {".zip", ".zip"}, {"a/", ""}, {"x/..", ".."}}) {
    EXPECT_EQ(AddonName(path), name) << path;
  }
  for (const char* bad : {"", ".", "..", "a\\b", "a:b", "C:", "x?", "CON", "nul.txt", "dots.", "a\x01"}) {
    EXPECT_FALSE(IsSafeAddonName(bad)) << bad;
  }
  EXPECT_TRUE(IsSafeAddonName("Ostrel UI-2.1"));
}

TEST(Addons, RuleAndPresence) {
  Manifest m;
  GameFile required = Addon("Interface/AddOns/Req.zip");
  required.required = true;  // extract_to alone decides
  m.game_files = {Addon("Data/patch.MPQ", ""), required, Addon("../Escape.zip"), Addon("Interface/AddOns/Gone.zip")};
  std::vector<std::wstring> probed;
  const auto entries = ListAddons(m, L"C:\\WoW", [&](const std::wstring& p) {
    probed.push_back(p);
    return p == L"C:\\WoW\\Interface\\AddOns\\Req";
  });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "Req");
  EXPECT_TRUE(entries[0].installed);
  EXPECT_FALSE(entries[1].installed);  // an unsafe path is never probed
  EXPECT_EQ(probed,
            (std::vector<std::wstring>{L"C:\\WoW\\Interface\\AddOns\\Req", L"C:\\WoW\\Interface\\AddOns\\Gone"}));
}

TEST(Addons, ApplyRemovesInstallsAndRefusesUnsafeNames) {
  struct Case {
    std::string path;
    bool installed, ticked;
  };
  const std::vector<Case> cases = {
      {"Interface/AddOns/Keep.zip", true, true}, {"Interface/AddOns/Old.zip", true, false},
      {"Interface/AddOns/New.zip", false, true}, {"Interface/AddOns/...zip", true, false},
      {"../../New2.zip", false, true},           {"Interface/AddOns/Stuck.zip", true, false}};
  std::vector<AddonEntry> entries;
  std::vector<bool> selected;
  for (const auto& c : cases) {
    entries.push_back({AddonName(c.path), c.installed, Addon(c.path)});
    selected.push_back(c.ticked);
  }
  std::vector<std::wstring> removed, deleted;
  AddonFileOps ops{[&](const std::wstring& f) {
                     removed.push_back(f);
                     return f.find(L"Stuck") == std::wstring::npos;
                   },
                   [&](const std::wstring& f) { deleted.push_back(f); }};
  const auto installs = ApplyAddonChoices(L"C:\\WoW", entries, selected, ops);
  ASSERT_EQ(installs.size(), 2u);
  EXPECT_EQ(installs[0].path, "Interface/AddOns/New.zip");
  EXPECT_EQ(removed,
            (std::vector<std::wstring>{L"C:\\WoW\\Interface\\AddOns\\Old", L"C:\\WoW\\Interface\\AddOns\\Stuck"}));
  // Archives: removed ones (even when the removal failed or was refused) and fresh installs; never outside.
  EXPECT_EQ(deleted, (std::vector<std::wstring>{
                         L"C:\\WoW\\Interface\\AddOns\\Old.zip", L"C:\\WoW\\Interface\\AddOns\\New.zip",
                         L"C:\\WoW\\Interface\\AddOns\\...zip", L"C:\\WoW\\Interface\\AddOns\\Stuck.zip"}));
}

// Reads a template back as the dialog manager does: one line for the header,
// one per control; every control record starts on a 4-byte boundary and the
// words end exactly with the last record.
std::vector<std::string> Describe(const std::vector<std::uint16_t>& w) {
  size_t i = 0;
  auto word = [&] { return w.at(i++); };
  auto dword = [&] {
    const std::uint32_t low = word();
    return low | static_cast<std::uint32_t>(word()) << 16;
  };
  auto num = [&] { return static_cast<int>(static_cast<std::int16_t>(word())); };
  auto text = [&] {
    std::string s;
    char hex[8];
    for (std::uint16_t c; (c = word()) != 0;) {
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      s += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return s;
  };
  char line[200];
  std::vector<std::string> out;
  const std::uint32_t style = dword(), ex = dword();
  const unsigned n = word();
  const int x = num(), y = num(), cx = num(), cy = num(), menu = word(), cls = word();
  const std::string title = text();
  const unsigned points = word();
  std::snprintf(line, sizeof line, "%08x %x %u %d,%d %dx%d %d %d '%s' %u '%s'", style, ex, n, x, y, cx, cy, menu, cls,
                title.c_str(), points, text().c_str());
  out.push_back(line);
  for (unsigned k = 0; k < n; ++k) {
    if (i % 2) {
      EXPECT_EQ(word(), 0);
    }
    const std::uint32_t s = dword(), e = dword();
    const int cx_ = num(), cy_ = num(), cw = num(), ch = num(), id = word(), ffff = word(), atom = word();
    const std::string t = text();
    std::snprintf(line, sizeof line, "%08x %x %d,%d,%d,%d %d %04x%04x '%s' %d", s, e, cx_, cy_, cw, ch, id, ffff, atom,
                  t.c_str(), word());
    out.push_back(line);
  }
  EXPECT_EQ(i, w.size());
  return out;
}

TEST(DialogTemplates, SettingsWordForWord) {
  EXPECT_EQ(Describe(SettingsTemplate().words()),
            (std::vector<std::string>{
                "80c808c0 0 7 0,0 430x105 0 0 'Settings \\u2014 Ostrelhold' 9 'Segoe UI'",
                "50000000 0 7,7,80,10 100 ffff0082 'WoW Install Path:' 0", "50810080 0 7,19,330,14 101 ffff0081 '' 0",
                "50010000 0 342,19,80,14 102 ffff0080 'Browse...' 0",
                "50010003 0 7,42,200,12 103 ffff0080 'Close launcher when game starts' 0",
                "50000010 0 7,60,415,1 104 ffff0082 '' 0", "50010001 0 255,70,75,14 1 ffff0080 'OK' 0",
                "50010000 0 337,70,75,14 2 ffff0080 'Cancel' 0"}));
  EXPECT_EQ(&SettingsTemplate(), &SettingsTemplate());
}

TEST(DialogTemplates, AddonsGrowWithEntries) {
  std::vector<AddonEntry> entries{{"Ostrel\xE9UI", false, {}}};
  EXPECT_EQ(Describe(BuildAddonsTemplate(entries).words()),
            (std::vector<std::string>{
                "80c808c0 0 5 0,0 340x80 0 0 'Addons \\u2014 Ostrelhold' 9 'Segoe UI'",
                "50000000 0 7,7,320,10 200 ffff0082 'Check to install  /  Uncheck to remove:' 0",
                "50010003 0 7,20,170,12 300 ffff0080 'Ostrel\\u00e9UI' 0", "50000000 0 185,20,148,12 400 ffff0082 '' 0",
                "50010001 0 170,62,75,14 1 ffff0080 'Apply' 0", "50010000 0 252,62,75,14 2 ffff0080 'Close' 0"}));
  entries.push_back({"Second", true, {}});
  const auto two = Describe(BuildAddonsTemplate(entries).words());
  EXPECT_NE(two[0].find(" 7 0,0 340x98 "), std::string::npos);
  EXPECT_EQ(two[5], "50000000 0 185,38,148,12 401 ffff0082 '' 0");
  EXPECT_EQ(two[6], "50010001 0 170,80,75,14 1 ffff0080 'Apply' 0");
}

}  // namespace
