// An owned icon: one loaded at a size of our choice (not shared), destroyed
// with its owner or when replaced.
#pragma once

#include <windows.h>

class UniqueIcon {
 public:
  UniqueIcon() = default;
  ~UniqueIcon() { Reset(); }
  UniqueIcon(const UniqueIcon&) = delete;
  UniqueIcon& operator=(const UniqueIcon&) = delete;
  void Reset(HICON icon = nullptr) {
    if (icon_) DestroyIcon(icon_);
    icon_ = icon;
  }
  HICON get() const { return icon_; }

 private:
  HICON icon_ = nullptr;
};
