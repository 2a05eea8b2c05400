#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "net/http_client.h"
#include "net/status_cycle.h"
#include "net/status_probe.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What DecideStatus makes of a login-port latency and a status reply, as (online, population, latency).
std::tuple<bool, int, int> Decided(int latency, std::uint32_t status, const std::string& body) {
  HttpResponse reply;
  reply.status = status;
  reply.ok = status == 200;
  reply.body = body;
  const StatusSnapshot s = DecideStatus(latency, reply);
  return {s.online, s.population, s.latency_ms};
}

TEST(StatusDecision, ReadableDocumentDecidesElseThePort) {
  EXPECT_EQ(Decided(-1, 200, R"({"online":true,"population":57.9})"), std::make_tuple(true, 57, -1));
  EXPECT_EQ(Decided(12, 200, R"({"online":false,"population":3})"), std::make_tuple(false, 3, 12));
  // Without a boolean "online" the realm is offline whatever the port said.
  EXPECT_EQ(Decided(12, 200, R"({"population":8})"), std::make_tuple(false, 8, 12));
  EXPECT_EQ(Decided(12, 200, R"({"online":1})"), std::make_tuple(false, 0, 12));
  EXPECT_EQ(Decided(5, 200, R"({"online":true,"population":1e12})"), std::make_tuple(true, 2147483647, 5));
  for (const auto& [status, body] :
       {std::make_pair(0u, ""), std::make_pair(404u, R"({"online":true})"), std::make_pair(200u, "<html>")}) {
    EXPECT_EQ(Decided(0, status, body), std::make_tuple(true, 0, 0)) << status;
    EXPECT_EQ(Decided(-1, status, body), std::make_tuple(false, 0, -1)) << status;
  }
}

// A probe the test controls: counts its calls; throws from call `fail_from` on when that is set.
class FakeProbe {
 public:
  explicit FakeProbe(int fail_from = 0) : fail_from_(fail_from) {}
  StatusSnapshot operator()() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++started_;
    changed_.notify_all();
    if (fail_from_ > 0 && started_ >= fail_from_) throw std::runtime_error("probe failed");
    return StatusSnapshot{true, started_, 1};
  }
  int started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }
  // Waits until at least `count` probes have begun; false after five seconds.
  bool WaitStarted(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] { return started_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const int fail_from_;
  int started_ = 0;
};

TEST(StatusCycle, ProbesOncePerSixtyTicksAndPublishesAfterStoring) {
  FakeProbe probe;
  StatusCycle cycle(10ms);                     // a cycle of 600 ms
  EXPECT_EQ(cycle.Snapshot().latency_ms, -1);  // nothing probed yet
  std::atomic<int> published{0};
  std::atomic<int> seen_population{0};
  const auto start = Clock::now();
  cycle.Start([&] { return probe(); },
              [&] {
                seen_population = cycle.Snapshot().population;  // already stored when told
                ++published;
              });
  ASSERT_TRUE(probe.WaitStarted(2));
  const auto cycle_time = Clock::now() - start;
  cycle.Stop();
  EXPECT_GE(cycle_time, 600ms);
  EXPECT_LT(cycle_time, 2s);
  EXPECT_EQ(probe.started(), 2);
  EXPECT_EQ(published.load(), 2);
  EXPECT_EQ(seen_population.load(), 2);
}

TEST(StatusCycle, RefreshProbesAtOnceAndAgainForTheNewCycle) {
  FakeProbe probe;
  StatusCycle cycle;  // real 500 ms ticks: the next regular probe is 30 s away
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(1));
  std::this_thread::sleep_for(100ms);
  const auto asked = Clock::now();
  cycle.RequestRefresh();
  ASSERT_TRUE(probe.WaitStarted(3));
  EXPECT_LT(Clock::now() - asked, 500ms);
  std::this_thread::sleep_for(700ms);  // then the 30-second cycle resumes
  EXPECT_EQ(probe.started(), 3);
  cycle.Stop();
}

TEST(StatusCycle, AnExceptionEndsTheThreadAndKeepsTheLastSnapshot) {
  FakeProbe probe(2);
  StatusCycle cycle(1ms);
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(2));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(probe.started(), 2);  // no probe after the failure
  EXPECT_EQ(cycle.Snapshot().population, 1);
  cycle.Stop();
}

TEST(StatusCycle, StopDoesNotWaitOutATickAndTheCycleCanRunAgain) {
  FakeProbe first;
  FakeProbe second;
  FakeProbe ignored;
  StatusCycle cycle(10000ms);
  for (FakeProbe* probe : {&first, &second}) {
    cycle.Start([probe] { return (*probe)(); }, nullptr);
    cycle.Start([&] { return ignored(); }, nullptr);  // already running
    ASSERT_TRUE(probe->WaitStarted(1));
    const auto start = Clock::now();
    cycle.Stop();
    EXPECT_LT(Clock::now() - start, 500ms);
  }
  EXPECT_EQ(ignored.started(), 0);
}

}  // namespace
