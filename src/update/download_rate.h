// Speed and time left of one download, for the progress line.
#pragma once

#include <cstdint>

#include "update/updater_progress.h"

// Recomputes the speed at most every half second, over the bytes of that
// window: a figure per network read would flicker and mean little.
class DownloadRate {
 public:
  // `start_bytes`: what was on disk before the download began (a resumed file).
  explicit DownloadRate(std::int64_t start_bytes);

  // Writes bytes_done and bytes_total (the server's `total`, or `expected_total`
  // when it gave none) into `progress`, and speed and seconds_left when a window ends.
  void Sample(UpdaterProgress& progress, std::int64_t done, std::int64_t total, std::int64_t expected_total);

 private:
  std::int64_t last_time_;
  std::int64_t last_bytes_;
};
