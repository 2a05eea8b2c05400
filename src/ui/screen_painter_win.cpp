#include "ui/screen_painter_win.h"

#include <cmath>

namespace {

using Gdiplus::Color;
using Gdiplus::PointF;
using Gdiplus::REAL;

Gdiplus::RectF ToRect(const RectF& r) { return Gdiplus::RectF(r.x, r.y, r.w, r.h); }

std::unique_ptr<Gdiplus::Font> MakeFont(const TextFont& f, const LauncherFonts* fonts) {
  const INT style = f.bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  const Gdiplus::Unit unit = f.points ? Gdiplus::UnitPoint : Gdiplus::UnitPixel;
  const Gdiplus::FontFamily* family = fonts ? fonts->Family(f.face) : nullptr;
  if (family) return std::unique_ptr<Gdiplus::Font>(new Gdiplus::Font(family, f.size, style, unit));
  // Without the slot's font: the system's "Arial" (GDI+ itself falls back to
  // the generic sans-serif family where "Arial" is missing).
  return std::unique_ptr<Gdiplus::Font>(new Gdiplus::Font(L"Arial", f.size, style, unit));
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

struct ScreenPainter::Cache {};

ScreenPainter::ScreenPainter() : cache_(new Cache) {}
ScreenPainter::~ScreenPainter() = default;

void PrepareGraphics(Gdiplus::Graphics& g) {
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
}

void ScreenPainter::Paint(Gdiplus::Graphics& g, const Screen& screen, const PaintAssets& assets) {
  for (const DrawOp& op : screen.ops) {
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
          const auto it = assets.fonts->Letters().find(op.glyph);
          if (it != assets.fonts->Letters().end()) g.DrawImage(it->second.get(), ToRect(op.rect));
        }
        break;
      case Shape::ClipBegin: g.SetClip(ToRect(op.rect)); break;
      case Shape::ClipEnd: g.ResetClip(); break;
    }
  }
}
