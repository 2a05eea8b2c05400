// In-memory dialog templates: the standard DLGTEMPLATE header followed by
// DLGITEMTEMPLATE records (the non-extended form), written word by word, so
// the dialogs need no resource file. The words go to DialogBoxIndirectParamW
// as they stand; a vector's heap block gives the 4-byte start it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/addons.h"

class DialogTemplate {
 public:
  // Predefined window class atoms.
  static constexpr std::uint16_t kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

  void PushWord(std::uint16_t word) { words_.push_back(word); }
  void PushDword(std::uint32_t value);  // low word first
  // Each character as one UTF-16 unit, then a zero word.
  void PushString(const std::wstring& text);
  // A zero word when the length in bytes is not a multiple of 4.
  void AlignDword();
  // AlignDword, then a control with WS_CHILD | WS_VISIBLE added to `style`.
  void AddControl(std::uint32_t style, std::int16_t x, std::int16_t y, std::int16_t width, std::int16_t height,
                  std::uint16_t id, std::uint16_t class_atom, const std::wstring& text);
  // A control record written as given (its style complete).
  void AddRawControl(std::uint32_t style, std::int16_t x, std::int16_t y, std::int16_t width, std::int16_t height,
                     std::uint16_t id, std::uint16_t class_atom, const std::wstring& text);

  const std::vector<std::uint16_t>& words() const { return words_; }

 private:
  std::vector<std::uint16_t> words_;
};

// The settings dialog's "Check all files" button; the dialog ends with its id.
constexpr int kCheckAllFilesButton = 105;

// The settings dialog: folder field (101), Browse... (102), close-on-launch
// box (103), OK (1), Cancel (2), Check all files (kCheckAllFilesButton). Built once and kept; safe on first use from
// several threads.
const DialogTemplate& SettingsTemplate();
DialogTemplate BuildSettingsTemplate();

// The addons dialog for n >= 1 entries: check box 300 + i and status text
// 400 + i per entry, Apply (1), Close (2); 340 x (18n + 62) dialog units.
DialogTemplate BuildAddonsTemplate(const std::vector<AddonEntry>& entries);
