// How large the window is drawn on its monitor. The screen is laid out in
// design pixels (1280 x 720); the window is that times its scale in device
// pixels, so the painter's transform and the hit test are the only places
// that know about the scale.
#pragma once

#include <cstdint>

// The scale for a monitor of `dpi` (96 is 100 %) and a work area of the given
// size in device pixels: DPI / 96 lowered to the largest of 1, 1.25, 1.5,
// 1.75, 2, 2.5 and 3 at which the whole window fits the work area; 1 when
// even that does not fit, and for a DPI of 0 or above 480.
float WindowScale(std::uint32_t dpi, int work_width, int work_height);

struct WindowSize {
  int width = 0, height = 0;
};

// The window's size in device pixels at `scale` (whole pixels at every step).
WindowSize ScaledWindowSize(float scale);

// The design coordinate of a device pixel: the design pixel its top-left
// corner lies in. A device pixel that starts inside a control belongs to it,
// so the edge pixels of a control drawn at the scale always hit it.
int ToDesign(int device, float scale);

// The tray icon's image size (16, 32 or 48 pixels of the icon resource) for a
// monitor of `dpi`: the smallest that is not below 16 pixels at that DPI.
int TrayIconSize(std::uint32_t dpi);
