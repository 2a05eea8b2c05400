// Where the main window's controls are, in client pixels (bounds inclusive).
// The hover area decides the highlight, the click area decides the click;
// they differ slightly for the three rightmost title buttons.
#pragma once

#include <cstdint>

#include "app/launcher_state.h"

enum class HoverTarget : std::int32_t {
  None = 0,
  Close = 1,
  Minimize = 2,
  Play = 3,
  Settings = 4,
  Retry = 5,
  Download = 6,
  Locate = 7,
  Addons = 8,
  Mute = 9,
};

// What a left click at (x, y) acts on in `state`; None for no control.
// Play/Download stand for the one big button (DOWNLOAD CLIENT in NoInstall).
HoverTarget ClickTargetAt(int x, int y, LauncherState state);

// Which control is under the pointer in `state`.
HoverTarget HoverTargetAt(int x, int y, LauncherState state);

// True where the system should treat the point as the window's caption
// (dragging moves the window): the strip above y 55, except the corner that
// holds the title buttons.
bool IsCaptionPoint(int x, int y);
