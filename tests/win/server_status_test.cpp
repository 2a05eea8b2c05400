#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "data/text.h"
#include "loopback_socket_win.h"
#include "net/server_status.h"
#include "test_util.h"
#include "ui/window_messages.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A message-only window on the test thread that collects WM_SERVER_STATUS.
class StatusMessages {
 public:
  StatusMessages()
      : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
  ~StatusMessages() {
    if (window_) DestroyWindow(window_);
  }
  StatusMessages(const StatusMessages&) = delete;
  StatusMessages& operator=(const StatusMessages&) = delete;

  HWND window() const { return window_; }

  // Waits until `count` messages have arrived in all; true if they did within `limit`.
  bool WaitFor(int count, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, window_, WM_SERVER_STATUS, WM_SERVER_STATUS, PM_REMOVE)) {
        EXPECT_EQ(msg.wParam, 0u);
        EXPECT_EQ(msg.lParam, 0);
        ++received_;
      }
      if (received_ >= count) return true;
      if (Clock::now() >= deadline) return false;
      Sleep(10);
    }
  }
  int received() const { return received_; }

 private:
  HWND window_;
  int received_ = 0;
};

class ServerStatusProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testutil::TestServerPort().empty()) GTEST_SKIP() << "needs the test update server";
    ASSERT_TRUE(winsock_.started());
    ASSERT_NE(open_port_.port(), 0);
    ASSERT_NE(messages_.window(), nullptr);
    testutil::WriteBytes(testutil::TestServerRoot() / "status_57.json", R"({"online":true,"population":57})");
    testutil::WriteBytes(testutil::TestServerRoot() / "status_no_online.json", R"({"population":3})");
  }

  static StatusTarget Target(const std::string& path, std::uint16_t port) {
    StatusTarget target;
    target.status_url = Widen(testutil::TestServerUrl(path));
    target.host = "127.0.0.1";
    target.port = port;
    return target;
  }

  // One probe through the whole machinery: thread, Winsock, HTTP, message.
  StatusSnapshot ProbeOnce(const std::string& path, std::uint16_t port) {
    ServerStatus status(Target(path, port));
    status.Start(messages_.window());
    EXPECT_TRUE(messages_.WaitFor(1, 15s));
    const StatusSnapshot snapshot = status.Snapshot();
    status.Stop();
    return snapshot;
  }

  testutil::WinsockScope winsock_;
  testutil::LoopbackSocket open_port_{true};
  StatusMessages messages_;
};

TEST_F(ServerStatusProbe, DocumentOnlineAndPortOpen) {
  const StatusSnapshot s = ProbeOnce("/status_57.json", open_port_.port());
  EXPECT_TRUE(s.online);
  EXPECT_EQ(s.population, 57);
  EXPECT_GE(s.latency_ms, 0);
  EXPECT_LT(s.latency_ms, 3000);
}

TEST_F(ServerStatusProbe, DocumentOnlineAndPortClosed) {
  const StatusSnapshot s = ProbeOnce("/status_57.json", testutil::ClosedLoopbackPort());
  EXPECT_TRUE(s.online);
  EXPECT_EQ(s.population, 57);
  EXPECT_EQ(s.latency_ms, -1);
}

TEST_F(ServerStatusProbe, DocumentMissingAndPortOpen) {
  const StatusSnapshot s = ProbeOnce("/status_57.json?status=404", open_port_.port());
  EXPECT_TRUE(s.online);
  EXPECT_EQ(s.population, 0);
  EXPECT_GE(s.latency_ms, 0);
}

TEST_F(ServerStatusProbe, DocumentMissingAndPortClosed) {
  const StatusSnapshot s = ProbeOnce("/no_status_here.json", testutil::ClosedLoopbackPort());
  EXPECT_FALSE(s.online);
  EXPECT_EQ(s.population, 0);
  EXPECT_EQ(s.latency_ms, -1);
}

TEST_F(ServerStatusProbe, DocumentWithoutOnlineWinsOverAnOpenPort) {
  const StatusSnapshot s = ProbeOnce("/status_no_online.json", open_port_.port());
  EXPECT_FALSE(s.online);
  EXPECT_EQ(s.population, 3);
  EXPECT_GE(s.latency_ms, 0);
}

TEST_F(ServerStatusProbe, UnresolvableHostCountsAsClosed) {
  StatusTarget target = Target("/no_status_here.json", open_port_.port());
  target.host = "no-such-host.invalid";
  ServerStatus status(target);
  status.Start(messages_.window());
  ASSERT_TRUE(messages_.WaitFor(1, 15s));
  EXPECT_EQ(status.Snapshot().latency_ms, -1);
  EXPECT_FALSE(status.Snapshot().online);
  status.Stop();
}

TEST_F(ServerStatusProbe, RefreshProbesAgainAtOnce) {
  const auto document = testutil::TestServerRoot() / "status_refresh.json";
  testutil::WriteBytes(document, R"({"online":true,"population":1})");
  ServerStatus status(Target("/status_refresh.json", open_port_.port()));
  EXPECT_EQ(status.Snapshot().latency_ms, -1);  // nothing probed yet
  status.Start(messages_.window());
  ASSERT_TRUE(messages_.WaitFor(1, 15s));
  EXPECT_EQ(status.Snapshot().population, 1);

  testutil::WriteBytes(document, R"({"online":true,"population":2})");
  status.RequestRefresh();
  // The refresh probe and the first probe of the new cycle, long before 30 s.
  EXPECT_TRUE(messages_.WaitFor(3, 10s));
  EXPECT_EQ(status.Snapshot().population, 2);
  status.Stop();
  EXPECT_FALSE(messages_.WaitFor(4, 0s));  // and no third probe
}

TEST_F(ServerStatusProbe, StopReturnsAfterTheHangingProbe) {
  // The status request hangs for 3 s inside the probe.
  ServerStatus status(Target("/status_57.json?delay=3", open_port_.port()));
  status.Start(messages_.window());
  std::this_thread::sleep_for(500ms);
  const auto start = Clock::now();
  status.Stop();
  const auto took = Clock::now() - start;
  // The probe's remaining ~2.5 s, plus at most half a second, plus slack for a busy machine.
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 2500ms + 500ms + 1500ms);
  EXPECT_TRUE(messages_.WaitFor(1, 0s));  // the probe finished and reported
  EXPECT_EQ(status.Snapshot().population, 57);
}

}  // namespace
