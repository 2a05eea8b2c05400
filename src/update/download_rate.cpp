#include "update/download_rate.h"

#include <chrono>

namespace {

std::int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

DownloadRate::DownloadRate(std::int64_t start_bytes) : last_time_(NowNanoseconds()), last_bytes_(start_bytes) {}

void DownloadRate::Sample(UpdaterProgress& progress, std::int64_t done, std::int64_t total,
                          std::int64_t expected_total) {
  progress.bytes_done = done;
  progress.bytes_total = total >= 1 ? total : expected_total;
  const std::int64_t now = NowNanoseconds();
  const double elapsed = static_cast<double>(now - last_time_) / 1e9;
  if (elapsed <= 0.5) return;
  progress.speed = static_cast<double>(done - last_bytes_) / elapsed;
  last_bytes_ = done;
  last_time_ = now;
  if (progress.speed > 0 && progress.bytes_total > done) {
    progress.seconds_left =
        static_cast<std::int32_t>(static_cast<double>(progress.bytes_total - done) / progress.speed);
  }
}
