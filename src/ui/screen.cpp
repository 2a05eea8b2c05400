#include "ui/screen.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/news_panel.h"
#include "ui/sprite_text.h"
#include "ui/status_line.h"

namespace {

struct Composer {
  Screen& screen;
  const ScreenInput& in;

  DrawOp& Add(Element element, Shape shape, RectF rect, Argb color = 0) {
    DrawOp op;
    op.element = element;
    op.shape = shape;
    op.rect = rect;
    op.color = color;
    screen.ops.push_back(std::move(op));
    return screen.ops.back();
  }

  DrawOp& AddText(Element element, RectF rect, std::wstring text, TextFont font, Argb color,
                  Align align = Align::Center, Align line_align = Align::Center) {
    DrawOp& op = Add(element, Shape::Text, rect, color);
    op.text = std::move(text);
    op.font = font;
    op.align = align;
    op.line_align = line_align;
    return op;
  }

  void FillAndOutline(Element element, RectF rect, Argb fill, Argb outline, float pen) {
    Add(element, Shape::Fill, rect, fill);
    Add(element, Shape::Outline, rect, outline).pen = pen;
  }

  void Background() {
    const RectF all{0, 0, kScreenWidth, kScreenHeight};
    if (in.has_picture) {
      Add(Element::Background, Shape::Picture, all);
    } else {
      Add(Element::Background, Shape::Gradient, all, 0xFF080402).color2 = 0xFF140A04;
    }
    if (in.has_video_frame) Add(Element::Video, Shape::VideoFrame, all);
    Add(Element::Vignette, Shape::Vignette, all, 0x6E000000).color2 = 0x00000000;
    Add(Element::PanelShade, Shape::Fill, {870, 0, 410, 720}, 0xB4050301);
    Add(Element::Divider, Shape::Line, {870, 0, 870, 720}, 0x64785014).pen = 1;
  }

  void Title() {
    if (in.letters && !in.letters->empty()) {
      for (const SpriteRun& run : LayoutSpriteText(kTitleText, *in.letters, 56, 0, 870, 10)) {
        Add(Element::Title, Shape::Sprite, run.rect).glyph = run.key;
      }
    } else {
      AddText(Element::Title, {0, 10, 870, 56}, kTitleText, {FontFace::Title, 32, false, false}, 0xFFDCA523,
              Align::Center, Align::Near);
    }
  }

  void TitleButtons() {
    const bool close = in.hover == HoverTarget::Close;
    const TextFont caption{FontFace::Label, 11, false, true};
    FillAndOutline(Element::CloseButton, {1244, 4, 28, 26}, close ? 0xC8B41E14 : 0x3C781E14,
                   close ? 0xFFE6503C : 0x8CB43C28, 1);
    AddText(Element::CloseButton, {1244, 4, 28, 26}, L"X", caption, close ? 0xFFFF7850 : 0xC8D25032);

    const bool minimize = in.hover == HoverTarget::Minimize;
    FillAndOutline(Element::MinimizeButton, {1212, 4, 28, 26}, minimize ? 0xA0506428 : 0x2864501E,
                   minimize ? 0xDCA0B450 : 0x648C6E32, 1);
    AddText(Element::MinimizeButton, {1212, 4, 28, 26}, L"_", caption, minimize ? 0xFFDCC864 : 0xB4AA9646);

    const bool settings = in.hover == HoverTarget::Settings;
    FillAndOutline(Element::SettingsButton, {1180, 4, 28, 26}, settings ? 0xB43C508C : 0x32283764,
                   settings ? 0xDC8296D2 : 0x645A6E96, 1);
    Add(Element::SettingsButton, Shape::Gear, {1194, 17, 8.5f, 0}, settings ? 0xFFE6D2FF : 0xB4AA96C8);

    const bool mute = in.hover == HoverTarget::Mute;
    if (in.muted) {
      FillAndOutline(Element::MuteButton, {1148, 4, 28, 26}, mute ? 0xB4641E19 : 0x3C461412,
                     mute ? 0xE6C85A32 : 0x6E8C3C23, 1);
    } else {
      FillAndOutline(Element::MuteButton, {1148, 4, 28, 26}, mute ? 0xB4324682 : 0x32283764,
                     mute ? 0xDC7896D7 : 0x645A6E96, 1);
    }
    DrawOp& speaker = Add(Element::MuteButton, Shape::Speaker, {1148, 4, 28, 26}, mute ? 0xFFFFEE87 : 0xD7CDB973);
    speaker.muted = in.muted;
  }

  void RealmStatus() {
    Add(Element::StatusDot, Shape::Ellipse, {885, 30, 10, 10}, in.online ? 0xFF50C850 : 0xFFC83C3C);
    DrawOp& text = AddText(Element::StatusText, {900, 27, 0, 0}, RealmStatusText(in.online, in.population),
                           {FontFace::Label, 10, false, true}, 0xDCC8AA50, Align::Near, Align::Near);
    text.no_width = true;
  }

  void StatusLineAndBar() {
    const StatusLine line = BuildStatusLine(in.state, in.status_text, in.progress);
    const RectF bar{10, 660, 850, 24};
    float f = line.fraction;
    if (!(f > 0)) f = 0;  // also NaN
    if (f > 1) f = 1;
    FillAndOutline(Element::ProgressBar, bar, 0xB40F0A08, 0xFF3C2814, 1);
    if (f > 0) {
      const float fw = f * bar.w;
      Add(Element::ProgressBar, Shape::Gradient, {bar.x, bar.y, fw, bar.h}, 0xFFC8961E).color2 = 0xFF8C5A0A;
      Add(Element::ProgressBar, Shape::Fill, {bar.x, bar.y, fw, 0.35f * bar.h}, 0x3CFFDC64);
    }
    if (!line.text.empty()) {
      AddText(Element::ProgressBar, {bar.x + 6, bar.y, bar.w - 80, bar.h}, line.text, {FontFace::Arial, 9, true, true},
              0xFFDCC88C, Align::Near);
    }
    if (!line.detail.empty()) {
      AddText(Element::ProgressBar, {bar.x, bar.y, bar.w - 6, bar.h}, line.detail, {FontFace::Arial, 8.5f, true, false},
              0xC8B4A064, Align::Far);
    }
  }

  struct ButtonLook {
    Argb fill, fill_hover, outline, outline_hover;
    float pen, pen_hover;
    Argb text, text_hover;
  };

  void Button(Element element, RectF rect, const wchar_t* label, TextFont font, const ButtonLook& look, bool hovered) {
    FillAndOutline(element, rect, hovered ? look.fill_hover : look.fill, hovered ? look.outline_hover : look.outline,
                   hovered ? look.pen_hover : look.pen);
    AddText(element, rect, label, font, hovered ? look.text_hover : look.text);
  }

  void Buttons() {
    const TextFont big{FontFace::Label, 16, false, true};
    const TextFont narrow{FontFace::Narrow, 10, false, false};
    const RectF play{1120, 665, 145, 42};
    const LauncherState s = in.state;
    const bool playable = IsPlayable(s);
    if (s == LauncherState::NoInstall) {
      Button(Element::PlayButton, play, L"DOWNLOAD CLIENT", narrow,
             {0xDC0A3778, 0xFF1450A0, 0xC82882D2, 0xFF50B4FF, 2, 2.5f, 0xFFAAD7FF, 0xFFD2F0FF},
             in.hover == HoverTarget::Download);
      Button(Element::LocateButton, {965, 665, 145, 42}, L"I HAVE WOW", narrow,
             {0xB4145014, 0xDC287828, 0xB43CA03C, 0xFF64DC64, 2, 2.5f, 0xDC8CDC78, 0xFFB4FFA0},
             in.hover == HoverTarget::Locate);
    } else if (playable) {
      Button(Element::PlayButton, play, L"PLAY", big,
             {0xFFB47814, 0xFFDC9B1E, 0xC8DC961E, 0xFFFFC83C, 2, 2.5f, 0xFFFFEB6E, 0xFFFFF58C},
             in.hover == HoverTarget::Play);
      Button(Element::AddonsButton, {960, 670, 100, 34}, L"ADDONS", narrow,
             {0x78143719, 0xC81E5028, 0xA0328232, 0xFF50B450, 1, 1, 0xC878BE64, 0xFFA0F082},
             in.hover == HoverTarget::Addons);
    } else {
      // Inactive while connecting, checking, updating or after an error: never hovered.
      Button(Element::PlayButton, play, L"PLAY", big,
             {0xA0503C0A, 0xA0503C0A, 0x3C3C280A, 0x3C3C280A, 2, 2, 0x78968250, 0x78968250}, false);
    }
    if (s == LauncherState::Error) {
      Button(Element::RetryButton, {10, 625, 130, 28}, L"Retry", {FontFace::Label, 11, false, true},
             {0x78501E08, 0xC878280A, 0xB48C501E, 0xFFC87828, 1, 1, 0xC8C8A03C, 0xFFFFC850},
             in.hover == HoverTarget::Retry);
    }
  }
};

}  // namespace

std::wstring RealmStatusText(bool online, std::int32_t population) {
  if (!online) return L"Offline";
  return L"Online  |  " + std::to_wstring(population) + L" players";
}

Screen ComposeScreen(const ScreenInput& input) {
  Screen screen;
  screen.ops.reserve(96);
  Composer c{screen, input};
  c.Background();
  c.Title();
  c.TitleButtons();
  c.RealmStatus();
  static const std::vector<NewsItem> kNoNews;
  ComposeNewsPanel(screen, kNewsPanelRect, input.news ? *input.news : kNoNews, input.news_scroll);
  c.StatusLineAndBar();
  c.Buttons();
  return screen;
}

bool SameDrawing(const DrawOp& a, const DrawOp& b) {
  return a.element == b.element && a.shape == b.shape && a.rect.x == b.rect.x && a.rect.y == b.rect.y &&
         a.rect.w == b.rect.w && a.rect.h == b.rect.h && a.color == b.color && a.color2 == b.color2 && a.pen == b.pen &&
         a.text == b.text && a.font.face == b.font.face && a.font.size == b.font.size &&
         a.font.points == b.font.points && a.font.bold == b.font.bold && a.align == b.align &&
         a.line_align == b.line_align && a.wrap == b.wrap && a.no_width == b.no_width && a.glyph == b.glyph &&
         a.muted == b.muted;
}

namespace {

PixelRect Whole(float left, float top, float right, float bottom, float margin) {
  auto clamp_x = [](float v) { return static_cast<int>(std::clamp(v, 0.0f, kScreenWidth)); };
  auto clamp_y = [](float v) { return static_cast<int>(std::clamp(v, 0.0f, kScreenHeight)); };
  return {clamp_x(std::floor(std::min(left, right) - margin)), clamp_y(std::floor(std::min(top, bottom) - margin)),
          clamp_x(std::ceil(std::max(left, right) + margin)), clamp_y(std::ceil(std::max(top, bottom) + margin))};
}

PixelRect Union(const PixelRect& a, const PixelRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace

PixelRect OpBounds(const DrawOp& op) {
  const RectF& r = op.rect;
  const float margin = 2 + op.pen;  // anti-aliasing and half a pen on each side
  switch (op.shape) {
    case Shape::Line: return Whole(r.x, r.y, r.w, r.h, margin);
    case Shape::Gear: return Whole(r.x - r.w, r.y - r.w, r.x + r.w, r.y + r.w, margin);
    case Shape::Text:
      // Text is clipped to its box; text without one runs right from its start.
      if (op.no_width) {
        const float line = (op.font.points ? op.font.size * 96 / 72 : op.font.size) * 2;
        return Whole(r.x, r.y, kScreenWidth, r.y + line, margin);
      }
      return Whole(r.x, r.y, r.x + r.w, r.y + r.h, margin);
    default: return Whole(r.x, r.y, r.x + r.w, r.y + r.h, margin);
  }
}

PixelRect ChangedArea(const std::vector<DrawOp>& before, const std::vector<DrawOp>& after) {
  if (before.size() != after.size()) {
    return {0, 0, static_cast<int>(kScreenWidth), static_cast<int>(kScreenHeight)};
  }
  PixelRect area;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (!SameDrawing(before[i], after[i])) area = Union(area, Union(OpBounds(before[i]), OpBounds(after[i])));
  }
  return area;
}
