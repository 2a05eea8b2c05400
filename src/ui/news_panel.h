// The news panel on the right of the main screen: a column of cards that
// the mouse wheel scrolls one card at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "data/news.h"
#include "ui/screen.h"

constexpr float kNewsCardPitch = 88;  // card height 80 plus a gap of 8
constexpr float kNewsCardHeight = 80;

// The first card shown after one wheel notch: turning the wheel away from
// the player (delta > 0) shows earlier entries. Three cards stay in view at
// the end of the range; three entries or fewer do not scroll.
std::int32_t ScrollNews(std::int32_t current, int delta, std::size_t count);

// Appends the panel in `panel`: its fill and outline, the cards from entry
// `scroll` on that reach into the panel (clipped to it), and the heading
// above it.
void ComposeNewsPanel(Screen& screen, const RectF& panel, const std::vector<NewsItem>& news, std::int32_t scroll);
