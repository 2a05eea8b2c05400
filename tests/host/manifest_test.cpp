#include "data/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "data/json_number.h"
#include "net/manifest_fetch.h"

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

bool SameManifest(const Manifest& a, const Manifest& b) {
  auto same_file = [](const GameFile& x, const GameFile& y) {
    return x.path == y.path && x.size == y.size && x.md5 == y.md5 && x.cdn_url == y.cdn_url &&
           x.required == y.required && x.extract_to == y.extract_to && x.sha256 == y.sha256;
  };
  if (a.game_files.size() != b.game_files.size()) return false;
  for (size_t i = 0; i < a.game_files.size(); ++i)
    if (!same_file(a.game_files[i], b.game_files[i])) return false;
  return a.launcher_version == b.launcher_version && a.launcher_url == b.launcher_url &&
         a.launcher_md5 == b.launcher_md5 && a.launcher_sha256 == b.launcher_sha256 && a.realmList == b.realmList &&
         a.realmName == b.realmName && a.wow_client.url == b.wow_client.url && a.wow_client.size == b.wow_client.size &&
         a.wow_client.md5 == b.wow_client.md5 && a.wow_client.dir_name == b.wow_client.dir_name;
}

Manifest Parsed(const std::string& text, Manifest m = Manifest{}) {
  std::string error;
  EXPECT_TRUE(ParseManifest(text, m, error)) << error;
  return m;
}

GameFile OnlyFile(const std::string& element) {
  const Manifest m = Parsed("{\"game_files\":[" + element + "]}");
  EXPECT_EQ(m.game_files.size(), 1u) << element;
  return m.game_files.empty() ? GameFile{} : m.game_files[0];
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
  EXPECT_TRUE(SameManifest(m, want));
}

TEST(Manifest, FailuresLeaveTheManifestUntouched) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[]", "Manifest root is not object"},
      {"<html>", "Unexpected char: <"},
      {"", "Unexpected char: "},
      {"{\"game_files\":[{\"size\":1e999}]}", "stod argument out of range"},
  };
  for (const auto& c : cases) {
    Manifest m = Filled();
    std::string error;
    EXPECT_FALSE(ParseManifest(c.text, m, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(SameManifest(m, Filled())) << c.text;
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
  EXPECT_TRUE(SameManifest(m, want));
  EXPECT_TRUE(Parsed(R"({"game_files": {"path": "a"}})").game_files.empty());
}

TEST(Manifest, NumbersTruncateTowardZeroAndSaturate) {
  EXPECT_EQ(OnlyFile(R"({"size": 1234.9})").size, 1234);
  EXPECT_EQ(OnlyFile(R"({"size": -7.9})").size, -7);
  EXPECT_EQ(OnlyFile(R"({"size": 1e300})").size, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(Parsed(R"({"wow_client": {"size": -1e300}})").wow_client.size, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(TruncateToInt64(9223372036854774784.0), 9223372036854774784);  // largest double below 2^63
}

TEST(Manifest, ConfigAndClientReplaceOnlyWhenPresent) {
  Manifest m = Parsed(R"({"config": null, "wow_client": null})", Filled());
  EXPECT_EQ(m.realmName, "Old");
  EXPECT_EQ(m.wow_client.url, "http://old/client.rar");
  // The launcher fields and the file list are always replaced.
  EXPECT_TRUE(m.launcher_url.empty());
  EXPECT_TRUE(m.game_files.empty());

  m = Parsed(R"({"config": {"realmName": "New"}, "wow_client": 0})", Filled());  // a non-object reads as {}
  EXPECT_TRUE(m.realmList.empty());
  EXPECT_EQ(m.realmName, "New");
  EXPECT_TRUE(m.wow_client.url.empty());
  EXPECT_EQ(m.wow_client.size, 0);
}

TEST(Manifest, ErrorRepliesAreNotReadAndNameTheStatus) {
  HttpResponse reply;
  reply.status = 404;
  reply.body = "{\"launcher_version\":\"9.9.9\"}";
  Manifest m = Filled();
  std::string error;
  EXPECT_FALSE(ReadManifestReply(reply, m, error));
  EXPECT_EQ(error, "HTTP 404: ");
  EXPECT_TRUE(SameManifest(m, Filled()));
}

}  // namespace
