#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "data/text.h"
#include "loopback_socket_win.h"
#include "net/login_port_probe_win.h"
#include "net/server_status.h"
#include "test_util.h"
#include "ui/window_messages.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ServerStatusProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
    ASSERT_TRUE(winsock_.started());
    ASSERT_NE(open_port_.port(), 0);
    ASSERT_NE(window_, nullptr);
    testutil::WriteBytes(testutil::TestServerRoot() / "status_57.json", R"({"online":true,"population":57})");
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
  }

  static StatusTarget Target(const std::string& path, std::uint16_t port, const std::string& host = "127.0.0.1") {
    return StatusTarget{Widen(testutil::TestServerUrl(path)), host, port};
  }

  // Pumps the window's WM_SERVER_STATUS until `count` have arrived in all; true if they did within `limit`.
  bool WaitForMessages(int count, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    for (MSG msg;;) {
      while (PeekMessageW(&msg, window_, WM_SERVER_STATUS, WM_SERVER_STATUS, PM_REMOVE)) ++received_;
      if (received_ >= count) return true;
      if (Clock::now() >= deadline) return false;
      Sleep(10);
    }
  }

  testutil::WinsockScope winsock_;
  testutil::LoopbackSocket open_port_{true};
  // A message-only window on the test thread that collects the probe thread's messages.
  HWND window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  int received_ = 0;
};

// One probe each through the whole machinery: thread, Winsock, HTTP, message.
TEST_F(ServerStatusProbe, DocumentAndLoginPortCombine) {
  testutil::WriteBytes(testutil::TestServerRoot() / "status_no_online.json", R"({"population":3})");
  const std::uint16_t open = open_port_.port();
  const std::uint16_t closed = testutil::ClosedLoopbackPort();
  const struct {
    StatusTarget target;
    bool online;
    int population;
    bool reached;
  } cases[] = {
      {Target("/status_57.json", open), true, 57, true},
      {Target("/status_57.json", closed), true, 57, false},
      {Target("/status_57.json?status=404", open), true, 0, true},
      {Target("/no_status_here.json", closed), false, 0, false},
      {Target("/status_no_online.json", open), false, 3, true},  // the document wins over an open port
      {Target("/no_status_here.json", open, "no-such-host.invalid"), false, 0, false},
  };
  for (const auto& c : cases) {
    const std::string context = NarrowLowBytes(c.target.status_url) + " " + c.target.host;
    ServerStatus status(c.target);
    status.Start(window_);
    EXPECT_TRUE(WaitForMessages(received_ + 1, 15s)) << context;
    const StatusSnapshot s = status.Snapshot();
    status.Stop();
    EXPECT_EQ(s.online, c.online) << context;
    EXPECT_EQ(s.population, c.population) << context;
    EXPECT_EQ(s.latency_ms >= 0, c.reached) << s.latency_ms << " " << context;
  }
}

TEST_F(ServerStatusProbe, StopReturnsAfterTheHangingProbe) {
  ServerStatus status(Target("/status_57.json?delay=3", open_port_.port()));  // the request hangs for 3 s
  status.Start(window_);
  std::this_thread::sleep_for(500ms);
  const auto start = Clock::now();
  status.Stop();
  const auto took = Clock::now() - start;
  // The probe's remaining ~2.5 s, plus at most half a second, plus slack for a busy machine.
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 4500ms);
  EXPECT_TRUE(WaitForMessages(1, 0s));  // the probe finished and reported
  EXPECT_EQ(status.Snapshot().population, 57);
}

// In a fresh process the probe holds the only Winsock reference and must keep it: the last
// WSACleanup drops sockets that other threads are making (WinHTTP's, failing with 10038).
TEST(LoginPortProbe, LeavesWinsockStarted) {
  EXPECT_EXIT(
      {
        MeasureConnectMs("127.0.0.1", 1);  // nothing listens on port 1
        std::exit(WSACleanup() == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
