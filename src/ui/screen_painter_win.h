// Draws a screen description (ui/screen.h) with GDI+.
#pragma once

#include <memory>

#include "ui/fonts_win.h"
#include "ui/gdiplus_win.h"
#include "ui/screen.h"

// What the description refers to by name: the loaded images and fonts.
struct PaintAssets {
  Gdiplus::Image* picture = nullptr;       // the background picture, or null
  Gdiplus::Bitmap* video_frame = nullptr;  // the current video frame, or null
  const LauncherFonts* fonts = nullptr;    // null: every text in "Arial", no sprites
};

class ScreenPainter {
 public:
  ScreenPainter();
  ~ScreenPainter();
  ScreenPainter(const ScreenPainter&) = delete;
  ScreenPainter& operator=(const ScreenPainter&) = delete;

  // Draws every operation in order. A failing GDI+ call only leaves its
  // status behind; drawing goes on with the next operation.
  void Paint(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets);

 private:
  struct Cache;
  std::unique_ptr<Cache> cache_;
};

// Smoothing and text settings of the main screen's graphics.
void PrepareGraphics(Gdiplus::Graphics& g);
