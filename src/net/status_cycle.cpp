#include "net/status_cycle.h"

#include <utility>

#include "log/log.h"

void StatusCycle::Start(Probe probe, Published published) {
  if (thread_.joinable()) return;
  probe_ = std::move(probe);
  published_ = std::move(published);
  running_ = true;
  try {
    thread_ = std::thread(&StatusCycle::Run, this);
  } catch (...) {
    running_ = false;
    throw;
  }
}

void StatusCycle::Stop() {
  {
    // Under the lock so the thread cannot miss the wake-up between its check
    // and its wait.
    std::lock_guard<std::mutex> lock(wake_mutex_);
    running_ = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StatusCycle::RequestRefresh() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    refresh_requested_ = true;
  }
  wake_.notify_all();
}

StatusSnapshot StatusCycle::Snapshot() const {
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  return snapshot_;
}

void StatusCycle::Run() {
  try {
    while (running_) {
      ProbeAndPublish();
      for (int tick = 0; tick < kTicksPerCycle && running_; ++tick) {
        WaitTick();
        if (!running_) break;
        if (refresh_requested_.exchange(false)) {
          ProbeAndPublish();
          break;  // and a new cycle begins with its own probe
        }
      }
    }
  } catch (...) {
    // The thread ends; the snapshot keeps the last result until Stop.
    try {
      Log::Error(L"ServerStatus thread exception");
    } catch (...) {
    }
  }
}

void StatusCycle::ProbeAndPublish() {
  const StatusSnapshot result = probe_();
  {
    std::lock_guard<std::mutex> lock(snapshot_mutex_);
    snapshot_ = result;
  }
  if (published_) published_();
}

void StatusCycle::WaitTick() {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  // wait_for measures on the steady clock, so a change of the wall clock does
  // not stretch or shorten the cycle.
  wake_.wait_for(lock, tick_, [this] { return !running_ || refresh_requested_; });
}
