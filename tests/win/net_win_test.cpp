// HttpClient (WinHTTP) and the status probe through its real machinery (thread, Winsock,
// WinHTTP, posted message) against the test update server (tests/support/test_server.py).
#include <winsock2.h>  // before windows.h; WSACleanup

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/text.h"
#include "net/http_client.h"
#include "net/login_port_probe_win.h"
#include "net/server_status.h"
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
    const DownloadResult result = HttpClient::DownloadFile(url, dest_.wstring(), offset, report);
    error_ = result.error;
    return result.ok;
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
    uint64_t max = 1 << 20;
  } cases[] = {
      {Url(path), 200, body, ""},
      {L"127.0.0.1/launcher/manifest.php", 0, "", "Invalid URL"},  // refused: e2e (the Offline start)
      {Url(Serve("late") + "?delay=3"), 0, "", "Request failed"},  // past the 1 s time-out
      // The first 8 KiB come at once, the rest after 3 s.
      {Url(Serve(dripped) + "?drip=3"), 200, dripped, "Reply interrupted after 8192 of 20000 bytes"},
      {Url(Serve(body) + "?cut=20000"), 200, body, "Reply * of " + std::to_string(body.size()) + " bytes*"},
      // Past the bound by its length, and by count while reading: nothing of it is kept.
      {Url(path), 200, "", "reply larger than 64 KiB", 64 << 10},
      {Url(path + "?chunked=1"), 200, "", "reply larger than 64 KiB", 64 << 10},
  };
  for (const auto& c : cases) {
    const HttpResponse response = HttpClient::Get(c.url, 1000, c.max);
    SCOPED_TRACE(NarrowLowBytes(c.url) + ": " + response.error);
    EXPECT_EQ(std::make_pair(response.status, response.ok),
              std::make_pair(c.status, c.status == 200 && c.error.empty()));
    EXPECT_TRUE(Matches(response.error.c_str(), c.error.c_str()));
    EXPECT_EQ(response.body, c.body.substr(0, c.error.empty() ? c.body.size() : response.body.size()));
  }
  EXPECT_EQ(RangesAsked(path), (std::vector<std::string>{"-", "-"}));
}

// With or without a length (a total of -1); an empty 200 empties the file.
TEST_F(HttpClientTest, DownloadWritesFileAndReportsProgress) {
  const std::string content = PatternBytes(300000, 7);
  const std::string path = Serve(content);
  for (const auto& [query, total] :
       {std::make_pair("", 300000), std::make_pair("?no_length=1", -1), std::make_pair("?chunked=1", -1)}) {
    Progress progress;
    ASSERT_TRUE(Download(Url(path + query), 0, &progress)) << query << ": " << error_;
    EXPECT_EQ(ReadBytes(dest_), content) << query;
    EXPECT_EQ(progress.back(), std::make_pair(int64_t{300000}, int64_t{total})) << query;
  }
  Progress progress;
  ASSERT_TRUE(Download(Url(Serve("")), 0, &progress)) << error_;
  EXPECT_TRUE(ReadBytes(dest_).empty() && progress.empty());
}

// Resuming at 1000: a 206 is appended, a whole-file 200 (range ignored) must replace the partial
// file rather than be appended to it; a 206 for another range, an error status or no server
// leave the partial file as it was.
TEST_F(HttpClientTest, ResumeTakesOnlyRepliesThatFitTheFile) {
  const std::string content = PatternBytes(1500, 3);
  const std::string path = Serve(content);
  for (const auto& [url, error] :
       {std::make_pair(Url(path), ""), std::make_pair(Url(path + "?ignore_range=1"), ""),
        std::make_pair(Url(path + "?wrong_range=1"), "Server sent bytes from 0 instead of 1000"),
        std::make_pair(Url("/no_such_file.bin"), "HTTP 404"), std::make_pair(std::wstring(L"not a url"), "Invalid URL"),
        std::make_pair(std::wstring(kRefusedUrl), "Request send failed")}) {
    const bool ok = *error == '\0';
    WriteBytes(dest_, content.substr(0, 1000));
    Progress progress{{0, 0}};
    SCOPED_TRACE(NarrowLowBytes(url));
    EXPECT_EQ(Download(url, 1000, &progress), ok);
    EXPECT_EQ(error_, error);
    EXPECT_EQ(ReadBytes(dest_), ok ? content : content.substr(0, 1000));
    EXPECT_EQ(progress.back(), ok ? std::make_pair(int64_t{1500}, int64_t{1500}) : progress.front());
  }
  for (const char* query : {"", "?ignore_range=1", "?wrong_range=1"}) {
    EXPECT_EQ(RangesAsked(path + query), std::vector<std::string>{"bytes=1000-"}) << query;
  }
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

using namespace std::chrono_literals;
constexpr UINT WM_SERVER_STATUS = WM_APP + 1;

class ServerStatusProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
    testutil::WriteBytes(testutil::TestServerRoot() / "status_57.json", R"({"online":true,"population":57})");
  }
  void TearDown() override { DestroyWindow(window_); }

  // The probe's report, once its message has come.
  StatusSnapshot Probe(const std::string& path, std::uint16_t login_port, const std::string& host = "127.0.0.1") {
    ServerStatus status({Widen(testutil::TestServerUrl(path)), host, login_port});
    status.Start([w = window_] { PostMessageW(w, WM_SERVER_STATUS, 0, 0); });
    EXPECT_TRUE(Received(30s)) << path;
    const StatusSnapshot s = status.Snapshot();
    status.Stop();
    return s;
  }
  bool Received(std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (MSG msg; !PeekMessageW(&msg, window_, WM_SERVER_STATUS, WM_SERVER_STATUS, PM_REMOVE); Sleep(10)) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    return true;
  }

  // A message-only window on the test thread that collects the probe thread's messages.
  HWND window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  // The test server's own port stands in for an open login port; nothing listens on port 1.
  const std::uint16_t open_ = static_cast<std::uint16_t>(std::stoi(testutil::TestServerPort()));
};

// The glue only: the document over WinHTTP, the port over Winsock, a name that does not
// resolve. (How the two combine: tests/host.)
TEST_F(ServerStatusProbe, DocumentPortAndUnknownHost) {
  // path, host, login port; then online, population, port reached
  for (const auto& [path, host, port, online, population, reached] :
       {std::make_tuple("/status_57.json", "127.0.0.1", std::uint16_t{1}, true, 57, false),
        std::make_tuple("/status_57.json?status=404", "127.0.0.1", open_, true, 0, true),
        std::make_tuple("/no_status_here.json", "no-such-host.invalid", open_, false, 0, false)}) {
    const StatusSnapshot s = Probe(path, port, host);
    EXPECT_EQ(std::make_tuple(s.online, s.population, s.latency_ms >= 0), std::make_tuple(online, population, reached))
        << path << " " << host;
  }
}

// Stop joins a probe whose request still hangs: the thread never outlives its owner.
TEST_F(ServerStatusProbe, StopWaitsForTheHangingProbe) {
  ServerStatus status({Widen(testutil::TestServerUrl("/status_57.json?delay=3")), "127.0.0.1", open_});
  status.Start([w = window_] { PostMessageW(w, WM_SERVER_STATUS, 0, 0); });
  std::this_thread::sleep_for(500ms);
  status.Stop();
  EXPECT_TRUE(Received(0s));  // the probe finished and reported before Stop returned
  EXPECT_EQ(status.Snapshot().population, 57);
}

// In a fresh process the probe holds the only Winsock reference and must keep it: the last
// WSACleanup drops sockets that other threads are making (WinHTTP's, failing with 10038).
TEST(LoginPortProbe, LeavesWinsockStarted) {
  EXPECT_EXIT(
      {
        MeasureConnectMs("127.0.0.1", 1);
        std::exit(WSACleanup() == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
