// The window's back buffer: a memory device context with a bitmap selected
// into it, released in reverse. Kept across paints (30 a second with the
// video), made again only when the window's size changes.
#pragma once

#include <windows.h>

class OffscreenBuffer {
 public:
  OffscreenBuffer(HDC target, int width, int height)
      : dc_(CreateCompatibleDC(target)),
        bitmap_(CreateCompatibleBitmap(target, width, height)),
        width_(width),
        height_(height) {
    old_ = SelectObject(dc_, bitmap_);
  }
  ~OffscreenBuffer() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  OffscreenBuffer(const OffscreenBuffer&) = delete;
  OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;
  HDC dc() const { return dc_; }
  bool Fits(int width, int height) const { return width == width_ && height == height_; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  int width_;
  int height_;
  HGDIOBJ old_ = nullptr;
};
