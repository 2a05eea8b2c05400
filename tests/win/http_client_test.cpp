// HttpClient against the local test server (tests/support/test_server.py).
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <utility>
#include <vector>

#include "data/text.h"
#include "test_util.h"

namespace {

using testutil::PatternBytes;
using testutil::ReadBytes;
using testutil::TestServerRoot;
using testutil::WriteBytes;

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "no test server";
  }

  // A file on the server under a name no other test uses; returns its path ("/...").
  std::string Serve(const std::string& bytes) {
    static std::atomic<int> counter{0};
    const std::string name = "http_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                             "_" + std::to_string(counter++) + ".bin";
    WriteBytes(TestServerRoot() / name, bytes);
    return "/" + name;
  }

  static std::wstring Url(const std::string& path) { return Widen(testutil::TestServerUrl(path)); }

  // The request-log lines ("METHOD PATH RANGE USER-AGENT") whose path begins with `path`.
  static std::vector<std::string> LoggedRequests(const std::string& path) {
    std::istringstream log(ReadBytes(TestServerRoot() / "_requests.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
      if (line.rfind("GET " + path, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  testutil::TempDir dir_;
};

struct ProgressLog {
  std::vector<std::pair<int64_t, int64_t>> calls;
  DownloadProgress Callback() {
    return [this](int64_t done, int64_t total) { calls.emplace_back(done, total); };
  }
};

// An address on which nothing listens (port 1 on loopback): the connection is refused.
std::wstring RefusedUrl() { return L"http://127.0.0.1:1/nothing"; }

TEST_F(HttpClientTest, GetKeepsBodyBytesAndSendsUserAgent) {
  const std::string body = std::string("line one\r\nline\0two\n", 19) + std::string(3, '\0') + PatternBytes(70000);
  const std::string path = Serve(body);

  const HttpResponse response = HttpClient::Get(Url(path), 10000);

  EXPECT_EQ(response.status, 200u);
  EXPECT_TRUE(response.ok);
  EXPECT_EQ(response.error, "");
  EXPECT_EQ(response.body, body);
  const auto requests = LoggedRequests(path);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET " + path + " - OstrelLauncher/1.0");
}

TEST_F(HttpClientTest, GetReturnsErrorStatusWithBodyAndNoErrorText) {
  const HttpResponse missing = HttpClient::Get(Url("/no_such_file.json"), 10000);
  EXPECT_EQ(missing.status, 404u);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, "");
  EXPECT_EQ(missing.body, "not found\n");

  const HttpResponse failing = HttpClient::Get(Url(Serve("x") + "?status=503"), 10000);
  EXPECT_EQ(failing.status, 503u);
  EXPECT_FALSE(failing.ok);
  EXPECT_EQ(failing.error, "");
  EXPECT_EQ(failing.body, "status 503\n");
}

TEST_F(HttpClientTest, GetFailures) {
  for (const wchar_t* bad : {L"127.0.0.1/launcher/manifest.php", L"http:///path", L"ftp://127.0.0.1/x", L""}) {
    const HttpResponse response = HttpClient::Get(bad, 1000);
    EXPECT_EQ(response.error, "Invalid URL") << NarrowLowBytes(bad);
    EXPECT_EQ(response.status, 0u);
    EXPECT_FALSE(response.ok);
  }

  const HttpResponse refused = HttpClient::Get(RefusedUrl(), 5000);
  EXPECT_EQ(refused.error, "Request failed");
  EXPECT_EQ(refused.status, 0u);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.body, "");

  // The server answers after 3 s; the receive time-out is 0.5 s.
  const HttpResponse slow = HttpClient::Get(Url(Serve("late") + "?delay=3"), 500);
  EXPECT_EQ(slow.error, "Request failed");
  EXPECT_EQ(slow.status, 0u);
}

TEST_F(HttpClientTest, GetTimeOutWithinTheBodyIsNotOk) {
  // The first 8 KiB come at once, the next after 3 s, past the 0.5 s time-out.
  const HttpResponse stalled = HttpClient::Get(Url(Serve(PatternBytes(20000)) + "?drip=3"), 500);
  EXPECT_EQ(stalled.status, 200u);
  EXPECT_FALSE(stalled.ok);
  EXPECT_EQ(stalled.error, "Reply interrupted after 8192 of 20000 bytes");
  EXPECT_EQ(stalled.body.size(), 8192u);
}

TEST_F(HttpClientTest, GetReportsACutOffBody) {
  const std::string path = Serve(PatternBytes(50000));
  const HttpResponse response = HttpClient::Get(Url(path + "?cut=20000"), 10000);
  EXPECT_EQ(response.status, 200u);
  EXPECT_FALSE(response.ok);
  EXPECT_LE(response.body.size(), 20000u);
  EXPECT_EQ(response.error.rfind("Reply ", 0), 0u) << response.error;
  EXPECT_NE(response.error.find("of 50000 bytes"), std::string::npos) << response.error;
}

TEST_F(HttpClientTest, DownloadWritesFileAndReportsProgress) {
  const std::string content = PatternBytes(300000, 7);
  const std::string path = Serve(content);
  const auto dest = dir_ / "fresh.bin";
  ProgressLog progress;
  std::string error = "stale";

  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), 0, progress.Callback(), error)) << error;

  EXPECT_EQ(error, "");
  EXPECT_EQ(ReadBytes(dest), content);
  ASSERT_GE(progress.calls.size(), 300000u / 65536u);
  int64_t previous = 0;
  for (const auto& [done, total] : progress.calls) {
    EXPECT_GT(done, previous);
    EXPECT_LE(done - previous, 65536);
    EXPECT_EQ(total, 300000);
    previous = done;
  }
  EXPECT_EQ(progress.calls.back().first, 300000);
  const auto requests = LoggedRequests(path);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET " + path + " - OstrelLauncher/1.0");
}

TEST_F(HttpClientTest, DownloadFromZeroReplacesExistingFile) {
  const std::string path = Serve("short");
  const auto dest = dir_ / "old.bin";
  WriteBytes(dest, PatternBytes(5000));
  std::string error;
  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), 0, nullptr, error)) << error;
  EXPECT_EQ(ReadBytes(dest), "short");
}

TEST_F(HttpClientTest, DownloadResumesWithRangeRequest) {
  const std::string content = PatternBytes(1500, 3);
  const std::string path = Serve(content);
  const auto dest = dir_ / "partial.bin";
  WriteBytes(dest, content.substr(0, 1000));
  ProgressLog progress;
  std::string error;

  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), 1000, progress.Callback(), error)) << error;

  EXPECT_EQ(ReadBytes(dest), content);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_GT(progress.calls.front().first, 1000);
  EXPECT_EQ(progress.calls.back(), std::make_pair(int64_t{1500}, int64_t{1500}));
  const auto requests = LoggedRequests(path);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET " + path + " bytes=1000- OstrelLauncher/1.0");
}

TEST_F(HttpClientTest, DownloadWithoutLengthReportsUnknownTotal) {
  const std::string content = PatternBytes(100000, 5);
  const std::string path = Serve(content);
  const auto dest = dir_ / "nolength.bin";
  for (const char* query : {"?no_length=1", "?chunked=1"}) {
    ProgressLog progress;
    std::string error;
    ASSERT_TRUE(HttpClient::DownloadFile(Url(path + query), dest.wstring(), 0, progress.Callback(), error))
        << query << ": " << error;
    EXPECT_EQ(ReadBytes(dest), content) << query;
    ASSERT_FALSE(progress.calls.empty());
    for (const auto& call : progress.calls) EXPECT_EQ(call.second, -1) << query;
    EXPECT_EQ(progress.calls.back().first, 100000) << query;
  }
}

TEST_F(HttpClientTest, EmptyBodyLeavesEmptyFileWithoutProgress) {
  const std::string path = Serve("");
  const auto dest = dir_ / "empty.bin";
  WriteBytes(dest, "previous content");
  ProgressLog progress;
  std::string error;

  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), 0, progress.Callback(), error)) << error;

  EXPECT_TRUE(std::filesystem::exists(dest));
  EXPECT_EQ(ReadBytes(dest), "");
  EXPECT_TRUE(progress.calls.empty());
}

TEST_F(HttpClientTest, DownloadRefusalsLeaveTargetUntouched) {
  const auto dest = dir_ / "kept.bin";
  WriteBytes(dest, "kept");
  std::string error;

  EXPECT_FALSE(HttpClient::DownloadFile(Url("/no_such_file.bin"), dest.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "HTTP 404");
  EXPECT_FALSE(HttpClient::DownloadFile(Url(Serve("abc") + "?status=500"), dest.wstring(), 2, nullptr, error));
  EXPECT_EQ(error, "HTTP 500");
  EXPECT_FALSE(HttpClient::DownloadFile(L"not a url", dest.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "Invalid URL");
  EXPECT_FALSE(HttpClient::DownloadFile(RefusedUrl(), dest.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "Request send failed");
  EXPECT_EQ(ReadBytes(dest), "kept");

  const auto no_folder = dir_ / "missing_folder" / "file.bin";
  EXPECT_FALSE(HttpClient::DownloadFile(Url(Serve("abc")), no_folder.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "Cannot open dest file");
}

// A connection that closes before the announced length has arrived is a failed
// download; the bytes that did arrive stay, and a resume completes the file.
TEST_F(HttpClientTest, EarlyCloseFailsAndKeepsBytesForResume) {
  const std::string content = PatternBytes(200000, 11);
  const std::string path = Serve(content);
  const auto dest = dir_ / "cut.bin";
  std::string error;

  EXPECT_FALSE(HttpClient::DownloadFile(Url(path + "?cut=70000"), dest.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "Download incomplete: 70000 of 200000 bytes arrived");
  const std::string partial = ReadBytes(dest);
  EXPECT_EQ(partial, content.substr(0, 70000));

  ProgressLog progress;
  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), static_cast<int64_t>(partial.size()),
                                       progress.Callback(), error))
      << error;
  EXPECT_EQ(ReadBytes(dest), content);
  EXPECT_EQ(progress.calls.back(), std::make_pair(int64_t{200000}, int64_t{200000}));
}

// A read that fails part-way (here a connection reset) is a failed download too.
TEST_F(HttpClientTest, ReadFailureFailsAndKeepsBytesForResume) {
  const std::string content = PatternBytes(200000, 13);
  const std::string path = Serve(content);
  const auto dest = dir_ / "reset.bin";
  std::string error;

  // Dripped, so every byte sent before the reset has been taken in when it comes.
  EXPECT_FALSE(HttpClient::DownloadFile(Url(path + "?reset=100000&drip=0.02"), dest.wstring(), 0, nullptr, error));
  EXPECT_EQ(error, "Download interrupted after 100000 of 200000 bytes");
  EXPECT_EQ(ReadBytes(dest), content.substr(0, 100000));

  // Without a length only the failed read tells a broken transfer from a finished one.
  EXPECT_FALSE(
      HttpClient::DownloadFile(Url(path + "?chunked=1&reset=50000&drip=0.02"), dest.wstring(), 100000, nullptr, error));
  EXPECT_EQ(error.rfind("Download interrupted after ", 0), 0u) << error;
  const std::string partial = ReadBytes(dest);
  EXPECT_EQ(partial, content.substr(0, partial.size()));
  EXPECT_GT(partial.size(), 100000u);

  ASSERT_TRUE(HttpClient::DownloadFile(Url(path), dest.wstring(), static_cast<int64_t>(partial.size()), nullptr, error))
      << error;
  EXPECT_EQ(ReadBytes(dest), content);
}

// A server that ignores the range sends the whole file: it must replace the partial
// file, not be appended to it, and progress counts from 0.
TEST_F(HttpClientTest, WholeFileReplyToRangeRequestRewritesFile) {
  const std::string content = PatternBytes(1500, 17);
  const std::string path = Serve(content);
  const auto dest = dir_ / "ignored_range.bin";
  WriteBytes(dest, std::string(1000, 'x'));
  ProgressLog progress;
  std::string error;

  ASSERT_TRUE(HttpClient::DownloadFile(Url(path + "?ignore_range=1"), dest.wstring(), 1000, progress.Callback(), error))
      << error;

  EXPECT_EQ(ReadBytes(dest), content);
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.back(), std::make_pair(int64_t{1500}, int64_t{1500}));
  const auto requests = LoggedRequests(path);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "GET " + path + "?ignore_range=1 bytes=1000- OstrelLauncher/1.0");
}

TEST_F(HttpClientTest, PartialReplyForAnotherRangeIsRefused) {
  const std::string content = PatternBytes(1500, 19);
  const std::string path = Serve(content);
  const auto dest = dir_ / "wrong_range.bin";
  WriteBytes(dest, content.substr(0, 1000));
  std::string error;

  EXPECT_FALSE(HttpClient::DownloadFile(Url(path + "?wrong_range=1"), dest.wstring(), 1000, nullptr, error));
  EXPECT_EQ(error, "Server sent bytes from 0 instead of 1000");
  EXPECT_EQ(ReadBytes(dest), content.substr(0, 1000));
}

}  // namespace
