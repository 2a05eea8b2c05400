// HttpClient (WinHTTP) against the test update server (tests/support/test_server.py).
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <utility>
#include <vector>

#include "base/text.h"
#include "test_util.h"

namespace {

using testutil::PatternBytes;
using testutil::ReadBytes;
using testutil::WriteBytes;
using Progress = std::vector<std::pair<int64_t, int64_t>>;

const wchar_t kRefusedUrl[] = L"http://127.0.0.1:1/nothing";  // nothing listens there

// '*' stands for any run of characters, for failure texts whose middle varies.
bool Matches(const char* text, const char* pattern) {
  if (*pattern == '*') return Matches(text, pattern + 1) || (*text && Matches(text + 1, pattern));
  return *pattern ? *text == *pattern && Matches(text + 1, pattern + 1) : !*text;
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "no test server";
  }

  // A file on the server under a name no other test uses; returns its path ("/...").
  static std::string Serve(const std::string& bytes) {
    static std::atomic<int> counter{0};
    const std::string name = "http_client_" + std::to_string(counter++) + ".bin";
    WriteBytes(testutil::TestServerRoot() / name, bytes);
    return "/" + name;
  }
  static std::wstring Url(const std::string& path) { return Widen(testutil::TestServerUrl(path)); }

  // The Range header of each logged request for exactly `path`.
  static std::vector<std::string> RangesAsked(const std::string& path) {
    std::istringstream log(ReadBytes(testutil::TestServerRoot() / "_requests.log"));
    std::vector<std::string> ranges;
    for (std::string line; std::getline(log, line);) {
      if (line.rfind("GET " + path + " ", 0) != 0) continue;
      EXPECT_EQ(line.substr(line.rfind(' ')), " OstrelLauncher/1.0");
      ranges.push_back(line.substr(path.size() + 5, line.rfind(' ') - path.size() - 5));
    }
    return ranges;
  }

  bool Download(const std::wstring& url, int64_t offset, Progress* progress = nullptr) {
    DownloadProgress report;
    if (progress) report = [progress](int64_t done, int64_t total) { progress->emplace_back(done, total); };
    return HttpClient::DownloadFile(url, dest_.wstring(), offset, report, error_);
  }

  testutil::TempDir dir_;
  std::filesystem::path dest_ = dir_ / "dest.bin";
  std::string error_;
};

// Get keeps the body byte for byte whatever the status; `ok` only for a whole 200.
TEST_F(HttpClientTest, GetRepliesAndFailures) {
  const std::string body = std::string("line\0two\r\n", 10) + PatternBytes(70000);
  const std::string path = Serve(body), dripped = PatternBytes(20000);
  const struct {
    std::wstring url;
    uint32_t status;
    std::string body, error;  // a failed reply holds a start of `body`
  } cases[] = {
      {Url(path), 200, body, ""},
      {Url("/no_such_file.json"), 404, "not found\n", ""},
      {L"127.0.0.1/launcher/manifest.php", 0, "", "Invalid URL"},
      {kRefusedUrl, 0, "", "Request failed"},
      {Url(Serve("late") + "?delay=3"), 0, "", "Request failed"},  // past the 1 s time-out
      // The first 8 KiB come at once, the rest after 3 s.
      {Url(Serve(dripped) + "?drip=3"), 200, dripped, "Reply interrupted after 8192 of 20000 bytes"},
      {Url(Serve(body) + "?cut=20000"), 200, body, "Reply * of " + std::to_string(body.size()) + " bytes*"},
  };
  for (const auto& c : cases) {
    const HttpResponse response = HttpClient::Get(c.url, 1000);
    const std::string context = NarrowLowBytes(c.url);
    EXPECT_EQ(response.status, c.status) << context;
    EXPECT_EQ(response.ok, c.status == 200 && c.error.empty()) << context;
    EXPECT_TRUE(Matches(response.error.c_str(), c.error.c_str())) << context << ": " << response.error;
    EXPECT_EQ(response.body, c.body.substr(0, c.error.empty() ? c.body.size() : response.body.size())) << context;
  }
  EXPECT_EQ(RangesAsked(path), std::vector<std::string>{"-"});
}

// With or without a length, in 64 KiB steps at most; an empty 200 empties the file.
TEST_F(HttpClientTest, DownloadWritesFileAndReportsProgress) {
  const std::string content = PatternBytes(300000, 7);
  const std::string path = Serve(content);
  for (const auto& [query, total] :
       {std::make_pair("", 300000), std::make_pair("?no_length=1", -1), std::make_pair("?chunked=1", -1)}) {
    Progress progress;
    ASSERT_TRUE(Download(Url(path + query), 0, &progress)) << query << ": " << error_;
    EXPECT_EQ(ReadBytes(dest_), content) << query;
    int64_t previous = 0;
    for (const auto& [done, reported_total] : progress) {
      EXPECT_TRUE(done > previous && done - previous <= 65536 && reported_total == total) << query << " " << done;
      previous = done;
    }
    EXPECT_EQ(previous, 300000) << query;
  }
  Progress progress;
  ASSERT_TRUE(Download(Url(Serve("")), 0, &progress)) << error_;
  EXPECT_TRUE(ReadBytes(dest_).empty() && progress.empty());
}

// Resuming at 1000: a 206 is appended, a whole-file 200 (range ignored) must replace
// the partial file rather than be appended to it, a 206 for another range is refused.
TEST_F(HttpClientTest, ResumeTakesOnlyRepliesThatFitTheFile) {
  const std::string content = PatternBytes(1500, 3);
  const std::string path = Serve(content);
  for (const auto& [query, error] : {std::make_pair("", ""), std::make_pair("?ignore_range=1", ""),
                                     std::make_pair("?wrong_range=1", "Server sent bytes from 0 instead of 1000")}) {
    const bool ok = *error == '\0';
    WriteBytes(dest_, content.substr(0, 1000));
    Progress progress{{0, 0}};
    EXPECT_EQ(Download(Url(path + query), 1000, &progress), ok) << query;
    EXPECT_EQ(error_, error) << query;
    EXPECT_EQ(ReadBytes(dest_), ok ? content : content.substr(0, 1000)) << query;
    EXPECT_EQ(RangesAsked(path + query), std::vector<std::string>{"bytes=1000-"}) << query;
    EXPECT_EQ(progress.back(), ok ? std::make_pair(int64_t{1500}, int64_t{1500}) : progress.front()) << query;
  }
}

TEST_F(HttpClientTest, RefusalsLeaveTargetUntouched) {
  for (const auto& [url, error] :
       {std::make_pair(Url("/no_such_file.bin"), "HTTP 404"), std::make_pair(std::wstring(L"not a url"), "Invalid URL"),
        std::make_pair(std::wstring(kRefusedUrl), "Request send failed")}) {
    WriteBytes(dest_, "kept");
    EXPECT_FALSE(Download(url, 2)) << error;
    EXPECT_EQ(error_, error);
    EXPECT_EQ(ReadBytes(dest_), "kept") << error;
  }
  dest_ = dir_ / "missing_folder" / "file.bin";
  EXPECT_FALSE(Download(Url(Serve("abc")), 0));
  EXPECT_EQ(error_, "Cannot open dest file");
}

// A body that ends early, by a close before the announced length or a failed read, is
// a failed download; the bytes that did arrive stay, and a resume completes the file.
TEST_F(HttpClientTest, BrokenBodiesFailAndKeepBytesForResume) {
  const std::string content = PatternBytes(200000, 11);
  const std::string path = Serve(content);
  struct Case {
    const char *query, *error;
    int64_t offset;
  };
  // Dripped, so every byte sent before a reset has been taken in when it comes.
  for (const Case& c : {Case{"?cut=70000", "Download incomplete: 70000 of 200000 bytes arrived", 0},
                        Case{"?reset=100000&drip=0.02", "Download interrupted after 100000 of 200000 bytes", 0},
                        // Without a length only the failed read tells it from a finished transfer.
                        Case{"?chunked=1&reset=50000&drip=0.02", "Download interrupted after * bytes", 100000}}) {
    EXPECT_FALSE(Download(Url(path + c.query), c.offset)) << c.query;
    EXPECT_TRUE(Matches(error_.c_str(), c.error)) << c.query << ": " << error_;
    const std::string kept = ReadBytes(dest_);  // more than before, and counted in the text
    EXPECT_TRUE(kept.size() > static_cast<size_t>(c.offset) && kept == content.substr(0, kept.size())) << c.query;
    EXPECT_NE(error_.find(" " + std::to_string(kept.size()) + " "), std::string::npos) << c.query;
  }
  ASSERT_TRUE(Download(Url(path), static_cast<int64_t>(ReadBytes(dest_).size()))) << error_;
  EXPECT_EQ(ReadBytes(dest_), content);
}

}  // namespace
