// The main screen's typefaces: three TrueType files from assets\fonts in a
// private font collection (each slot falls back to the system "Arial" when
// none of its files and families is there), and sprite fonts: one PNG image
// per character, used to draw the title as artwork (at 1x and 2x).
#pragma once

#include <map>
#include <memory>
#include <set>
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

  // A font file and the family it holds.
  struct Choice {
    const wchar_t* file;
    const wchar_t* family;
  };

  // Loads everything from `fonts_folder` (ending in a backslash) and logs
  // what it found ("Loaded font: ", "Font not found: ", "Sprite fonts: ").
  void Load(const std::wstring& fonts_folder);
  // Glyph images first, then the families, then the collection they live in.
  void Release();

  // The family of a slot, or null when it did not load (use "Arial").
  const Gdiplus::FontFamily* Family(FontFace face) const;
  // The title's glyphs to draw at a window scale: the 2x set above 1.5 (where it loaded).
  const SpriteFont& Letters(float scale) const;
  // The pixel sizes of the 1x letters set, for laying out sprite text at every scale.
  const GlyphSizes& LetterSizes() const { return letter_sizes_; }

 private:
  // The first of `choices` whose file is there and holds its family; warns
  // about a file without its family, and when no file is there at all.
  template <std::size_t N>
  std::unique_ptr<Gdiplus::FontFamily> LoadSlot(const Choice (&choices)[N]);
  void LoadSpriteFont(const std::wstring& folder, SpriteFont& set, bool with_digits);

  std::wstring folder_;
  std::unique_ptr<Gdiplus::PrivateFontCollection> collection_;
  std::unique_ptr<Gdiplus::FontFamily> title_, label_, narrow_;
  std::set<std::wstring> added_;  // files in the collection
  SpriteFont letters_, letters_2x_, subletters_;
  GlyphSizes letter_sizes_;
};
