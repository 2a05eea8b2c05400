// The main screen's typefaces: three TrueType files from assets\fonts in a
// private font collection (each slot falls back to the system "Arial" when
// its file or family is missing), and two sprite fonts: one PNG image per
// character, used to draw the title as artwork.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ui/gdiplus_win.h"
#include "ui/screen.h"

// Character (lower case) -> its glyph image.
using SpriteFont = std::map<wchar_t, std::unique_ptr<Gdiplus::Image>>;

class LauncherFonts {
 public:
  LauncherFonts() = default;
  ~LauncherFonts() { Release(); }
  LauncherFonts(const LauncherFonts&) = delete;
  LauncherFonts& operator=(const LauncherFonts&) = delete;

  // Loads everything from `fonts_folder` (ending in a backslash) and logs
  // what it found ("Loaded font: ", "Font not found: ", "Sprite fonts: ").
  void Load(const std::wstring& fonts_folder);
  // Glyph images first, then the families, then the collection they live in.
  void Release();

  // The family of a slot, or null when it did not load (use "Arial").
  const Gdiplus::FontFamily* Family(FontFace face) const;
  const SpriteFont& Letters() const { return letters_; }
  // The pixel sizes of the letters set, for laying out sprite text.
  const GlyphSizes& LetterSizes() const { return letter_sizes_; }

 private:
  std::unique_ptr<Gdiplus::FontFamily> LoadFontFamily(const std::wstring& file, const std::wstring& family);
  void LoadSpriteFont(const std::wstring& folder, SpriteFont& set, bool with_digits);

  std::wstring folder_;
  std::unique_ptr<Gdiplus::PrivateFontCollection> collection_;
  std::unique_ptr<Gdiplus::FontFamily> title_, label_, narrow_;
  SpriteFont letters_, subletters_;
  GlyphSizes letter_sizes_;
};
