#include "update/manifest_generator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

#include "data/manifest.h"
#include "data/manifest_writer.h"
#include "digest_vectors.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "test_util.h"

namespace {

TEST(PortableDigests, KnownDigests) {
  for (const auto& v : testutil::DigestVectors()) {
    EXPECT_EQ(Md5Hex(v.input), v.md5) << v.input.size();
    EXPECT_EQ(Sha256Hex(v.input), v.sha256) << v.input.size();
  }
}

struct Generator {
  testutil::TempDir dir;
  std::string out, err;

  std::string Path(const std::string& relative) const { return (dir / relative).u8string(); }
  void Write(const std::string& relative, const std::string& bytes) const {
    testutil::WriteBytes(dir / relative, bytes);
  }
  int Run(const std::vector<std::string>& args) {
    std::ostringstream o, e;
    const int code = RunManifestGenerator(args, o, e);
    out = o.str();
    err = e.str();
    return code;
  }
  int Generate(std::vector<std::string> extra = {}) {
    extra.insert(extra.end(),
                 {"--files-url", "http://cdn.example/realm/", "--out", Path("manifest.php"), Path("realm")});
    return Run(extra);
  }
};

TEST(ManifestGenerator, WritesAManifestTheLauncherReadsBack) {
  Generator g;
  g.Write("realm/Data/patch-4.MPQ", testutil::BoundaryBytes(testutil::kMiB + 1));
  g.Write("realm/Data/enUS/My Patch#1.txt", "abc");
  g.Write("realm/Interface/ui.zip", std::string("PK\x03\x04", 4) + "...");
  g.Write("OstrelLauncher.exe", "a");
  g.Write("client.zip", "message digest");
  ASSERT_EQ(g.Generate({"--extract", "Interface/ui.zip=Interface/AddOns", "--launcher", g.Path("OstrelLauncher.exe"),
                        "--launcher-version", "1.0.1", "--launcher-url", "http://h/L.exe", "--client-file",
                        g.Path("client.zip"), "--client-url", "http://h/c.zip", "--client-dir", "WoW", "--realm-list",
                        "logon.example", "--realm-name", "Ostrelhold"}),
            0)
      << g.err;

  const std::string written = testutil::ReadBytes(g.dir / "manifest.php");
  EXPECT_EQ(written, R"({
  "launcher_version": "1.0.1",
  "launcher_url": "http://h/L.exe",
  "launcher_md5": "0cc175b9c0f1b6a831c399e269772661",
  "launcher_sha256": "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb",
  "config": {"realmList": "logon.example", "realmName": "Ostrelhold"},
  "wow_client": {"url": "http://h/c.zip", "size": 14, "md5": "f96b697d7cb7938d525a2f31aaf161d0", "dir_name": "WoW"},
  "game_files": [
    {"path": "Data/enUS/My Patch#1.txt", "size": 3, "md5": "900150983cd24fb0d6963f7d28e17f72", "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", "cdn_url": "http://cdn.example/realm/Data/enUS/My%20Patch%231.txt?v=900150983cd2"},
    {"path": "Data/patch-4.MPQ", "size": 1048577, "md5": "9e45cee2c0e79c4df09344dcaa9b659f", "sha256": "5acaba771070b2e938fe2be69a5c1f33166680707c091eaae6f32d1df798eac8", "cdn_url": "http://cdn.example/realm/Data/patch-4.MPQ?v=9e45cee2c0e7"},
    {"path": "Interface/ui.zip", "size": 7, "md5": "4ca4f8da25911fa8f97ead72bb8d5619", "sha256": "0e7c90a74307a05901146c43486b4fda7131cd45e96cbfd640227243531b35df", "cdn_url": "http://cdn.example/realm/Interface/ui.zip?v=4ca4f8da2591", "extract_to": "Interface/AddOns"}
  ]
}
)");
  // The launcher's reader takes in every member the writer wrote.
  Manifest m;
  std::string error;
  ASSERT_TRUE(ParseManifest(written, m, error)) << error;
  EXPECT_EQ(ManifestJson(m), written);
  // What it wrote passes its own check.
  EXPECT_EQ(g.Run({"--check", g.Path("manifest.php")}), 0) << g.err;
}

std::string Entry(const std::string& path, const std::string& extra = "") {
  return R"({"path":")" + path + R"(","size":1,"md5":"00000000000000000000000000000000","cdn_url":"http://h/f")" +
         extra + "}";
}

TEST(ManifestGenerator, RefusesWhatTheLauncherWouldRefuseOrStumbleOver) {
  // The path rules are the launcher's own (held by the updater's table); one row shows they apply.
  const std::pair<std::string, std::string> cases[] = {
      {Entry("CON"), "CON: reserved device name"},
      {Entry("Data/\xc3\xa9"), "only printable ASCII"},
      {Entry("Data/A.MPQ") + "," + Entry("data/a.mpq"), "data/a.mpq: names the same file as Data/A.MPQ"},
      {Entry("a") + "," + Entry("a"), "a: listed twice"},
      {Entry("data") + "," + Entry("Data/x"), "data: a file where Data/x needs a folder"},
      {Entry("a", R"(,"size":-1)"), "a: negative size"},
      {Entry("a", R"(,"md5":"abc")"), "a: an MD5 digest is 32 hexadecimal digits"},
      {Entry("a", R"(,"cdn_url":"ftp://h/a")"), "a cdn_url: not an http:// or https:// address"},
      {Entry("a.zip", R"(,"extract_to":"C:/Windows")"), "a.zip: extract_to \"C:/Windows\": drive letter"},
  };
  for (const auto& [entries, message] : cases) {
    Generator g;
    g.Write("m.php", R"({"launcher_version":"1.0","launcher_url":"http://h/l","game_files":[)" + entries + "]}");
    EXPECT_EQ(g.Run({"--check", g.Path("m.php")}), 1) << entries;
    EXPECT_NE(g.err.find(message), std::string::npos) << g.err;
    EXPECT_NE(g.err.find("launcher_version: write it as major.minor.patch"), std::string::npos) << g.err;
  }
}

TEST(ManifestGenerator, RefusedFilesAndWrongUsageWriteNothing) {
  Generator g;
  g.Write("realm/Data/x.bin", "not an archive");
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--extract", "Data/x.bin=Interface"}, 1, "Data/x.bin: not a ZIP archive"},
      {{"--extract", "Data/y.zip=Interface"}, 1, "--extract Data/y.zip: no such file"},
      {{"--launcher", g.Path("no.exe")}, 2, "--launcher needs --launcher-version and --launcher-url"},
  };
  for (const auto& [args, code, message] : cases) {
    EXPECT_EQ(g.Generate(args), code) << message;
    EXPECT_NE(g.err.find(message), std::string::npos) << g.err;
  }
#ifndef _WIN32  // a name no Windows file system can hold
  std::filesystem::create_symlink(g.dir / "nowhere", g.dir / "realm" / "dangling");
  EXPECT_EQ(g.Generate(), 1);
  EXPECT_NE(g.err.find("dangling: not a regular file that can be read"), std::string::npos) << g.err;
#endif
  EXPECT_FALSE(std::filesystem::exists(g.dir / "manifest.php"));
}

}  // namespace
