// The questions the window puts to the player outside its own surface: the
// shell's folder picker and message boxes. The window asks through this
// interface so that a test host can answer in their place.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A modal folder picker (BIF_ flags); the chosen folder's path, nothing when cancelled.
  virtual std::optional<std::wstring> PickFolder(HWND owner, const std::wstring& title, UINT flags) = 0;
  // A modal message box; the button pressed (IDOK, ...).
  virtual int Message(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) = 0;
};

// SHBrowseForFolderW and MessageBoxW. The picker wants COM on the calling thread.
Prompts& SystemPrompts();
