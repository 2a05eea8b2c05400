#include "ui/sprite_text.h"

#include <cwctype>

namespace {

// The scaled width of `c`'s glyph, or nothing for a character without one.
bool ScaledWidth(wchar_t c, const GlyphSizes& glyphs, float height, float& width) {
  const auto it = glyphs.find(c);
  if (it == glyphs.end() || it->second.height == 0) return false;
  width = static_cast<float>(it->second.width) * (height / static_cast<float>(it->second.height));
  return true;
}

wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c))); }

// Walks the text as it is drawn from `x`: place(key, x, width) for each glyph,
// a fixed advance for a space, nothing for a character without a glyph.
// Gives where the text ends.
template <class Place>
float WalkSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height, float x, Place place) {
  for (const wchar_t c : text) {
    const wchar_t key = Lower(c);
    float w = 0;
    if (key == L' ') {
      x += kSpriteSpaceAdvance;
    } else if (ScaledWidth(key, glyphs, height, w)) {
      place(key, x, w);
      x += w + 2;
    }
  }
  return x;
}

}  // namespace

float MeasureSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height) {
  return WalkSpriteText(text, glyphs, height, 0, [](wchar_t, float, float) {});
}

std::vector<SpriteRun> LayoutSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height, float left,
                                        float width, float top) {
  std::vector<SpriteRun> runs;
  const float x = left + (width - MeasureSpriteText(text, glyphs, height)) * 0.5f;
  WalkSpriteText(text, glyphs, height, x, [&](wchar_t key, float at, float w) {
    runs.push_back({key, {at, top, w, height}});
  });
  return runs;
}
