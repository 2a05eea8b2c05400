// What the main screen shows: where the launcher stands with the update server
// and the client.
#pragma once

#include <cstdint>

enum class LauncherState : std::int32_t {
  Connecting = 0,
  Verifying = 1,
  Updating = 2,
  Ready = 3,
  Error = 4,
  Offline = 5,
  NoInstall = 6,
};

// "Connecting", "Ready", ... for the log.
const wchar_t* LauncherStateName(LauncherState state);
