// Pixel work behind the painter's backdrop cache: the video frame scaled to
// the window in plain code, and a pre-drawn layer of the screen's unchanging
// shades (vignette, panel shade, panel) laid over it. Done once per video
// frame instead of through GDI+ on every paint, which costs far more (see
// docs/PERFORMANCE.md). Portable; pixels are 32-bit, bytes B, G, R, A (or X).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/screen.h"

struct PixelView {
  std::uint8_t* data;
  int width, height;
  std::ptrdiff_t stride;  // bytes from one row to the next
};

struct ConstPixelView {
  const std::uint8_t* data;
  int width, height;
  std::ptrdiff_t stride;
};

// Bilinear scaling of `src` to the size of `dst` (pixel centres aligned, edges
// clamped). The fourth byte of each pixel is set to 0xFF.
void ScaleBilinear(ConstPixelView src, PixelView dst);

// In one pass, within `area` of dst: `src` scaled as by ScaleBilinear to the
// whole of dst, with a premultiplied `layer` of dst's size laid over it as by
// CompositePremultiplied. Where the window is scaled up, the smooth backdrop
// stays at design size and only this pass runs at the window's size (for a
// new frame over all of it, for a changed front over what changed).
void ScaleUnderLayer(ConstPixelView src, ConstPixelView layer, PixelView dst, const PixelRect& area);

// Lays a premultiplied layer of the same size over `dst`:
// dst = layer + dst * (255 - layer alpha) / 255, rounded. Pixels of alpha 0
// are left untouched.
void CompositePremultiplied(ConstPixelView layer, PixelView dst);
