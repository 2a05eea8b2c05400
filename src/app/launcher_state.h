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

// PLAY starts the game (and ADDONS opens) only when the files are up to date or
// the server is out of reach; while work runs or after an error they do nothing.
inline bool IsPlayable(LauncherState state) { return state == LauncherState::Ready || state == LauncherState::Offline; }
