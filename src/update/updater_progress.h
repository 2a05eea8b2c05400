// What an update run reports to its starter, once per step and per
// downloaded block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

enum class UpdaterPhase : std::int32_t {
  Idle = 0,         // nothing reported yet
  Verifying = 1,    // a file on disk, or a fresh download, is being checked
  Downloading = 2,  // a file is being downloaded
  Extracting = 3,   // a downloaded archive is being unpacked
  Done = 4,         // the run went through its list, or stopped on a cancel
  Error = 5,        // the run stopped on a failure; `error` says why
};

struct UpdaterProgress {
  UpdaterPhase phase = UpdaterPhase::Idle;
  std::string file;        // the entry's path as the manifest writes it; + " (verify)" while verifying a download
  std::int32_t index = 0;  // 1-based entry in hand
  std::int32_t count = 0;  // entries in the list
  std::int64_t bytes_done = 0;
  std::int64_t bytes_total = 0;
  double speed = 0.0;  // bytes per second over the last sampling window
  std::int32_t seconds_left = 0;
  std::string error;
};

using UpdaterCallback = std::function<void(const UpdaterProgress&)>;
