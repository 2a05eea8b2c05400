// The realm status thread's schedule: probe, then wait 60 ticks of 500 ms
// (30 s) before the next probe, or probe at once when asked to. The last
// result is kept under a lock for the drawing code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "net/status_probe.h"

class StatusCycle {
 public:
  using Probe = std::function<StatusSnapshot()>;
  // Called on the probe thread after each new snapshot has been stored.
  using Published = std::function<void()>;

  static constexpr int kTicksPerCycle = 60;
  static constexpr std::chrono::milliseconds kDefaultTick{500};

  explicit StatusCycle(std::chrono::milliseconds tick = kDefaultTick) : tick_(tick) {}
  ~StatusCycle() { Stop(); }
  StatusCycle(const StatusCycle&) = delete;
  StatusCycle& operator=(const StatusCycle&) = delete;

  // Starts the probe thread; does nothing while one is running. A thread that
  // cannot be created raises std::system_error.
  void Start(Probe probe, Published published);
  // Ends the thread and waits for it: returns after the probe in progress, if
  // any. Never call it from `probe` or `published`.
  void Stop();
  // Asks for a probe now; returns at once. A refresh probe is followed by the
  // first probe of a new cycle.
  void RequestRefresh();
  // The last probe's result; before the first: offline, 0 players, latency -1.
  StatusSnapshot Snapshot() const;

 private:
  void Run();
  void ProbeAndPublish();
  // Waits one tick, cut short by Stop or RequestRefresh.
  void WaitTick();

  const std::chrono::milliseconds tick_;
  Probe probe_;
  Published published_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> refresh_requested_{false};
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  mutable std::mutex snapshot_mutex_;
  StatusSnapshot snapshot_;
};
