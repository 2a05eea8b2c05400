// The main screen as a description: what to draw where, in drawing order,
// computed from one snapshot of what the window shows. Portable and pure, so
// every state's screen is tested natively; screen_painter_win draws it with
// GDI+. Coordinates are window pixels (1280 x 720), colours 32-bit ARGB.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "data/news.h"
#include "ui/hit_areas.h"
#include "update/updater_progress.h"

using Argb = std::uint32_t;

struct RectF {
  float x = 0, y = 0, w = 0, h = 0;
};

// Which family a text uses. Title, Label and Narrow are the loaded font
// slots, each falling back to "Arial" when its font did not load; Arial is
// the system family itself.
enum class FontFace : std::uint8_t { Title, Label, Narrow, Arial };

struct TextFont {
  FontFace face = FontFace::Arial;
  float size = 0;
  bool points = false;  // size in points, else in pixels
  bool bold = false;
};

enum class Align : std::uint8_t { Near, Center, Far };

// What an operation belongs to; tests and the painter's layer cache go by it.
enum class Element : std::uint8_t {
  Background,
  Video,
  Vignette,
  PanelShade,
  Divider,
  Title,
  CloseButton,
  MinimizeButton,
  SettingsButton,
  MuteButton,
  StatusDot,
  StatusText,
  NewsPanel,
  NewsCard,
  NewsHeading,
  ProgressBar,
  PlayButton,  // PLAY, or DOWNLOAD CLIENT in NoInstall
  LocateButton,
  AddonsButton,
  RetryButton,
};

enum class Shape : std::uint8_t {
  Picture,     // the background picture stretched to rect
  VideoFrame,  // the current video frame stretched to rect
  Gradient,    // vertical linear gradient over rect, color at the top, color2 at the bottom
  Vignette,    // path gradient over rect: color2 at the centre, color at the edges
  Fill,        // rect filled with color
  Outline,     // rect outlined with a pen of width `pen`
  Line,        // from (rect.x, rect.y) to (rect.w, rect.h), pen width `pen`
  Ellipse,     // ellipse in rect, filled
  Text,        // text in rect with font, colour and alignment
  Gear,        // six-toothed wheel, centre (rect.x, rect.y), outer radius rect.w
  Speaker,     // speaker glyph in rect; `muted` adds the cross
  Sprite,      // glyph `glyph` of the letters set stretched to rect
  ClipBegin,   // limit drawing to rect
  ClipEnd,     // lift the limit
};

struct DrawOp {
  Element element = Element::Background;
  Shape shape = Shape::Fill;
  RectF rect;
  Argb color = 0;
  Argb color2 = 0;
  float pen = 0;
  // Text
  std::wstring text;
  TextFont font;
  Align align = Align::Near;       // horizontal
  Align line_align = Align::Near;  // vertical
  bool wrap = false;               // wrap at the box, cut with an ellipsis
  bool no_width = false;           // start at (rect.x, rect.y), no layout box
  // Sprite / Speaker
  wchar_t glyph = 0;
  bool muted = false;
};

struct Screen {
  std::vector<DrawOp> ops;
};

// The pixel size of each loaded glyph image of a sprite set, by its (lower-case) character.
struct GlyphSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};
using GlyphSizes = std::map<wchar_t, GlyphSize>;

// One snapshot of everything the screen depends on.
struct ScreenInput {
  LauncherState state = LauncherState::Connecting;
  HoverTarget hover = HoverTarget::None;
  bool muted = false;
  std::wstring status_text;
  UpdaterProgress progress;
  bool online = false;
  std::int32_t population = 0;
  const std::vector<NewsItem>* news = nullptr;
  std::int32_t news_scroll = 0;
  bool has_picture = false;
  bool has_video_frame = false;
  const GlyphSizes* letters = nullptr;  // sizes of the title's glyph images; none: title as text
};

constexpr float kScreenWidth = 1280, kScreenHeight = 720;
constexpr RectF kNewsPanelRect{880, 60, 380, 560};
constexpr const wchar_t* kTitleText = L"OSTRELWOW";

// Whether two operations draw the same pixels (given the same images and fonts).
bool SameDrawing(const DrawOp& a, const DrawOp& b);

// A rectangle of whole pixels, right and bottom exclusive.
struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
};

// Every pixel an operation may touch, anti-aliased edges included.
PixelRect OpBounds(const DrawOp& op);

// The area outside which `before` and `after` draw the same pixels: the union
// of the bounds of the operations that differ (the whole screen when the
// lists differ in length); empty when they are the same.
PixelRect ChangedArea(const std::vector<DrawOp>& before, const std::vector<DrawOp>& after);

// The whole screen, in drawing order: background, title strip, realm status,
// news panel, status line, buttons.
Screen ComposeScreen(const ScreenInput& input);

// The realm status line next to the dot: "Online  |  128 players" or "Offline".
std::wstring RealmStatusText(bool online, std::int32_t population);
