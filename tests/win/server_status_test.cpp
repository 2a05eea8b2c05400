// The status probe through its real machinery: thread, Winsock, WinHTTP, posted message.
#include <winsock2.h>  // before windows.h; WSACleanup

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>

#include "base/text.h"
#include "net/login_port_probe_win.h"
#include "net/server_status.h"
#include "test_util.h"

namespace {

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
  const struct {
    const char *path, *host;
    std::uint16_t port;
    bool online;
    int population;
    bool reached;
  } cases[] = {
      {"/status_57.json", "127.0.0.1", 1, true, 57, false},
      {"/status_57.json?status=404", "127.0.0.1", open_, true, 0, true},
      {"/no_status_here.json", "no-such-host.invalid", open_, false, 0, false},
  };
  for (const auto& c : cases) {
    const StatusSnapshot s = Probe(c.path, c.port, c.host);
    EXPECT_EQ(std::make_tuple(s.online, s.population, s.latency_ms >= 0),
              std::make_tuple(c.online, c.population, c.reached))
        << c.path << " " << c.host;
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
