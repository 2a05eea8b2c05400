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
  unsigned frame_generation = 0;           // changes whenever the frame's pixels change
  const LauncherFonts* fonts = nullptr;    // null: every text in "Arial", no sprites
  float scale = 1;                         // device pixels per design pixel of the description
};

class ScreenPainter {
 public:
  ScreenPainter();
  ~ScreenPainter();
  ScreenPainter(const ScreenPainter&) = delete;
  ScreenPainter& operator=(const ScreenPainter&) = delete;

  // Draws the screen at the assets' scale: shapes and text drawn at the
  // scaled size through the transform, the picture and video frames scaled
  // once into the backdrop. A failing GDI+ call only leaves its status
  // behind; drawing goes on with the next operation.
  //
  // Under Wine every GDI+ text, stretched image or gradient costs
  // milliseconds, so the screen is kept in three cached layers and a paint
  // that changes nothing is one unscaled copy:
  //  - the shades that never change (vignette, panel shade, the news panel's
  //    fill), drawn once;
  //  - the backdrop: the picture, or the video frame scaled in plain code,
  //    with the shades laid over it; made again for each new video frame;
  //  - the front: everything else, drawn again only when it changes (hover,
  //    state, progress, news, realm status).
  // Shades and backdrop are smooth and kept at design size; the front is of
  // the window's size, and one pass scales the backdrop under it.
  // Nothing drawn between the backdrop's layers and the news panel overlaps
  // the panel, so the layers keep the description's order.
  void Paint(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets);

  // Draws every operation with GDI+ as it stands, without the cache (for
  // comparison in the benchmark); scales `g`'s transform by the assets' scale.
  static void PaintDirect(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets);

 private:
  struct Cache;
  std::unique_ptr<Cache> cache_;
};

// Smoothing and text settings of the main screen's graphics.
void PrepareGraphics(Gdiplus::Graphics& g);
