// The status and progress line at the bottom of the main screen, as text.
#pragma once

#include <string>

#include "app/launcher_state.h"
#include "update/updater_progress.h"

struct StatusLine {
  std::wstring text;
  float fraction = 0.0f;  // of the progress bar, 0 to 1
  std::wstring detail;    // right-aligned: the speed line while downloading, the reason when offline
};

StatusLine BuildStatusLine(LauncherState state, const std::wstring& status_text, const UpdaterProgress& progress);

// "1.5 MB/s  42s": MB are 1,048,576 bytes.
std::wstring FormatSpeedLine(double bytes_per_second, int seconds_left);
