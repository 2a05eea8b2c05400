#include <gtest/gtest.h>

#include <string>

#include "data/manifest.h"
#include "data/text.h"
#include "loopback_socket_win.h"
#include "test_util.h"

namespace {

std::wstring ServerUrl(const std::string& path) { return Widen(testutil::TestServerUrl(path)); }

Manifest Earlier() {
  Manifest m;
  m.launcher_version = "1.0.0";
  m.realmList = "kept.realm";
  m.game_files.resize(3);
  return m;
}

class ManifestFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  }
};

TEST_F(ManifestFetch, ReadsTheServedDocument) {
  testutil::WriteBytes(testutil::TestServerRoot() / "fetch_manifest.json",
                       R"({"launcher_version":"1.4.0","game_files":[{"path":"Data/a.MPQ","size":3,)"
                       R"("cdn_url":"http://cdn/a"},{"path":"Data/b.MPQ"}]})");
  Manifest m = Earlier();
  std::string error;
  ASSERT_TRUE(FetchManifest(m, ServerUrl("/fetch_manifest.json"), error)) << error;
  EXPECT_EQ(m.launcher_version, "1.4.0");
  EXPECT_EQ(m.realmList, "kept.realm");  // no "config" in this document
  ASSERT_EQ(m.game_files.size(), 2u);
  EXPECT_EQ(m.game_files[0].size, 3);
  EXPECT_EQ(m.game_files[0].cdn_url, "http://cdn/a");
  EXPECT_EQ(m.game_files[1].path, "Data/b.MPQ");
}

TEST_F(ManifestFetch, FailedRepliesNameTheStatusAndChangeNothing) {
  testutil::WriteBytes(testutil::TestServerRoot() / "fetch_manifest_html.json", "<html>oops</html>");
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {"/no_such_manifest.json", "HTTP 404: "},
      {"/fetch_manifest_html.json?status=500", "HTTP 500: "},
      {"/fetch_manifest_html.json", "Unexpected char: <"},
  };
  for (const auto& c : cases) {
    Manifest m = Earlier();
    std::string error;
    EXPECT_FALSE(FetchManifest(m, ServerUrl(c.path), error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_EQ(m.launcher_version, "1.0.0");
    EXPECT_EQ(m.game_files.size(), 3u);
  }
}

TEST_F(ManifestFetch, UnreachableServerGivesStatusZero) {
  const testutil::WinsockScope winsock;
  const std::uint16_t port = testutil::ClosedLoopbackPort();
  ASSERT_NE(port, 0);
  Manifest m = Earlier();
  std::string error;
  EXPECT_FALSE(FetchManifest(m, L"http://127.0.0.1:" + std::to_wstring(port) + L"/launcher/manifest.php", error));
  EXPECT_EQ(error, "HTTP 0: Request failed");
  EXPECT_EQ(m.game_files.size(), 3u);
}

}  // namespace
