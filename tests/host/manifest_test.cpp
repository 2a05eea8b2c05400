#include "data/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "data/json_number.h"
#include "net/http_client.h"

namespace {

// A manifest as an earlier fetch could have left it.
Manifest Filled() {
  Manifest m;
  m.launcher_version = "0.9.0";
  m.launcher_url = "http://old/launcher.exe";
  m.launcher_md5 = "00112233445566778899aabbccddeeff";
  m.realmList = "old.realm";
  m.realmName = "Old";
  m.wow_client = {"http://old/client.rar", 77, "ffee", "OldDir"};
  GameFile f;
  f.path = "Data/old.MPQ";
  m.game_files = {f};
  return m;
}

bool SameManifest(const Manifest& a, const Manifest& b) {
  auto same_file = [](const GameFile& x, const GameFile& y) {
    return x.path == y.path && x.size == y.size && x.md5 == y.md5 && x.cdn_url == y.cdn_url &&
           x.required == y.required && x.extract_to == y.extract_to;
  };
  if (a.game_files.size() != b.game_files.size()) return false;
  for (size_t i = 0; i < a.game_files.size(); ++i)
    if (!same_file(a.game_files[i], b.game_files[i])) return false;
  return a.launcher_version == b.launcher_version && a.launcher_url == b.launcher_url &&
         a.launcher_md5 == b.launcher_md5 && a.realmList == b.realmList && a.realmName == b.realmName &&
         a.wow_client.url == b.wow_client.url && a.wow_client.size == b.wow_client.size &&
         a.wow_client.md5 == b.wow_client.md5 && a.wow_client.dir_name == b.wow_client.dir_name;
}

Manifest Parsed(const std::string& text) {
  Manifest m;
  std::string error;
  EXPECT_TRUE(ParseManifest(text, m, error)) << error;
  return m;
}

GameFile OnlyFile(const std::string& element) {
  const Manifest m = Parsed("{\"game_files\":[" + element + "]}");
  EXPECT_EQ(m.game_files.size(), 1u);
  return m.game_files.empty() ? GameFile{} : m.game_files[0];
}

TEST(Manifest, ReadsEveryField) {
  const Manifest m = Parsed(R"({
    "launcher_version": "1.2.3", "launcher_url": "http://h/l.exe",
    "launcher_md5": "0123456789abcdef0123456789abcdef",
    "config": {"realmList": "logon.example", "realmName": "Ostrelhold"},
    "wow_client": {"url": "http://h/c.rar", "size": 1234567890123, "md5": "abc", "dir_name": "WoW"},
    "game_files": [
      {"path": "Data/patch-4.MPQ", "size": 10, "md5": "d41d8cd98f00b204e9800998ecf8427e",
       "cdn_url": "http://cdn/p4", "required": false, "extract_to": ""},
      {"path": "Interface\\AddOns\\x.zip", "cdn_url": "http://cdn/x", "extract_to": "Interface/AddOns"}
    ],
    "unknown": [1, 2, 3]
  })");
  EXPECT_EQ(m.launcher_version, "1.2.3");
  EXPECT_EQ(m.launcher_url, "http://h/l.exe");
  EXPECT_EQ(m.launcher_md5, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(m.realmList, "logon.example");
  EXPECT_EQ(m.realmName, "Ostrelhold");
  EXPECT_EQ(m.wow_client.url, "http://h/c.rar");
  EXPECT_EQ(m.wow_client.size, 1234567890123);
  EXPECT_EQ(m.wow_client.md5, "abc");
  EXPECT_EQ(m.wow_client.dir_name, "WoW");
  ASSERT_EQ(m.game_files.size(), 2u);
  EXPECT_EQ(m.game_files[0].path, "Data/patch-4.MPQ");
  EXPECT_EQ(m.game_files[0].size, 10);
  EXPECT_EQ(m.game_files[0].md5, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(m.game_files[0].cdn_url, "http://cdn/p4");
  EXPECT_FALSE(m.game_files[0].required);
  EXPECT_EQ(m.game_files[1].path, "Interface\\AddOns\\x.zip");
  EXPECT_EQ(m.game_files[1].size, 0);
  EXPECT_TRUE(m.game_files[1].md5.empty());
  EXPECT_TRUE(m.game_files[1].required);
  EXPECT_EQ(m.game_files[1].extract_to, "Interface/AddOns");
}

TEST(Manifest, EmptyObjectGivesAnEmptyManifest) {
  const Manifest m = Parsed("{}");
  EXPECT_TRUE(SameManifest(m, Manifest{}));
  EXPECT_TRUE(m.game_files.empty());
}

TEST(Manifest, FailuresLeaveTheManifestUntouched) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[]", "Manifest root is not object"},
      {"\"text\"", "Manifest root is not object"},
      {"42", "Manifest root is not object"},
      {"null", "Manifest root is not object"},
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

TEST(Manifest, MistypedMembersReadAsEmptyOrZero) {
  const Manifest m = Parsed(R"({"launcher_version": 130, "launcher_url": ["x"], "launcher_md5": null,
    "wow_client": {"url": 5, "size": "99", "md5": {}, "dir_name": true}})");
  EXPECT_TRUE(m.launcher_version.empty());
  EXPECT_TRUE(m.launcher_url.empty());
  EXPECT_TRUE(m.launcher_md5.empty());
  EXPECT_TRUE(m.wow_client.url.empty());
  EXPECT_EQ(m.wow_client.size, 0);
  EXPECT_TRUE(m.wow_client.md5.empty());
  EXPECT_TRUE(m.wow_client.dir_name.empty());

  const GameFile f = OnlyFile(R"({"path": 1, "size": "1234", "md5": false, "cdn_url": null, "extract_to": 3})");
  EXPECT_TRUE(f.path.empty());
  EXPECT_EQ(f.size, 0);
  EXPECT_TRUE(f.md5.empty());
  EXPECT_TRUE(f.cdn_url.empty());
  EXPECT_TRUE(f.extract_to.empty());
}

TEST(Manifest, SizesTruncateTowardZeroAndSaturate) {
  EXPECT_EQ(OnlyFile(R"({"size": 1234.9})").size, 1234);
  EXPECT_EQ(OnlyFile(R"({"size": -7.9})").size, -7);
  EXPECT_EQ(OnlyFile(R"({"size": 4294967296})").size, 4294967296);
  EXPECT_EQ(OnlyFile(R"({"size": 1e300})").size, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(OnlyFile(R"({"size": -1e300})").size, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Parsed(R"({"wow_client": {"size": 2.5e9}})").wow_client.size, 2500000000);

  EXPECT_EQ(TruncateToInt32(57.99), 57);
  EXPECT_EQ(TruncateToInt32(-0.5), 0);
  EXPECT_EQ(TruncateToInt32(3e9), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(TruncateToInt32(-3e9), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(TruncateToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(TruncateToInt64(std::numeric_limits<double>::infinity()), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(TruncateToInt64(9223372036854774784.0), 9223372036854774784);  // largest double below 2^63
}

TEST(Manifest, RequiredIsTrueUnlessAPresentValueSaysOtherwise) {
  EXPECT_TRUE(OnlyFile("{}").required);
  EXPECT_TRUE(OnlyFile(R"({"required": null})").required);
  EXPECT_TRUE(OnlyFile(R"({"required": true})").required);
  EXPECT_FALSE(OnlyFile(R"({"required": false})").required);
  EXPECT_FALSE(OnlyFile(R"({"required": 0})").required);
  EXPECT_FALSE(OnlyFile(R"({"required": 1})").required);
  EXPECT_FALSE(OnlyFile(R"({"required": "true"})").required);
}

TEST(Manifest, GameFilesComeOnlyFromCdnUrl) {
  EXPECT_TRUE(OnlyFile(R"({"path": "a", "url": "http://h/a"})").cdn_url.empty());
}

TEST(Manifest, OddGameFileLists) {
  EXPECT_TRUE(Parsed(R"({"game_files": {"path": "a"}})").game_files.empty());
  EXPECT_TRUE(Parsed(R"({"game_files": "a"})").game_files.empty());

  // Elements that are not objects still count, as entries with nothing set.
  const Manifest m = Parsed(R"({"game_files": [5, "x", null, [], {"path": "p"}]})");
  ASSERT_EQ(m.game_files.size(), 5u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(m.game_files[i].path.empty());
    EXPECT_EQ(m.game_files[i].size, 0);
    EXPECT_TRUE(m.game_files[i].required);
  }
  EXPECT_EQ(m.game_files[4].path, "p");
}

TEST(Manifest, ConfigAndClientReplaceOnlyWhenPresent) {
  {
    Manifest m = Filled();
    std::string error;
    ASSERT_TRUE(ParseManifest(R"({"launcher_version": "2.0.0"})", m, error));
    EXPECT_EQ(m.realmList, "old.realm");
    EXPECT_EQ(m.realmName, "Old");
    EXPECT_EQ(m.wow_client.url, "http://old/client.rar");
    EXPECT_EQ(m.wow_client.size, 77);
    // The launcher fields and the file list are always replaced.
    EXPECT_EQ(m.launcher_version, "2.0.0");
    EXPECT_TRUE(m.launcher_url.empty());
    EXPECT_TRUE(m.game_files.empty());
  }
  {
    Manifest m = Filled();
    std::string error;
    ASSERT_TRUE(ParseManifest(R"({"config": null, "wow_client": null})", m, error));
    EXPECT_EQ(m.realmList, "old.realm");
    EXPECT_EQ(m.wow_client.dir_name, "OldDir");
  }
  {
    // Present but not objects: read as objects without members.
    Manifest m = Filled();
    std::string error;
    ASSERT_TRUE(ParseManifest(R"({"config": "x", "wow_client": 0})", m, error));
    EXPECT_TRUE(m.realmList.empty());
    EXPECT_TRUE(m.realmName.empty());
    EXPECT_TRUE(m.wow_client.url.empty());
    EXPECT_EQ(m.wow_client.size, 0);
    EXPECT_TRUE(m.wow_client.md5.empty());
    EXPECT_TRUE(m.wow_client.dir_name.empty());
  }
  {
    Manifest m = Filled();
    std::string error;
    ASSERT_TRUE(ParseManifest(R"({"config": {"realmName": "New"}})", m, error));
    EXPECT_TRUE(m.realmList.empty());
    EXPECT_EQ(m.realmName, "New");
  }
}

TEST(Manifest, ReadingTwiceListsEachFileOnce) {
  const std::string doc = R"({"game_files": [{"path": "a"}, {"path": "b"}]})";
  Manifest m;
  std::string error;
  ASSERT_TRUE(ParseManifest(doc, m, error));
  ASSERT_TRUE(ParseManifest(doc, m, error));
  ASSERT_EQ(m.game_files.size(), 2u);
  EXPECT_EQ(m.game_files[1].path, "b");
}

TEST(Manifest, ReplyErrorsNameTheStatus) {
  HttpResponse reply;
  reply.error = "Request failed";
  Manifest m = Filled();
  std::string error;
  EXPECT_FALSE(ReadManifestReply(reply, m, error));
  EXPECT_EQ(error, "HTTP 0: Request failed");

  reply = HttpResponse{};
  reply.status = 404;
  reply.body = "{\"launcher_version\":\"9.9.9\"}";  // a body of an error reply is not read
  EXPECT_FALSE(ReadManifestReply(reply, m, error));
  EXPECT_EQ(error, "HTTP 404: ");
  EXPECT_TRUE(SameManifest(m, Filled()));

  reply.status = 200;
  reply.ok = true;
  reply.body = "{\"launcher_version\":\"9.9.9\"}";
  EXPECT_TRUE(ReadManifestReply(reply, m, error));
  EXPECT_EQ(m.launcher_version, "9.9.9");

  reply.body = "<html>";
  EXPECT_FALSE(ReadManifestReply(reply, m, error));
  EXPECT_EQ(error, "Unexpected char: <");
}

}  // namespace
