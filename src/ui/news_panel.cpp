#include "ui/news_panel.h"

#include <algorithm>

std::int32_t ScrollNews(std::int32_t current, int delta, std::size_t count) {
  const std::int32_t step = delta > 0 ? 1 : -1;
  const std::int64_t upper = std::max<std::int64_t>(0, static_cast<std::int64_t>(count) - 3);
  const std::int64_t candidate = static_cast<std::int64_t>(current) - step;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(candidate, 0, upper));
}

namespace {

DrawOp Op(Element element, Shape shape, RectF rect, Argb color) {
  DrawOp op;
  op.element = element;
  op.shape = shape;
  op.rect = rect;
  op.color = color;
  return op;
}

DrawOp Text(Element element, RectF box, std::wstring text, float points, bool bold, Argb color) {
  DrawOp op = Op(element, Shape::Text, box, color);
  op.text = std::move(text);
  op.font = {FontFace::Arial, points, /*points=*/true, bold};
  return op;
}

}  // namespace

void ComposeNewsPanel(Screen& screen, const RectF& panel, const std::vector<NewsItem>& news, std::int32_t scroll) {
  auto& ops = screen.ops;
  ops.push_back(Op(Element::NewsPanel, Shape::Fill, panel, 0xC80A0604));
  DrawOp outline = Op(Element::NewsPanel, Shape::Outline, panel, 0xC8503714);
  outline.pen = 1;
  ops.push_back(outline);
  ops.push_back(Op(Element::NewsPanel, Shape::ClipBegin, panel, 0));

  const float card_x = panel.x + 8, card_w = panel.w - 16;
  float top = panel.y + 8 - static_cast<float>(scroll) * kNewsCardPitch;
  for (const NewsItem& item : news) {
    if (panel.y > top + kNewsCardHeight) {  // wholly above the panel
      top += kNewsCardPitch;
      continue;
    }
    if (top > panel.y + panel.h) break;  // starts below the panel
    ops.push_back(Op(Element::NewsCard, Shape::Fill, {card_x, top, card_w, kNewsCardHeight}, 0x781E1408));
    ops.push_back(Text(Element::NewsCard, {card_x + 4, top + 4, card_w - 8, 14}, item.date, 7.5f, false, 0xB496783C));
    ops.push_back(Text(Element::NewsCard, {card_x + 4, top + 18, card_w - 8, 16}, item.title, 9.5f, true, 0xFFE6BE50));
    DrawOp body = Text(Element::NewsCard, {card_x + 4, top + 36, card_w - 8, 36}, item.body, 8.0f, false, 0xC8BEAF91);
    body.wrap = true;
    ops.push_back(body);
    DrawOp separator = Op(Element::NewsCard, Shape::Line,
                          {card_x, top + kNewsCardHeight, card_x + card_w, top + kNewsCardHeight}, 0x50644614);
    separator.pen = 1;
    ops.push_back(separator);
    top += kNewsCardPitch;
  }

  ops.push_back(Op(Element::NewsPanel, Shape::ClipEnd, panel, 0));
  DrawOp heading =
      Text(Element::NewsHeading, {panel.x, panel.y - 20, panel.w, 18}, L"NEWS & UPDATES", 10, true, 0xDCC8A032);
  heading.align = heading.line_align = Align::Center;
  ops.push_back(heading);
}
