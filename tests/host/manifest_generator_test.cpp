// The realm operator's tool (manifest generator) and signed manifests: the text forms,
// the launcher's decision on what it fetched, and the generator's keys and signatures
// checked by an outside verifier (BCrypt on Windows, the openssl command on Linux).
#include "publish/manifest_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "data/manifest.h"
#include "data/manifest_writer.h"
#include "data/signature_text.h"
#include "delta/block_map.h"
#include "digest_vectors.h"
#include "net/manifest_fetch.h"
#include "net/md5.h"
#include "net/sha256.h"
#include "publish/pe_version.h"
#include "test_util.h"
#ifdef _WIN32
#include "net/ecdsa.h"
#endif

namespace {

// The smallest Windows program with a version block (the fuzzer's seed, 1.2.3.0;
// wrestool reads it too): PE32+ headers, one ".rsrc" section at file offset
// 0x200 holding three resource directories (type 16, name 1, language 0x409),
// the data entry at 0x248 and the block at 0x258, here with the file version a.b.c.d.
constexpr std::uint32_t kRsrc = 0x200, kBlock = 0x258;
std::string PeImage(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  std::string pe = testutil::ReadBytes(testutil::TestDataPath("../fuzz/corpus/pe_version_fuzz/minimal.exe"));
  testutil::PutLe(pe, kBlock + 48, std::uint32_t{a} << 16 | b);
  testutil::PutLe(pe, kBlock + 52, std::uint32_t{c} << 16 | d);
  return pe;
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
  const std::string launcher = PeImage(1, 0, 1, 0);
  g.Write("OstrelLauncher.exe", launcher);
  g.Write("client.zip", "message digest");
  // The launcher's version comes from its version block.
  ASSERT_EQ(g.Generate({"--extract", "Interface/ui.zip=Interface/AddOns", "--launcher", g.Path("OstrelLauncher.exe"),
                        "--launcher-url", "http://h/L.exe", "--client-file", g.Path("client.zip"), "--client-url",
                        "http://h/c.zip", "--client-dir", "WoW", "--realm-list", "logon.example", "--realm-name",
                        "Ostrelhold"}),
            0)
      << g.err;

  const std::string written = testutil::ReadBytes(g.dir / "manifest.php");
  EXPECT_EQ(written, R"({
  "launcher_version": "1.0.1",
  "launcher_url": "http://h/L.exe",
  "launcher_md5": ")" + Md5Hex(launcher) +
                         R"(",
  "launcher_sha256": ")" +
                         Sha256Hex(launcher) + R"(",
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
      {Entry("data") + "," + Entry("Data/x"), "data: a file where Data/x needs a folder"},
      {Entry("a", R"(,"size":-1)"), "a: negative size"},
      {Entry("a", R"(,"md5":"abc")"), "a: an MD5 digest is 32 hexadecimal digits"},
      {Entry("a", R"(,"cdn_url":"ftp://h/a")"), "a cdn_url: not an http:// or https:// address"},
      {Entry("a.zip", R"(,"extract_to":"C:/Windows")"), "a.zip: extract_to \"C:/Windows\": drive letter"},
      {Entry("a", R"(,"block_map":{"url":"ftp://h/a.map","size":9,"md5":"0","sha256":"1"})"),
       "a block_map: not an http:// or https:// address"},
      {Entry("a", R"(,"block_map":{"url":"a.map","size":9})"), "a block_map: needs its MD5 and its SHA-256"},
      {Entry("a", R"(,"block_map":{"url":"a.map","size":1048577})"), "size 1048577 is not within its bound of 1048576"},
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
      {{"--launcher", g.Path("no.exe")}, 2, "--launcher needs --launcher-url"},
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

// Beside every big file its block map, named in the file's entry; maps are
// never game files, and one whose file is gone or now small is removed.
TEST(ManifestGenerator, WritesABlockMapBesideEachBigFile) {
  Generator g;
  const std::string big = testutil::PatternBytes(kBlockMapMinFileBytes + 5);
  g.Write("realm/Data/big one.MPQ", big);
  g.Write("realm/Data/small.MPQ", "abc");
  g.Write("realm/Data/small.MPQ.ostrel-map", "stale");
  g.Write("realm/Data/gone.MPQ.ostrel-map", "stale");
  ASSERT_EQ(g.Generate(), 0) << g.err;
  EXPECT_NE(g.out.find("2 game files, 16777224 bytes; 1 block maps beside their files; 2 stale block maps removed"),
            std::string::npos)
      << g.out;
  Manifest m;
  std::string error;
  ASSERT_TRUE(ParseManifest(testutil::ReadBytes(g.dir / "manifest.php"), m, error)) << error;
  ASSERT_EQ(m.game_files.size(), 2u);
  const GameFile& file = m.game_files[0];
  const BlockMapRef& entry = file.block_map;
  const std::string map = testutil::ReadBytes(g.dir / "realm/Data/big one.MPQ.ostrel-map");
  EXPECT_EQ(entry.url, "big%20one.MPQ.ostrel-map?v=" + Md5Hex(map).substr(0, 12));
  EXPECT_EQ(entry.size, static_cast<std::int64_t>(map.size()));
  EXPECT_EQ(entry.md5 + entry.sha256, Md5Hex(map) + Sha256Hex(map));
  BlockMap read;
  ASSERT_TRUE(ReadBlockMap(map, {big.size(), file.md5, file.sha256}, read, error)) << error;
  EXPECT_EQ(read.blocks.size(), big.size() / 4096 + 1);
  EXPECT_TRUE(m.game_files[1].block_map.url.empty());
  EXPECT_FALSE(std::filesystem::exists(g.dir / "realm/Data/small.MPQ.ostrel-map"));
  EXPECT_FALSE(std::filesystem::exists(g.dir / "realm/Data/gone.MPQ.ostrel-map"));
  EXPECT_EQ(g.Run({"--check", g.Path("manifest.php")}), 0) << g.err;
}

TEST(ManifestGenerator, LauncherVersionIsTheBuildsVersionBlock) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {PeImage(1, 2, 3, 0), "1.2.3", ""},
      {PeImage(1, 2, 3, 0), "1.2.4", "--launcher-version 1.2.4 disagrees with the version block of "},
      {PeImage(1, 2, 3, 4), "", "its version block says 1.2.3.4, but a launcher build's ends in .0"},
      {"MZ not a program", "", "not a Windows program (no PE header)"},
  };
  for (const auto& [build, given, message] : cases) {
    Generator g;
    g.Write("realm/a", "a");
    g.Write("L.exe", build);
    std::vector<std::string> args = {"--launcher", g.Path("L.exe"), "--launcher-url", "http://h/L.exe"};
    if (!given.empty()) args.insert(args.end(), {"--launcher-version", given});
    EXPECT_EQ(g.Generate(args), message.empty() ? 0 : 1) << message;
    EXPECT_NE(g.err.find(message), std::string::npos) << g.err;
    EXPECT_EQ(std::filesystem::exists(g.dir / "manifest.php"), message.empty()) << message;
  }
}

// The reader follows offsets from an operator-given file: each damaged or
// cut-off image is refused with its reason, never read past its end (the
// sanitizers watch; tests/fuzz/pe_version_fuzz.cpp tries the rest).
TEST(PeVersion, ReadsTheVersionBlockAndRefusesDamage) {
  const std::string good = PeImage(1, 2, 65535, 7);
  PeFileVersion version{};
  std::string problem;
  ASSERT_TRUE(ReadPeFileVersion(good, version, problem)) << problem;
  EXPECT_EQ(PeFileVersionText(version), "1.2.65535.7");

  const std::tuple<std::uint32_t, std::uint32_t, std::string> damage[] = {
      {0x3C, 0xFFFFFFF0, "no PE header"},                      // the PE header's offset past the end
      {0x58, 0x10C, "PE headers are damaged"},                 // no known optional header
      {0x58 + 112 + 16, 0x5000, "resources are damaged"},      // the resources outside every section
      {kRsrc + 16, 3, "no version block"},                     // an icon where the version type was
      {kRsrc + 20, 0x80FFFFF0, "resources are damaged"},       // a directory past the end
      {kRsrc + 0x18 + 20, 0x30, "resources are damaged"},      // data where a directory belongs
      {kRsrc + 0x4C, 0x7FFFFFFF, "version block is damaged"},  // a block larger than its section
      {kBlock + 6, 'W', "version block is damaged"},           // another key
      {kBlock + 40, 0xFEEF04BE, "version block is damaged"},
  };
  for (const auto& [at, value, message] : damage) {
    std::string bad = good;
    testutil::PutLe(bad, at, value);
    EXPECT_FALSE(ReadPeFileVersion(bad, version, problem)) << message;
    EXPECT_NE(problem.find(message), std::string::npos) << problem;
  }
  for (std::size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(ReadPeFileVersion(std::string_view(good).substr(0, length), version, problem)) << length;
  }
}

const std::string kHex =
    "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff"
    "0123456789ABCDEFfedcba98765432100123456789abcdef0123456789abcdef";

TEST(SignatureText, DerSignaturesBecomeRThenS) {
  const std::string r33 = std::string("\x00", 1) + std::string(32, '\x88');  // high bit set: a leading zero
  const std::string s31(31, '\x22');                                         // a short number is padded
  EcdsaSignature sig{};
  ASSERT_TRUE(SignatureFromDer("\x30\x44\x02\x21" + r33 + "\x02\x1f" + s31, sig));
  EXPECT_EQ(Hex64(sig), std::string(64, '8') + "00" + std::string(62, '2'));
  for (const std::string& bad :
       {"\x30\x44\x02\x21" + r33 + "\x02\x1f" + s31 + "x", std::string("\x31\x05\x02\x01\x01\x02\x01"),
        "\x30\x26\x02\x21" + std::string(33, '\x01') + "\x02\x01\x01"}) {
    EXPECT_FALSE(SignatureFromDer(bad, sig)) << bad.size();
  }
}

HttpResponse Reply(std::uint32_t status, std::string body) {
  HttpResponse reply;
  reply.status = status;
  reply.ok = status == 200;
  reply.body = std::move(body);
  if (status == 0) reply.error = "Request failed";
  return reply;
}

HttpResponse TlsFailedReply() {
  HttpResponse reply;
  reply.tls = TlsFailure::Certificate;
  reply.error = kCertificateNotTrusted;
  return reply;
}

// What the launcher does with what it fetched: the signature is checked over
// the exact bytes before anything is read, and nothing else changes the manifest.
TEST(SignedManifest, OnlyAValidSignatureOfAPinnedManifestLoads) {
  const std::string pinned = R"({"launcher_version":"9.0.0","game_files":[{"path":"a","md5":"x"}]})";
  const std::string unpinned = R"({"game_files":[{"path":"Data/x.MPQ","size":3}]})";
  const std::string unpinned_map = R"({"game_files":[{"path":"a","md5":"x","block_map":{"url":"a.map"}}]})";
  const std::string good_sig = std::string(128, '1'), other_sig = std::string(128, '2');
  const std::tuple<HttpResponse, HttpResponse, std::string, ManifestFetch, std::string> cases[] = {
      {Reply(200, pinned), Reply(200, " " + good_sig + "\n"), kHex, ManifestFetch::Loaded, ""},
      {Reply(404, ""), Reply(200, good_sig), kHex, ManifestFetch::Failed, "HTTP 404: "},
      {Reply(200, pinned), Reply(0, ""), kHex, ManifestFetch::Failed, "signature: HTTP 0: Request failed"},
      {TlsFailedReply(), HttpResponse{}, kHex, ManifestFetch::TlsFailed, kCertificateNotTrusted},
      {Reply(200, pinned), TlsFailedReply(), kHex, ManifestFetch::TlsFailed, kCertificateNotTrusted},
      {Reply(200, pinned), Reply(404, ""), kHex, ManifestFetch::Rejected, "manifest signature missing: HTTP 404: "},
      {Reply(200, pinned), Reply(200, "<html>"), kHex, ManifestFetch::Rejected, "manifest signature malformed"},
      {Reply(200, pinned), Reply(200, other_sig), kHex, ManifestFetch::Rejected, "manifest signature invalid"},
      {Reply(200, pinned + " "), Reply(200, good_sig), kHex, ManifestFetch::Rejected, "manifest signature invalid"},
      {Reply(200, pinned), Reply(200, good_sig), "abc", ManifestFetch::Rejected, "built-in update key is malformed"},
      {Reply(200, unpinned), Reply(200, good_sig), kHex, ManifestFetch::Rejected, "no digest for Data/x.MPQ"},
      {Reply(200, unpinned_map), Reply(200, good_sig), kHex, ManifestFetch::Rejected, "no digest for a block_map"},
  };
  // The stand-in verifier accepts signature "11..." of the exact bytes of `pinned` or `unpinned`.
  const SignatureCheck check = [&](const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& s) {
    return (message == pinned || message == unpinned || message == unpinned_map) && Hex64(key).substr(0, 4) == "0011" &&
           s[0] == 0x11;
  };
  for (const auto& [manifest, signature, key, result, want] : cases) {
    Manifest m;
    m.launcher_version = "1.0.0";
    std::string error;
    EXPECT_EQ(ReadSignedManifest(manifest, signature, key, check, m, error), result) << want;
    EXPECT_NE(error.find(want), std::string::npos) << error;
    EXPECT_EQ(m.launcher_version, result == ManifestFetch::Loaded ? "9.0.0" : "1.0.0") << want;
  }
  // Without a key: an error page is never read as the manifest.
  Manifest m;
  std::string error;
  EXPECT_EQ(ReadManifestReply(Reply(404, pinned), m, error), ManifestFetch::Failed);
  EXPECT_EQ(error, "HTTP 404: ");
  EXPECT_EQ(ReadManifestReply(TlsFailedReply(), m, error), ManifestFetch::TlsFailed);
  EXPECT_EQ(error, kCertificateNotTrusted);
  EXPECT_TRUE(m.launcher_version.empty());
}

bool Verified(const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& signature,
              const testutil::TempDir& dir) {
#ifdef _WIN32
  (void)dir;
  return VerifyEcdsaP256(message, key, signature);
#else
  // r||s as DER, and the public key as openssl reads it.
  const auto DerInteger = [](const std::uint8_t* bytes) {
    std::string n(reinterpret_cast<const char*>(bytes), 32);
    while (n.size() > 1 && n[0] == '\0' && !(n[1] & 0x80)) n.erase(0, 1);
    if (n[0] & 0x80) n.insert(0, 1, '\0');
    return "\x02" + std::string(1, static_cast<char>(n.size())) + n;
  };
  const std::string body = DerInteger(signature.data()) + DerInteger(signature.data() + 32);
  testutil::WriteBytes(dir / "v.sig", "\x30" + std::string(1, static_cast<char>(body.size())) + body);
  testutil::WriteBytes(dir / "v.pub", std::string("\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86"
                                                  "\x48\xce\x3d\x03\x01\x07\x03\x42\x00\x04",
                                                  27) +
                                          std::string(key.begin(), key.end()));
  testutil::WriteBytes(dir / "v.msg", message);
  const std::string d = dir.path().string();
  return std::system(("openssl dgst -sha256 -verify " + d + "/v.pub -keyform DER -signature " + d + "/v.sig " + d +
                      "/v.msg >/dev/null 2>&1")
                         .c_str()) == 0;
#endif
}

TEST(ManifestSigning, TheGeneratorMakesAKeyAndSignsWhatItWrites) {
  Generator g;
  ASSERT_EQ(g.Run({"--make-key", g.Path("realm.pem")}), 0) << g.err;
  EcdsaPublicKey key;
  std::string error;
  const std::string pub = testutil::ReadBytes(g.dir / "realm.pem.pub");
  ASSERT_TRUE(ParseHex64(pub, key, error)) << pub;
  EXPECT_NE(g.out.find("-DOSTREL_UPDATE_PUBLIC_KEY=" + Hex64(key) + "\n"), std::string::npos) << g.out;
  EXPECT_EQ(g.Run({"--make-key", g.Path("realm.pem")}), 1);  // never overwritten

  g.Write("realm/Data/a.MPQ", "abc");
  ASSERT_EQ(g.Generate({"--key", g.Path("realm.pem")}), 0) << g.err;
  const std::string manifest = testutil::ReadBytes(g.dir / "manifest.php");
  EcdsaSignature signature;
  ASSERT_TRUE(ParseHex64(testutil::ReadBytes(g.dir / "manifest.php.sig"), signature, error)) << error;
  EXPECT_TRUE(Verified(manifest, key, signature, g.dir));
  EXPECT_FALSE(Verified(manifest + " ", key, signature, g.dir));

  // A manifest written by hand is signed as it stands, unless it leaves a download unchecked.
  g.Write("hand.php", R"({"game_files":[{"path":"a","cdn_url":"http://h/a"}]})");
  EXPECT_EQ(g.Run({"--sign", g.Path("hand.php"), "--key", g.Path("realm.pem")}), 1);
  EXPECT_NE(g.err.find("a: no digest"), std::string::npos) << g.err;
}

}  // namespace
