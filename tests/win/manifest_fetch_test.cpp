#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "loopback_socket_win.h"
#include "net/manifest_fetch.h"
#include "test_util.h"

namespace {

std::wstring ServerUrl(const std::string& path) { return Widen(testutil::TestServerUrl(path)); }

TEST(ManifestFetch, ReadsTheServedDocumentOrNamesTheFailureAndChangesNothing) {
  if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
  testutil::WriteBytes(testutil::TestServerRoot() / "fetch_manifest.json",
                       R"({"launcher_version":"1.4.0","game_files":[{"path":"Data/a.MPQ","size":3}]})");
  testutil::WriteBytes(testutil::TestServerRoot() / "fetch_manifest_html.json", "<html>oops</html>");
  const testutil::WinsockScope winsock;
  const std::uint16_t closed = testutil::ClosedLoopbackPort();
  ASSERT_NE(closed, 0);
  const struct {
    std::wstring url;
    std::string error;  // empty: the fetch succeeds
  } cases[] = {
      {ServerUrl("/fetch_manifest.json"), ""},
      {ServerUrl("/no_such_manifest.json"), "HTTP 404: "},
      {ServerUrl("/fetch_manifest_html.json?status=500"), "HTTP 500: "},
      {ServerUrl("/fetch_manifest_html.json"), "Unexpected char: <"},
      {L"http://127.0.0.1:" + std::to_wstring(closed) + L"/launcher/manifest.php", "HTTP 0: Request failed"},
  };
  for (const auto& c : cases) {
    Manifest m;
    m.launcher_version = "1.0.0";
    m.game_files.resize(3);
    std::string error;
    const std::string context = NarrowLowBytes(c.url);
    EXPECT_EQ(FetchManifest(m, c.url, "", error) == ManifestFetch::Loaded, c.error.empty()) << context;
    EXPECT_EQ(error, c.error) << context;
    EXPECT_EQ(m.launcher_version, c.error.empty() ? "1.4.0" : "1.0.0") << context;
    ASSERT_EQ(m.game_files.size(), c.error.empty() ? 1u : 3u) << context;
    if (c.error.empty()) {
      EXPECT_EQ(m.game_files[0].size, 3) << context;
    }
  }
}

}  // namespace
