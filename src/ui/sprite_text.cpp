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

}  // namespace

float MeasureSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height) {
  float total = 0;
  for (const wchar_t c : text) {
    const wchar_t key = Lower(c);
    float w = 0;
    if (key == L' ') {
      total += kSpriteSpaceAdvance;
    } else if (ScaledWidth(key, glyphs, height, w)) {
      total += w + 2;
    }
  }
  return total;
}

std::vector<SpriteRun> LayoutSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height, float left,
                                        float width, float top) {
  std::vector<SpriteRun> runs;
  float x = left + (width - MeasureSpriteText(text, glyphs, height)) * 0.5f;
  for (const wchar_t c : text) {
    const wchar_t key = Lower(c);
    float w = 0;
    if (key == L' ') {
      x += kSpriteSpaceAdvance;
    } else if (ScaledWidth(key, glyphs, height, w)) {
      runs.push_back({key, {x, top, w, height}});
      x += w + 2;
    }
  }
  return runs;
}
