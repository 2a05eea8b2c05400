#include "ui/status_line.h"

#include <cstdio>

#include "base/text.h"

std::wstring FormatSpeedLine(double bytes_per_second, int seconds_left) {
  char buffer[64] = {};
  std::snprintf(buffer, sizeof buffer, "%.1f MB/s  %ds", bytes_per_second * (1.0 / 1048576.0), seconds_left);
  return Widen(buffer);
}

StatusLine BuildStatusLine(LauncherState state, const std::wstring& status_text, const UpdaterProgress& progress) {
  StatusLine line;
  const std::wstring file = Widen(progress.file);
  switch (state) {
    case LauncherState::Connecting: line.text = L"Connecting to update server..."; break;
    case LauncherState::Verifying:
      line.text = L"Verifying: " + file;
      if (progress.count > 0) line.fraction = static_cast<float>(progress.index) / static_cast<float>(progress.count);
      break;
    case LauncherState::Updating:
      if (progress.phase == UpdaterPhase::Extracting) {
        line.text = L"Extracting: " + file;
        line.fraction = 0.99f;
      } else {
        line.text = L"Downloading: " + file;
        if (progress.bytes_total > 0) {
          line.fraction = static_cast<float>(progress.bytes_done) / static_cast<float>(progress.bytes_total);
        }
        line.detail = FormatSpeedLine(progress.speed, progress.seconds_left);
      }
      break;
    case LauncherState::Ready:
      line.text = L"Files up to date";
      line.fraction = 1.0f;
      break;
    case LauncherState::Error: line.text = status_text.empty() ? L"Error" : status_text; break;
    case LauncherState::Offline:
      line.text = L"Offline mode";
      line.fraction = 1.0f;
      line.detail = status_text;  // why, when someone said ("Update server unreachable. ...")
      break;
    case LauncherState::NoInstall:
      line.text = L"No WoW installation found  \u2014  download the client or locate an existing install";
      break;
  }
  return line;
}
