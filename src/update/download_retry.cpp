#include "update/download_retry.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/text.h"
#include "log/log.h"

namespace {

// Sleeps in short steps so that a cancel is heard at once; false when stopped.
bool PauseUnlessStopped(double seconds, const DownloadStop& stop) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (stop && stop()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !(stop && stop());
}

}  // namespace

std::int64_t ResumeOffset(std::int64_t present, std::int64_t expected) {
  return present > 0 && present < expected ? present : 0;
}

DownloadResult DownloadWithRetries(const std::string& name, std::int64_t offset, const DownloadAttempt& attempt,
                                   const std::function<std::int64_t()>& resume_from, const RetryPauses& pauses,
                                   const DownloadStop& stop) {
  DownloadResult result = attempt(offset);
  for (int retry = 1; !result.ok; ++retry) {
    const double pause = RetryPause(result, retry, pauses);
    if (pause < 0 || (stop && stop())) break;
    char when[32];
    std::snprintf(when, sizeof when, "%g", pause);
    Log::Warn(L"Download of " + Widen(name) + L" failed (" + Widen(result.error) + L"); retry " +
              std::to_wstring(retry) + L" of " + std::to_wstring(kDownloadRetries) + L" in " + Widen(when) + L" s");
    if (!PauseUnlessStopped(pause, stop)) break;
    result = attempt(resume_from());
  }
  return result;
}
