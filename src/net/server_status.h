// The main screen's realm indicator: a background thread that probes the
// realm every 30 seconds (or at once on request) and tells whoever started
// it through a callback (the window posts itself a message).
#pragma once

#include <utility>

#include "net/status_cycle.h"
#include "net/status_probe.h"

class ServerStatus {
 public:
  // The target defaults to the update server; tests point it elsewhere.
  explicit ServerStatus(StatusTarget target = DefaultStatusTarget()) : target_(std::move(target)) {}

  // Windows build. Starts the probe thread; after each probe `published` is
  // called on that thread (it must not block or call Stop). Does nothing
  // while the thread runs; raises std::system_error if it cannot be created.
  void Start(StatusCycle::Published published);
  // Ends the thread; returns once the probe in progress, if any, has ended
  // (at most the 3 s connect limit plus the status request's time-outs).
  void Stop() { cycle_.Stop(); }
  void RequestRefresh() { cycle_.RequestRefresh(); }
  StatusSnapshot Snapshot() const { return cycle_.Snapshot(); }

 private:
  const StatusTarget target_;
  StatusCycle cycle_;
};
