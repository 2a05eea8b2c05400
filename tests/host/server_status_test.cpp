#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "net/http_client.h"
#include "net/status_cycle.h"
#include "net/status_probe.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A readable status document decides; without one the login port does (latency -1: closed).
TEST(StatusDecision, ReadableDocumentDecidesElseThePort) {
  const std::tuple<int, std::uint32_t, std::string, bool, int> cases[] = {
      {-1, 200, R"({"online":true,"population":57.9})", true, 57},
      {12, 200, R"({"online":false,"population":3})", false, 3},
      {12, 200, R"({"population":8})", false, 8},  // no boolean "online": offline whatever the port said
      {12, 200, R"({"online":1})", false, 0},
      {5, 200, R"({"online":true,"population":1e12})", true, 2147483647},
      {0, 0, "", true, 0},
      {0, 404, R"({"online":true})", true, 0},
      {0, 200, "<html>", true, 0},
      {-1, 200, "<html>", false, 0},
      {-1, 404, R"({"online":true})", false, 0},
  };
  for (const auto& [latency, status, body, online, population] : cases) {
    HttpResponse reply;
    reply.status = status;
    reply.ok = status == 200;
    reply.body = body;
    const StatusSnapshot s = DecideStatus(latency, reply);
    EXPECT_EQ(std::make_tuple(s.online, s.population, s.latency_ms), std::make_tuple(online, population, latency))
        << latency << " " << status << " " << body;
  }
}

// A probe the test controls: counts its calls; throws from call `fail_from` on when that is set.
struct FakeProbe {
  int fail_from = 0, started = 0;
  std::mutex mutex;
  std::condition_variable changed;
  StatusSnapshot operator()() {
    std::lock_guard<std::mutex> lock(mutex);
    changed.notify_all();
    if (++started >= fail_from && fail_from > 0) throw std::runtime_error("probe failed");
    return StatusSnapshot{true, started, 1};
  }
  int Started(int at_least = 0) {  // waits up to ten seconds for `at_least` calls
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, 10s, [&] { return started >= at_least; });
    return started;
  }
};

// One probe per 60 ticks; a second Start is ignored.
TEST(StatusCycle, ProbesOncePerCycle) {
  FakeProbe probe, ignored;
  StatusCycle cycle(10ms);                     // a cycle of 600 ms
  EXPECT_EQ(cycle.Snapshot().latency_ms, -1);  // nothing probed yet
  const auto start = Clock::now();
  cycle.Start([&] { return probe(); }, nullptr);
  cycle.Start([&] { return ignored(); }, nullptr);
  ASSERT_GE(probe.Started(2), 2);
  EXPECT_GE(Clock::now() - start, 600ms);
  cycle.Stop();
  EXPECT_EQ(ignored.Started(), 0);
}

// A refresh probes at once and starts a new cycle (one more probe, not a stream); a result is
// published once stored; Stop never waits out a tick.
TEST(StatusCycle, RefreshesAtOncePublishesStoredResultsAndStopsPromptly) {
  FakeProbe probe;
  StatusCycle cycle(10000ms);  // the next regular probe is ten minutes away
  std::atomic<int> seen_population{0};
  cycle.Start([&] { return probe(); }, [&] { seen_population = cycle.Snapshot().population; });
  ASSERT_GE(probe.Started(1), 1);
  const auto asked = Clock::now();
  cycle.RequestRefresh();
  ASSERT_GE(probe.Started(3), 3);
  cycle.Stop();
  EXPECT_LT(Clock::now() - asked, 5s);
  EXPECT_EQ(probe.Started(), 3);
  EXPECT_EQ(seen_population.load(), 3);
}

// A throwing probe must not take the process down; the last good result stays.
TEST(StatusCycle, AnExceptionEndsTheThreadAndKeepsTheLastSnapshot) {
  FakeProbe probe{2};
  StatusCycle cycle(1ms);
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_GE(probe.Started(2), 2);
  cycle.Stop();
  EXPECT_EQ(probe.Started(), 2);
  EXPECT_EQ(cycle.Snapshot().population, 1);
}

}  // namespace
