// Signed manifests: the text forms, the launcher's decision on what it
// fetched, and the generator's keys and signatures checked by an outside
// verifier (BCrypt on Windows, the openssl command on Linux).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <tuple>

#include "data/signature_text.h"
#include "net/manifest_fetch.h"
#include "test_util.h"
#include "update/manifest_generator.h"
#ifdef _WIN32
#include "net/ecdsa.h"
#endif

namespace {

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

// What the launcher does with what it fetched: the signature is checked over
// the exact bytes before anything is read, and nothing else changes the manifest.
TEST(SignedManifest, OnlyAValidSignatureOfAPinnedManifestLoads) {
  const std::string pinned = R"({"launcher_version":"9.0.0","game_files":[{"path":"a","md5":"x"}]})";
  const std::string unpinned = R"({"game_files":[{"path":"Data/x.MPQ","size":3}]})";
  const std::string good_sig = std::string(128, '1'), other_sig = std::string(128, '2');
  const std::tuple<HttpResponse, HttpResponse, std::string, ManifestFetch, std::string> cases[] = {
      {Reply(200, pinned), Reply(200, " " + good_sig + "\n"), kHex, ManifestFetch::Loaded, ""},
      {Reply(404, ""), Reply(200, good_sig), kHex, ManifestFetch::Failed, "HTTP 404: "},
      {Reply(200, pinned), Reply(0, ""), kHex, ManifestFetch::Failed, "signature: HTTP 0: Request failed"},
      {Reply(200, pinned), Reply(404, ""), kHex, ManifestFetch::Rejected, "manifest signature missing: HTTP 404: "},
      {Reply(200, pinned), Reply(200, "<html>"), kHex, ManifestFetch::Rejected, "manifest signature malformed"},
      {Reply(200, pinned), Reply(200, other_sig), kHex, ManifestFetch::Rejected, "manifest signature invalid"},
      {Reply(200, pinned + " "), Reply(200, good_sig), kHex, ManifestFetch::Rejected, "manifest signature invalid"},
      {Reply(200, pinned), Reply(200, good_sig), "abc", ManifestFetch::Rejected, "built-in update key is malformed"},
      {Reply(200, unpinned), Reply(200, good_sig), kHex, ManifestFetch::Rejected, "no digest for Data/x.MPQ"},
  };
  // The stand-in verifier accepts signature "11..." of the exact bytes of `pinned` or `unpinned`.
  const SignatureCheck check = [&](const std::string& message, const EcdsaPublicKey& key, const EcdsaSignature& s) {
    return (message == pinned || message == unpinned) && Hex64(key).substr(0, 4) == "0011" && s[0] == 0x11;
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
  EXPECT_FALSE(ReadManifestReply(Reply(404, pinned), m, error));
  EXPECT_EQ(error, "HTTP 404: ");
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
  testutil::TempDir dir;
  const auto path = [&](const char* name) { return (dir / name).u8string(); };
  std::ostringstream out, err;
  ASSERT_EQ(RunManifestGenerator({"--make-key", path("realm.pem")}, out, err), 0) << err.str();
  EcdsaPublicKey key;
  std::string error;
  const std::string pub = testutil::ReadBytes(dir / "realm.pem.pub");
  ASSERT_TRUE(ParseHex64(pub, key, error)) << pub;
  EXPECT_NE(out.str().find("-DOSTREL_UPDATE_PUBLIC_KEY=" + Hex64(key) + "\n"), std::string::npos) << out.str();
  EXPECT_EQ(RunManifestGenerator({"--make-key", path("realm.pem")}, out, err), 1);  // never overwritten

  testutil::WriteBytes(dir / "realm" / "Data" / "a.MPQ", "abc");
  ASSERT_EQ(RunManifestGenerator(
                {"--files-url", "http://h/f", "--out", path("manifest.php"), "--key", path("realm.pem"), path("realm")},
                out, err),
            0)
      << err.str();
  const std::string manifest = testutil::ReadBytes(dir / "manifest.php");
  EcdsaSignature signature;
  ASSERT_TRUE(ParseHex64(testutil::ReadBytes(dir / "manifest.php.sig"), signature, error)) << error;
  EXPECT_TRUE(Verified(manifest, key, signature, dir));
  EXPECT_FALSE(Verified(manifest + " ", key, signature, dir));

  // A manifest written by hand is signed as it stands, unless it leaves a download unchecked.
  testutil::WriteBytes(dir / "hand.php", R"({"game_files":[{"path":"a","cdn_url":"http://h/a"}]})");
  EXPECT_EQ(RunManifestGenerator({"--sign", path("hand.php"), "--key", path("realm.pem")}, out, err), 1);
  EXPECT_NE(err.str().find("a: no digest"), std::string::npos) << err.str();
}

}  // namespace
