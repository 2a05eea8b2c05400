// A GDI+ bitmap's pixels, locked for as long as the object lives: unlocked on
// every path.
#pragma once

#include <cstdint>

#include "ui/backdrop.h"
#include "ui/gdiplus_win.h"

class LockedBits {
 public:
  LockedBits(Gdiplus::Bitmap& bitmap, UINT mode, Gdiplus::PixelFormat format) : bitmap_(bitmap) {
    Gdiplus::Rect all(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()));
    ok_ = bitmap.LockBits(&all, mode, format, &data_) == Gdiplus::Ok;
  }
  ~LockedBits() {
    if (ok_) bitmap_.UnlockBits(&data_);
  }
  LockedBits(const LockedBits&) = delete;
  LockedBits& operator=(const LockedBits&) = delete;
  bool ok() const { return ok_; }
  PixelView view() const {
    return {static_cast<std::uint8_t*>(data_.Scan0), static_cast<int>(data_.Width), static_cast<int>(data_.Height),
            data_.Stride};
  }
  ConstPixelView const_view() const {
    const PixelView v = view();
    return {v.data, v.width, v.height, v.stride};
  }

 private:
  Gdiplus::Bitmap& bitmap_;
  Gdiplus::BitmapData data_{};
  bool ok_ = false;
};
