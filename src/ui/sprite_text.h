// Text drawn from a set of glyph images (the title): where each glyph goes.
// Portable: the painter draws the images at the rectangles given here.
#pragma once

#include <string>
#include <vector>

#include "ui/screen.h"

struct SpriteRun {
  wchar_t key;  // the glyph to draw (the character lowered)
  RectF rect;   // where, scaled to the drawing height with its aspect kept
};

// A space advances this far whether or not the set has a space image.
constexpr float kSpriteSpaceAdvance = 19.6f;

// The width `text` takes at glyph height `height`: each glyph's scaled width
// plus a 2-pixel gap after it (the last one too); characters without an
// image, or with an image of height 0, take nothing.
float MeasureSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height);

// The glyphs of `text` centred in (left, left + width) with their tops at `top`.
std::vector<SpriteRun> LayoutSpriteText(const std::wstring& text, const GlyphSizes& glyphs, float height, float left,
                                        float width, float top);
