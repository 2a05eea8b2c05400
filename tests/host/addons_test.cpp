#include "game/addons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

// An addon's name reaches its check box as UTF-16 (a Latin-1 byte widened);
// each entry adds a row of two controls to the dialog and makes it taller.
TEST(DialogTemplates, AddonsCarryTheirNamesAndGrowWithEntries) {
  std::vector<AddonEntry> entries{{"Ostrel\xE9UI", false, {}}};
  const auto one = BuildAddonsTemplate(entries).words();
  const std::u16string name = u"Ostrel\u00e9UI";
  EXPECT_NE(std::search(one.begin(), one.end(), name.begin(), name.end()), one.end());
  entries.push_back({"Second", true, {}});
  const auto two = BuildAddonsTemplate(entries).words();
  EXPECT_EQ(two[4], one[4] + 2);  // the control count, after style and extended style
  EXPECT_GT(two[8], one[8]);      // the height
}

}  // namespace
