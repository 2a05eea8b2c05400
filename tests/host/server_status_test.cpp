#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "net/status_cycle.h"
#include "net/status_probe.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HttpResponse Reply(std::uint32_t status, const std::string& body) {
  HttpResponse r;
  r.status = status;
  r.ok = status == 200;
  r.body = body;
  return r;
}

void ExpectSnapshot(const StatusSnapshot& s, bool online, int population, int latency) {
  EXPECT_EQ(s.online, online);
  EXPECT_EQ(s.population, population);
  EXPECT_EQ(s.latency_ms, latency);
}

TEST(StatusDecision, DocumentDecidesWhenReadable) {
  ExpectSnapshot(DecideStatus(12, Reply(200, R"({"online":true,"population":57})")), true, 57, 12);
  ExpectSnapshot(DecideStatus(-1, Reply(200, R"({"online":true,"population":57.9})")), true, 57, -1);
  ExpectSnapshot(DecideStatus(12, Reply(200, R"({"online":false,"population":3})")), false, 3, 12);
  // Without a boolean "online" the realm is offline whatever the port said.
  ExpectSnapshot(DecideStatus(12, Reply(200, R"({"population":8})")), false, 8, 12);
  ExpectSnapshot(DecideStatus(12, Reply(200, R"({"online":1})")), false, 0, 12);
  ExpectSnapshot(DecideStatus(12, Reply(200, R"([true])")), false, 0, 12);
  ExpectSnapshot(DecideStatus(5, Reply(200, R"({"online":true,"population":1e12})")), true, 2147483647, 5);
}

TEST(StatusDecision, PortDecidesWithoutADocument) {
  for (const HttpResponse& reply : {Reply(0, ""), Reply(404, R"({"online":true,"population":5})"), Reply(200, ""),
                                    Reply(200, "<html>"), Reply(500, "")}) {
    ExpectSnapshot(DecideStatus(0, reply), true, 0, 0);
    ExpectSnapshot(DecideStatus(-1, reply), false, 0, -1);
  }
}

// A probe the test controls: counts its calls and can be held inside a call.
class FakeProbe {
 public:
  StatusSnapshot operator()() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++started_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !hold_; });
    if (fail_) throw std::runtime_error("probe failed");
    StatusSnapshot s;
    s.online = true;
    s.population = started_;
    s.latency_ms = 1;
    return s;
  }
  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  void FailFromNowOn() {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_ = true;
  }
  int started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }
  // Waits until at least `count` probes have begun; false after `limit`.
  bool WaitStarted(int count, Clock::duration limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return started_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int started_ = 0;
  bool hold_ = false;
  bool fail_ = false;
};

TEST(StatusCycle, SnapshotBeforeTheFirstProbeIsOffline) {
  StatusCycle cycle;
  ExpectSnapshot(cycle.Snapshot(), false, 0, -1);
  cycle.Stop();  // without a thread: returns at once
}

TEST(StatusCycle, PublishesEachProbeAfterStoringIt) {
  FakeProbe probe;
  StatusCycle cycle(1ms);
  std::atomic<int> published{0};
  std::atomic<int> seen_population{0};
  cycle.Start([&] { return probe(); },
              [&] {
                seen_population = cycle.Snapshot().population;  // already stored when told
                ++published;
              });
  ASSERT_TRUE(probe.WaitStarted(2, 5s));
  cycle.Stop();
  EXPECT_EQ(published.load(), probe.started());
  EXPECT_EQ(seen_population.load(), probe.started());
  ExpectSnapshot(cycle.Snapshot(), true, probe.started(), 1);
}

TEST(StatusCycle, ProbesOncePerSixtyTicks) {
  FakeProbe probe;
  StatusCycle cycle(10ms);  // a cycle of 600 ms
  const auto start = Clock::now();
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(2, 5s));
  const auto cycle_time = Clock::now() - start;
  cycle.Stop();
  EXPECT_GE(cycle_time, 600ms);
  EXPECT_LT(cycle_time, 2s);
  EXPECT_EQ(probe.started(), 2);
}

TEST(StatusCycle, RefreshProbesAtOnceAndAgainForTheNewCycle) {
  FakeProbe probe;
  StatusCycle cycle;  // real 500 ms ticks: the next regular probe is 30 s away
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(1, 5s));
  std::this_thread::sleep_for(100ms);
  const auto asked = Clock::now();
  cycle.RequestRefresh();
  ASSERT_TRUE(probe.WaitStarted(3, 5s));
  EXPECT_LT(Clock::now() - asked, 500ms);
  // Then the 30-second cycle resumes: no further probe soon after.
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(probe.started(), 3);
  cycle.Stop();
}

TEST(StatusCycle, StopWaitsForTheProbeInProgressOnly) {
  FakeProbe probe;
  StatusCycle cycle;
  probe.Hold(true);
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(1, 5s));
  std::thread release([&] {
    std::this_thread::sleep_for(300ms);
    probe.Hold(false);
  });
  const auto start = Clock::now();
  cycle.Stop();
  const auto took = Clock::now() - start;
  release.join();
  EXPECT_GE(took, 250ms);  // it did wait for the probe
  EXPECT_LT(took, 300ms + 500ms);
  EXPECT_EQ(probe.started(), 1);

  // Stopped while sleeping: returns without waiting out the tick.
  StatusCycle idle(std::chrono::milliseconds(10000));
  FakeProbe quick;
  idle.Start([&] { return quick(); }, nullptr);
  ASSERT_TRUE(quick.WaitStarted(1, 5s));
  const auto idle_start = Clock::now();
  idle.Stop();
  EXPECT_LT(Clock::now() - idle_start, 500ms);
}

TEST(StatusCycle, AnExceptionEndsTheThreadAndKeepsTheLastSnapshot) {
  FakeProbe probe;
  StatusCycle cycle(1ms);
  cycle.Start([&] { return probe(); }, nullptr);
  ASSERT_TRUE(probe.WaitStarted(1, 5s));
  probe.FailFromNowOn();
  cycle.RequestRefresh();
  ASSERT_TRUE(probe.WaitStarted(2, 5s));
  std::this_thread::sleep_for(200ms);
  const int probes = probe.started();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(probe.started(), probes);  // no probe after the failure
  EXPECT_EQ(cycle.Snapshot().population, probes - 1);
  cycle.Stop();

  // Once stopped it can run again.
  FakeProbe again;
  cycle.Start([&] { return again(); }, nullptr);
  EXPECT_TRUE(again.WaitStarted(1, 5s));
  cycle.Stop();
}

TEST(StatusCycle, SecondStartWhileRunningIsIgnored) {
  FakeProbe first;
  FakeProbe second;
  StatusCycle cycle;
  cycle.Start([&] { return first(); }, nullptr);
  cycle.Start([&] { return second(); }, nullptr);
  ASSERT_TRUE(first.WaitStarted(1, 5s));
  cycle.Stop();
  EXPECT_EQ(second.started(), 0);
}

}  // namespace
