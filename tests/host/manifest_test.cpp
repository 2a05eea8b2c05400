#include "data/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "data/json_number.h"
#include "data/manifest_writer.h"

namespace {

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

TEST(Manifest, ReadsEveryFieldAndReplacesTheFileList) {
  const Manifest m = Parsed(R"({
    "launcher_version": "1.2.3", "launcher_url": "http://h/l.exe", "launcher_md5": "0123abcd", "launcher_sha256": "5ha",
    "config": {"realmList": "logon.example", "realmName": "Ostrelhold"},
    "wow_client": {"url": "http://h/c.rar", "size": 1234567890123, "md5": "abc", "dir_name": "WoW"},
    "game_files": [
      {"path": "Data/patch-4.MPQ", "size": 10, "md5": "d41d", "cdn_url": "http://cdn/p4", "required": false, "sha256": "e3b0"},
      {"path": "Interface\\AddOns\\x.zip", "url": "http://ignored", "extract_to": "Interface/AddOns"}
    ],
    "unknown": [1, 2, 3]
  })",
                            Filled());
  Manifest want;
  want.launcher_version = "1.2.3";
  want.launcher_url = "http://h/l.exe";
  want.launcher_md5 = "0123abcd";
  want.launcher_sha256 = "5ha";
  want.realmList = "logon.example";
  want.realmName = "Ostrelhold";
  want.wow_client = {"http://h/c.rar", 1234567890123, "abc", "WoW"};
  want.game_files = {{"Data/patch-4.MPQ", 10, "d41d", "http://cdn/p4", false, "", "e3b0"},
                     {"Interface\\AddOns\\x.zip", 0, "", "", true, "Interface/AddOns", ""}};  // only cdn_url is read
  EXPECT_EQ(ManifestJson(m), ManifestJson(want));
}

// A refused document changes nothing the launcher already knows.
TEST(Manifest, FailuresLeaveTheManifestUntouched) {
  for (const auto& [text, error] :
       {std::make_pair("[]", "Manifest root is not object"), std::make_pair("<html>", "Unexpected char: <"),
        std::make_pair("", "Unexpected char: "),
        std::make_pair("{\"game_files\":[{\"size\":1e999}]}", "stod argument out of range")}) {
    Manifest m = Filled();
    std::string message;
    EXPECT_FALSE(ParseManifest(text, m, message)) << text;
    EXPECT_EQ(message, error);
    EXPECT_EQ(ManifestJson(m), ManifestJson(Filled())) << text;
  }
}

TEST(Manifest, MistypedMembersAndOddListsReadAsEmptyOrDefault) {
  const Manifest m = Parsed(R"({"launcher_version": 130, "launcher_url": ["x"], "launcher_md5": null,
    "wow_client": {"url": 5, "size": "99", "md5": {}, "dir_name": true},
    "game_files": [5, {"path": 1, "size": "1234", "md5": false, "cdn_url": null, "extract_to": 3, "required": 1},
                   {"path": "p", "required": null}]})");
  Manifest want;  // "required" is true unless a present value says otherwise
  want.game_files.resize(3);
  want.game_files[1].required = false;
  want.game_files[2].path = "p";
  EXPECT_EQ(ManifestJson(m), ManifestJson(want));
  EXPECT_TRUE(m.launcher_url.empty() && m.wow_client.md5.empty() && m.wow_client.size == 0);
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

TEST(Manifest, ConfigAndClientReplaceOnlyWhenPresent) {
  Manifest m = Parsed(R"({"config": null, "wow_client": null})", Filled());
  EXPECT_EQ(m.realmName, "Old");
  EXPECT_EQ(m.wow_client.url, "http://old/client.rar");
  EXPECT_TRUE(m.launcher_url.empty());  // the launcher fields and the file list are always replaced
  EXPECT_TRUE(m.game_files.empty());
  m = Parsed(R"({"config": {"realmName": "New"}, "wow_client": 0})", Filled());  // a non-object reads as {}
  EXPECT_TRUE(m.realmList.empty());
  EXPECT_EQ(m.realmName, "New");
  EXPECT_TRUE(m.wow_client.url.empty());
}

}  // namespace
