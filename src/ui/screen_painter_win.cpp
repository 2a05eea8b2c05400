#include "ui/screen_painter_win.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ui/backdrop.h"
#include "ui/locked_bits_win.h"
#include "ui/window_scale.h"

namespace {

using Gdiplus::Color;
using Gdiplus::PointF;
using Gdiplus::REAL;

Gdiplus::RectF ToRect(const RectF& r) { return Gdiplus::RectF(r.x, r.y, r.w, r.h); }

std::unique_ptr<Gdiplus::Font> MakeFont(const TextFont& f, const LauncherFonts* fonts) {
  INT style = f.bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  // Points are design points (96 pixels to the inch); GDI+ would take the
  // monitor's DPI for them and scale twice with the transform.
  const float size = f.points ? f.size * 96 / 72 : f.size;
  const Gdiplus::Unit unit = Gdiplus::UnitPixel;
  const Gdiplus::FontFamily* family = fonts ? fonts->Family(f.face) : nullptr;
  if (family) {
    // A private family makes no bold of its own: a font of a style the file
    // lacks fails outright, so such text is drawn in the style there is.
    if (!family->IsStyleAvailable(style)) style = Gdiplus::FontStyleRegular;
    return std::unique_ptr<Gdiplus::Font>(new Gdiplus::Font(family, size, style, unit));
  }
  // Without the slot's font: the system's "Arial" (GDI+ itself falls back to
  // the generic sans-serif family where "Arial" is missing).
  return std::unique_ptr<Gdiplus::Font>(new Gdiplus::Font(L"Arial", size, style, unit));
}

Gdiplus::StringAlignment ToAlignment(Align a) {
  switch (a) {
    case Align::Center: return Gdiplus::StringAlignmentCenter;
    case Align::Far: return Gdiplus::StringAlignmentFar;
    default: return Gdiplus::StringAlignmentNear;
  }
}

void DrawText(Gdiplus::Graphics& g, const DrawOp& op, const LauncherFonts* fonts) {
  if (op.text.empty()) return;
  const auto font = MakeFont(op.font, fonts);
  Gdiplus::SolidBrush brush{Color(op.color)};
  Gdiplus::StringFormat format;
  format.SetAlignment(ToAlignment(op.align));
  format.SetLineAlignment(ToAlignment(op.line_align));
  if (op.wrap) format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
  const INT length = static_cast<INT>(op.text.size());
  if (op.no_width) {
    g.DrawString(op.text.c_str(), length, font.get(), PointF(op.rect.x, op.rect.y), &format, &brush);
  } else {
    g.DrawString(op.text.c_str(), length, font.get(), ToRect(op.rect), &format, &brush);
  }
}

// A six-toothed wheel with a round hole (alternate fill leaves the hole empty).
void DrawGear(Gdiplus::Graphics& g, REAL cx, REAL cy, REAL r, Argb color) {
  const REAL ri = 0.65f * r, rh = 0.3f * r;
  const REAL to_rad = 3.1415927f / 180.0f;
  Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
  path.StartFigure();
  for (int i = 0; i < 6; ++i) {
    const REAL a = 60.0f * static_cast<REAL>(i);
    const REAL a1 = (a - 16) * to_rad, a2 = (a + 16) * to_rad;
    path.AddLine(cx + ri * std::cos(a1), cy + ri * std::sin(a1), cx + r * std::cos(a1), cy + r * std::sin(a1));
    path.AddLine(cx + r * std::cos(a1), cy + r * std::sin(a1), cx + r * std::cos(a2), cy + r * std::sin(a2));
    path.AddLine(cx + r * std::cos(a2), cy + r * std::sin(a2), cx + ri * std::cos(a2), cy + ri * std::sin(a2));
    path.AddArc(cx - ri, cy - ri, 2 * ri, 2 * ri, a + 16, 28);
  }
  path.CloseFigure();
  path.AddEllipse(cx - rh, cy - rh, 2 * rh, 2 * rh);
  Gdiplus::SolidBrush brush{Color(color)};
  g.FillPath(&brush, &path);
}

void DrawSpeaker(Gdiplus::Graphics& g, const RectF& r, Argb ink, bool muted) {
  const REAL cy = r.y + 0.5f * r.h, cx = r.x + 0.38f * r.w, s = 0.185f * r.h;
  Gdiplus::SolidBrush brush{Color(ink)};
  g.FillRectangle(&brush, cx - 1.6f * s, cy - 0.55f * s, 0.85f * s, 1.1f * s);
  const PointF cone[] = {{cx - 0.75f * s, cy - 0.55f * s},
                         {cx - 0.75f * s, cy + 0.55f * s},
                         {cx + 0.05f * s, cy + 1.05f * s},
                         {cx + 0.05f * s, cy - 1.05f * s}};
  g.FillPolygon(&brush, cone, 4);
  if (muted) {
    Gdiplus::Pen cross(Color(0xFFDA3E3E), 1.85f);
    g.DrawLine(&cross, cx + 0.25f * s, cy - 0.62f * s, cx + s, cy + 0.62f * s);
    g.DrawLine(&cross, cx + s, cy - 0.62f * s, cx + 0.25f * s, cy + 0.62f * s);
  } else {
    Gdiplus::Pen inner(Color(ink), 1.45f), outer(Color(ink), 1.2f);
    g.DrawArc(&inner, cx - 1.05f * s, cy - 1.05f * s, 2.1f * s, 2.1f * s, -50.0f, 100.0f);
    g.DrawArc(&outer, cx - 1.6f * s, cy - 1.6f * s, 3.2f * s, 3.2f * s, -50.0f, 100.0f);
  }
}

void DrawVignette(Gdiplus::Graphics& g, const DrawOp& op) {
  Gdiplus::GraphicsPath path;
  path.AddRectangle(ToRect(op.rect));
  Gdiplus::PathGradientBrush brush(&path);
  brush.SetCenterPoint(PointF(op.rect.x + op.rect.w / 2, op.rect.y + op.rect.h / 2));
  brush.SetCenterColor(Color(op.color2));
  Color surround(op.color);
  INT count = 1;
  brush.SetSurroundColors(&surround, &count);
  g.FillRectangle(&brush, ToRect(op.rect));
}

}  // namespace

namespace {

// The smooth layers under everything: kept at design size whatever the scale
// (the picture and video have no finer detail), so a new video frame costs
// the same at every scale. Sharp lines (the divider, the panel's outline) are
// drawn with the front at the window's size.
bool IsBackdrop(const DrawOp& op) {
  switch (op.element) {
    case Element::Background:
    case Element::Video:
    case Element::Vignette:
    case Element::PanelShade: return true;
    case Element::NewsPanel: return op.shape == Shape::Fill;
    default: return false;
  }
}

// The layers of the backdrop that never change: everything but the picture and the video.
bool IsShade(const DrawOp& op) {
  return IsBackdrop(op) && op.element != Element::Background && op.element != Element::Video;
}

void DrawOne(Gdiplus::Graphics& g, const DrawOp& op, const PaintAssets& assets) {
  switch (op.shape) {
    case Shape::Picture:
      if (assets.picture) g.DrawImage(assets.picture, ToRect(op.rect));
      break;
    case Shape::VideoFrame:
      if (assets.video_frame) g.DrawImage(assets.video_frame, ToRect(op.rect));
      break;
    case Shape::Gradient: {
      Gdiplus::LinearGradientBrush brush(PointF(op.rect.x, op.rect.y), PointF(op.rect.x, op.rect.y + op.rect.h),
                                         Color(op.color), Color(op.color2));
      brush.SetWrapMode(Gdiplus::WrapModeTile);
      g.FillRectangle(&brush, ToRect(op.rect));
      break;
    }
    case Shape::Vignette: DrawVignette(g, op); break;
    case Shape::Fill: {
      Gdiplus::SolidBrush brush{Color(op.color)};
      g.FillRectangle(&brush, ToRect(op.rect));
      break;
    }
    case Shape::Outline: {
      Gdiplus::Pen pen(Color(op.color), op.pen);
      g.DrawRectangle(&pen, ToRect(op.rect));
      break;
    }
    case Shape::Line: {
      Gdiplus::Pen pen(Color(op.color), op.pen);
      g.DrawLine(&pen, op.rect.x, op.rect.y, op.rect.w, op.rect.h);
      break;
    }
    case Shape::Ellipse: {
      Gdiplus::SolidBrush brush{Color(op.color)};
      g.FillEllipse(&brush, ToRect(op.rect));
      break;
    }
    case Shape::Text: DrawText(g, op, assets.fonts); break;
    case Shape::Gear: DrawGear(g, op.rect.x, op.rect.y, op.rect.w, op.color); break;
    case Shape::Speaker: DrawSpeaker(g, op.rect, op.color, op.muted); break;
    case Shape::Sprite:
      if (assets.fonts) {
        const SpriteFont& letters = assets.fonts->Letters(assets.scale);
        const auto it = letters.find(op.glyph);
        if (it != letters.end()) g.DrawImage(it->second.get(), ToRect(op.rect));
      }
      break;
    case Shape::ClipBegin: g.SetClip(ToRect(op.rect)); break;
    case Shape::ClipEnd: g.ResetClip(); break;
  }
}

bool SameOps(const std::vector<DrawOp>& a, const std::vector<DrawOp>& b, bool (*same)(const DrawOp&, const DrawOp&)) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

std::unique_ptr<Gdiplus::Bitmap> NewLayer(const WindowSize& size, Gdiplus::PixelFormat format) {
  return std::unique_ptr<Gdiplus::Bitmap>(new Gdiplus::Bitmap(size.width, size.height, format));
}

// The device pixels that hold the design pixels of `area` at `scale`.
PixelRect DeviceArea(const PixelRect& area, float scale, const WindowSize& size) {
  return {std::max(0, static_cast<int>(std::floor(static_cast<float>(area.left) * scale))),
          std::max(0, static_cast<int>(std::floor(static_cast<float>(area.top) * scale))),
          std::min(size.width, static_cast<int>(std::ceil(static_cast<float>(area.right) * scale))),
          std::min(size.height, static_cast<int>(std::ceil(static_cast<float>(area.bottom) * scale)))};
}

Gdiplus::Rect ToDevice(const PixelRect& area, float scale, const WindowSize& size) {
  const PixelRect d = DeviceArea(area, scale, size);
  return Gdiplus::Rect(d.left, d.top, d.right - d.left, d.bottom - d.top);
}

PixelRect Union(const PixelRect& a, const PixelRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Limits drawing to the device rectangle `clip` and, given, to the design
// rectangle `inner`, and leaves the design-to-device transform in place. A
// clip is kept in device pixels whatever the transform is later.
void SetLayerClip(Gdiplus::Graphics& g, const Gdiplus::Rect& clip, float scale, const RectF* inner = nullptr) {
  g.ResetTransform();
  g.SetClip(clip);
  g.ScaleTransform(scale, scale);
  if (inner) g.SetClip(ToRect(*inner), Gdiplus::CombineModeIntersect);
}

// Draws `ops` onto a transparent layer, within `area` only (cleared first).
// Text is anti-aliased in grey: ClearType needs the opaque background that a
// layer does not have.
void DrawLayer(Gdiplus::Bitmap& layer, const std::vector<DrawOp>& ops, const PaintAssets& assets, const PixelRect& area,
               float scale) {
  Gdiplus::Graphics g(&layer);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
  const WindowSize size{static_cast<int>(layer.GetWidth()), static_cast<int>(layer.GetHeight())};
  const Gdiplus::Rect clip = ToDevice(area, scale, size);
  SetLayerClip(g, clip, 1);
  g.Clear(Color(0, 0, 0, 0));  // within the clip
  SetLayerClip(g, clip, scale);
  for (const DrawOp& op : ops) {
    switch (op.shape) {
      case Shape::ClipBegin: SetLayerClip(g, clip, scale, &op.rect); break;
      case Shape::ClipEnd: SetLayerClip(g, clip, scale); break;
      default: {
        // Operations wholly outside the area would draw nothing there.
        const PixelRect b = OpBounds(op);
        if (b.right > area.left && b.left < area.right && b.bottom > area.top && b.top < area.bottom) {
          DrawOne(g, op, assets);
        }
      }
    }
  }
}

constexpr PixelRect kAll{0, 0, static_cast<int>(kScreenWidth), static_cast<int>(kScreenHeight)};

}  // namespace

struct ScreenPainter::Cache {
  std::vector<DrawOp> shade_ops;              // what `shades` was drawn from
  std::unique_ptr<Gdiplus::Bitmap> shades;    // premultiplied: vignette, panel shade, divider, panel
  std::unique_ptr<Gdiplus::Bitmap> backdrop;  // picture or video frame with the shades over it
  const void* source = nullptr;               // what the backdrop shows
  unsigned generation = 0;
  bool backdrop_valid = false;
  std::vector<DrawOp> front_ops;  // what `front` was drawn from
  const LauncherFonts* front_fonts = nullptr;
  std::unique_ptr<Gdiplus::Bitmap> front;   // premultiplied: everything else
  std::unique_ptr<Gdiplus::Bitmap> screen;  // backdrop with the front over it: what a paint copies
  PixelRect stale;                          // device pixels of `screen` to compose again
};

ScreenPainter::ScreenPainter() : cache_(new Cache) {}
ScreenPainter::~ScreenPainter() = default;

void PrepareGraphics(Gdiplus::Graphics& g) {
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
}

void ScreenPainter::PaintDirect(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets) {
  g.ScaleTransform(assets.scale, assets.scale);
  for (const DrawOp& op : screen.ops) DrawOne(g, op, assets);
}

void ScreenPainter::Paint(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets) {
  Cache& c = *cache_;
  const WindowSize size = ScaledWindowSize(assets.scale), design = ScaledWindowSize(1);
  // A new monitor's scale: the layers of the window's size start again; the
  // shades and the backdrop stay at design size.
  if (c.front && static_cast<int>(c.front->GetWidth()) != size.width) {
    c.front.reset();
    c.screen.reset();
  }
  std::vector<DrawOp> shade_ops, front_ops;
  bool video = false;
  for (const DrawOp& op : screen.ops) {
    if (IsShade(op)) shade_ops.push_back(op);
    if (!IsBackdrop(op)) front_ops.push_back(op);
    if (op.element == Element::Video && assets.video_frame) video = true;
  }

  if (!c.shades || !SameOps(shade_ops, c.shade_ops, SameDrawing)) {
    if (!c.shades) c.shades = NewLayer(design, PixelFormat32bppPARGB);
    DrawLayer(*c.shades, shade_ops, assets, kAll, 1);
    c.shade_ops = std::move(shade_ops);
    c.backdrop_valid = false;
  }

  // The video frame is opaque and covers the window: under it the picture is never seen.
  const void* source = video ? static_cast<const void*>(assets.video_frame) : static_cast<const void*>(assets.picture);
  if (!c.backdrop_valid || c.source != source || (video && c.generation != assets.frame_generation)) {
    if (!c.backdrop) c.backdrop = NewLayer(design, PixelFormat32bppRGB);
    bool drawn = false;
    if (video) {
      LockedBits from(*assets.video_frame, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB);
      LockedBits to(*c.backdrop, Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB);
      if (from.ok() && to.ok()) {
        ScaleBilinear(from.const_view(), to.view());
        drawn = true;
      }
    }
    if (!drawn) {
      Gdiplus::Graphics layer(c.backdrop.get());
      PrepareGraphics(layer);
      for (const DrawOp& op : screen.ops) {
        if (op.element == Element::Background) DrawOne(layer, op, assets);
      }
    }
    LockedBits shades(*c.shades, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB);
    LockedBits to(*c.backdrop, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB);
    if (shades.ok() && to.ok()) CompositePremultiplied(shades.const_view(), to.view());
    c.source = source;
    c.generation = assets.frame_generation;
    c.backdrop_valid = true;
    c.stale = {0, 0, size.width, size.height};
  }

  // The front is drawn again only where it changed: a hover redraws its
  // button, a progress report the status line.
  const PixelRect changed = !c.front || c.front_fonts != assets.fonts ? kAll : ChangedArea(c.front_ops, front_ops);
  if (!changed.Empty()) {
    if (!c.front) c.front = NewLayer(size, PixelFormat32bppPARGB);
    DrawLayer(*c.front, front_ops, assets, changed, assets.scale);
    c.front_ops = std::move(front_ops);
    c.front_fonts = assets.fonts;
    c.stale = Union(c.stale, DeviceArea(changed, assets.scale, size));
  }

  // The screen is composed again where the backdrop or the front changed:
  // all of it for a new video frame, a button's area for a hover.
  if (!c.screen) {
    c.screen = NewLayer(size, PixelFormat32bppRGB);
    c.stale = {0, 0, size.width, size.height};
  }
  if (!c.stale.Empty()) {
    const PixelRect& a = c.stale;
    LockedBits from(*c.backdrop, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB);
    LockedBits front(*c.front, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB);
    LockedBits to(*c.screen, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB);
    if (from.ok() && front.ok() && to.ok()) {
      const ConstPixelView src = from.const_view(), over = front.const_view();
      const PixelView dst = to.view();
      if (src.width == dst.width && src.height == dst.height) {
        const auto at = [&a](auto view) {  // the area alone, as a view of its own
          view.data += a.top * view.stride + a.left * 4;
          view.width = a.right - a.left;
          view.height = a.bottom - a.top;
          return view;
        };
        const ConstPixelView under = at(src);
        const PixelView out = at(dst);
        for (int y = 0; y < out.height; ++y) {
          std::memcpy(out.data + y * out.stride, under.data + y * under.stride, static_cast<size_t>(out.width) * 4);
        }
        CompositePremultiplied(at(over), out);
      } else {
        ScaleUnderLayer(src, over, dst, a);
      }
      c.stale = {};
    }
  }
  g.DrawImage(c.screen.get(), 0, 0, size.width, size.height);
}
