#include "ui/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <tuple>

#include "app/news_thread.h"
#include "data/news.h"
#include "fake_window.h"
#include "test_util.h"
#include "ui/backdrop.h"
#include "ui/news_panel.h"
#include "ui/window_scale.h"

namespace {

using S = LauncherState;
using H = HoverTarget;

std::vector<DrawOp> OpsOf(const Screen& s, Element e, Shape shape) {
  std::vector<DrawOp> out;
  std::copy_if(s.ops.begin(), s.ops.end(), std::back_inserter(out),
               [&](const DrawOp& op) { return op.element == e && op.shape == shape; });
  return out;
}

// Which buttons each state shows ("L"ocate, "A"ddons, "R"etry), and PLAY lit only where it can start the game.
TEST(Screen, ButtonsPerStateAndHover) {
  const std::tuple<S, H, const wchar_t*, Argb, std::string> cases[] = {
      {S::Connecting, H::Play, L"PLAY", 0xA0503C0A, ""},  // never hovered
      {S::Error, H::Retry, L"PLAY", 0xA0503C0A, "R"},
      {S::Ready, H::None, L"PLAY", 0xFFB47814, "A"},
      {S::Ready, H::Play, L"PLAY", 0xFFDC9B1E, "A"},
      {S::Offline, H::Addons, L"PLAY", 0xFFB47814, "A"},
      {S::NoInstall, H::Download, L"DOWNLOAD CLIENT", 0xFF1450A0, "L"},
  };
  for (const auto& [state, hover, play_label, play_fill, want] : cases) {
    ScreenInput in;
    in.state = state;
    in.hover = hover;
    const Screen s = ComposeScreen(in);
    std::string buttons;
    if (!OpsOf(s, Element::LocateButton, Shape::Fill).empty()) buttons += "L";
    if (!OpsOf(s, Element::AddonsButton, Shape::Fill).empty()) buttons += "A";
    if (!OpsOf(s, Element::RetryButton, Shape::Fill).empty()) buttons += "R";
    EXPECT_EQ(OpsOf(s, Element::PlayButton, Shape::Text).at(0).text, play_label) << static_cast<int>(state);
    EXPECT_EQ(OpsOf(s, Element::PlayButton, Shape::Fill).at(0).color, play_fill) << static_cast<int>(state);
    EXPECT_EQ(buttons, want) << static_cast<int>(state);
  }
}

// The bar never overruns, and every state says what is going on.
TEST(Screen, ProgressBarPerState) {
  using Ph = UpdaterPhase;
  const UpdaterProgress verifying{Ph::Verifying, "Data/a.MPQ", 3, 12, 0, 0, 0, 0, ""},
      download{Ph::Downloading, "b", 0, 0, 512, 2048, 1572864.0, 42, ""};
  UpdaterProgress overrun = download, unknown_size = download, extracting = download;
  overrun.bytes_done = 9000;
  unknown_size.bytes_total = 0;
  extracting.phase = Ph::Extracting;
  // state, progress, status text, fill width, the bar's texts with " | " between
  const std::tuple<S, UpdaterProgress, std::wstring, float, std::wstring> cases[] = {
      {S::Verifying, verifying, L"", 212.5f, L"Verifying: Data/a.MPQ"},
      {S::Updating, download, L"", 212.5f, L"Downloading: b | 1.5 MB/s  42s"},
      {S::Updating, overrun, L"", 850, L"Downloading: b | 1.5 MB/s  42s"},
      {S::Updating, unknown_size, L"", 0, L"Downloading: b | 1.5 MB/s  42s"},
      {S::Updating, extracting, L"", 0.99f * 850, L"Extracting: b"},
      {S::Error, {}, L"", 0, L"Error"},
      {S::Error, {}, L"Cannot reach update server.", 0, L"Cannot reach update server."},
      {S::Offline, {}, L"Update server unreachable.", 850, L"Offline mode | Update server unreachable."},
  };
  for (const auto& [state, progress, status_text, fill_width, want] : cases) {
    ScreenInput in;
    in.state = state;
    in.progress = progress;
    in.status_text = status_text;
    const Screen s = ComposeScreen(in);
    float width = 0;
    for (const auto& fill : OpsOf(s, Element::ProgressBar, Shape::Gradient)) width += fill.rect.w;
    std::wstring shown;
    for (const auto& t : OpsOf(s, Element::ProgressBar, Shape::Text)) shown += (shown.empty() ? L"" : L" | ") + t.text;
    EXPECT_FLOAT_EQ(width, fill_width) << shown;
    EXPECT_EQ(shown, want);
  }
}

TEST(Screen, RealmStatusLine) {
  ScreenInput in;
  in.online = true;
  EXPECT_EQ(OpsOf(ComposeScreen(in), Element::StatusText, Shape::Text)[0].text, L"Online  |  0 players");
  in.online = false;
  EXPECT_EQ(OpsOf(ComposeScreen(in), Element::StatusText, Shape::Text)[0].text, L"Offline");
}

// DPI and work area -> scale: DPI / 96 lowered to a step at which 1280 x 720 times it fits.
TEST(WindowScale, StepThatFits) {
  const std::tuple<std::uint32_t, int, int, float> cases[] = {
      {96, 1920, 1040, 1},  {120, 1920, 1040, 1.25f}, {144, 1920, 1040, 1.25f},  // 1.5: 1080 > 1040
      {192, 3840, 2110, 2}, {192, 2560, 1400, 1.75f}, {168, 3840, 2160, 1.75f}, {110, 3840, 2160, 1},
      {288, 3840, 2160, 3}, {480, 7680, 4320, 3},     {0, 3840, 2160, 1},       {481, 7680, 4320, 1},
      {192, 1024, 700, 1},  // smaller than the window even at 1: as at 1
  };
  for (const auto& [dpi, width, height, scale] : cases) {
    EXPECT_EQ(WindowScale(dpi, width, height), scale) << dpi << " " << width << "x" << height;
  }
}

// The edge pixels of PLAY and the close button, as drawn at each scale, hit them; the next ones out do not.
TEST(WindowScale, HitTestAtTheEdges) {
  for (const float scale : {1.0f, 1.5f, 2.0f}) {
    // A control of design cells [left, right] covers device pixels from ceil(left * s) to ceil((right + 1) * s) - 1.
    const auto first = [&](int left) { return static_cast<int>(std::ceil(static_cast<float>(left) * scale)); };
    const auto last = [&](int right) { return first(right + 1) - 1; };
    const auto click = [&](int x, int y) { return ClickTargetAt(ToDesign(x, scale), ToDesign(y, scale), S::Ready); };
    const auto hover = [&](int x, int y) { return HoverTargetAt(ToDesign(x, scale), ToDesign(y, scale), S::Ready); };
    const std::tuple<int, int, H, H> cases[] = {
        {first(1120), first(665), H::Play, H::Play},     {last(1265), last(707), H::Play, H::Play},
        {first(1120) - 1, first(665), H::None, H::None}, {last(1265), last(707) + 1, H::None, H::None},
        {first(1245), first(5), H::Close, H::Close},     {last(1270), last(30), H::Close, H::Close},
        {first(1244), first(4), H::None, H::Close},      {last(1271) + 1, last(30), H::None, H::None},
    };
    for (const auto& [x, y, clicked, hovered] : cases) {
      EXPECT_EQ(click(x, y), clicked) << scale << " at " << x << "," << y;
      EXPECT_EQ(hover(x, y), hovered) << scale << " at " << x << "," << y;
    }
    EXPECT_TRUE(IsCaptionPoint(ToDesign(first(600), scale), ToDesign(last(54), scale))) << scale;
    EXPECT_FALSE(IsCaptionPoint(ToDesign(first(600), scale), ToDesign(last(54) + 1, scale))) << scale;
  }
}

// A picture linear in x and y scaled up stays linear (within rounding) at every output pixel, the
// threaded lower half included; an opaque front pixel hides it, a clear one leaves it.
TEST(Backdrop, ScaleUnderLayerIsBilinearWithTheFrontOver) {
  const int sw = 40, sh = 30, dw = 2000, dh = 1100;  // over 2 million pixels: two halves
  std::vector<std::uint8_t> src(sw * sh * 4), layer(std::size_t{dw} * dh * 4, 0), out(layer.size());
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) src[(y * sw + x) * 4] = static_cast<std::uint8_t>(3 * x + 2 * y);
  std::fill_n(&layer[(std::size_t{700} * dw + 5) * 4], 4, 0xFF);  // one opaque white pixel
  const auto scale = [&](std::vector<std::uint8_t>& to, PixelRect area) {
    ScaleUnderLayer({src.data(), sw, sh, sw * 4}, {layer.data(), dw, dh, dw * 4}, {to.data(), dw, dh, dw * 4}, area);
  };
  scale(out, {0, 0, dw, dh});
  const auto at = [](int i, int in, int n) { return std::clamp((i + 0.5) * in / n - 0.5, 0.0, in - 1.0); };
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; x += 37) {
      const double want = 3 * at(x, sw, dw) + 2 * at(y, sh, dh);
      ASSERT_NEAR(out[(static_cast<std::size_t>(y) * dw + x) * 4], want, 1.01) << x << "," << y;
    }
  }
  EXPECT_EQ(out[(std::size_t{700} * dw + 5) * 4 + 1], 0xFF);
  EXPECT_EQ(out[(std::size_t{700} * dw + 6) * 4 + 1], 0);
  // Within an area only: the same pixels there, none touched outside.
  std::vector<std::uint8_t> part(out.size(), 7);
  scale(part, {100, 650, 300, 750});
  for (const std::size_t i : {std::size_t{700} * dw + 100, std::size_t{749} * dw + 299, std::size_t{700} * dw + 5}) {
    EXPECT_EQ(part[i * 4], i % dw == 5 ? 7 : out[i * 4]) << i;
  }
  EXPECT_EQ(part[(std::size_t{650} * dw + 300) * 4], 7);
}

// Five entries: toward the player to 2 and no further, back to 0; a list that fits never scrolls.
TEST(NewsPanel, ScrollStopsAtBothEnds) {
  std::int32_t s = 0;
  std::vector<std::int32_t> seen;
  for (int delta : {-120, -120, -120, 120, 120, 120}) seen.push_back(s = ScrollNews(s, delta, 5));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 2, 1, 0, 0}));
  EXPECT_EQ(ScrollNews(7, -120, 10), 7);
  EXPECT_EQ(ScrollNews(0, -120, 3), 0);
}

// Text as UTF-8 where it is valid, else a character per byte; whether a list was read at all, below.
TEST(News, ParsesEntriesAndDecodesText) {
  const auto news =
      ParseNews("[{\"title\":\"Sk\\u00e6l\",\"body\":\"Caf\xC3\xA9\"}, 7, {\"title\":5}, {\"body\":\"caf\xE9\"}]");
  ASSERT_EQ(news.size(), 4u);
  EXPECT_EQ(news[0].body, L"Caf\u00e9");
  EXPECT_EQ(news[2].title, L"");  // not a string
  EXPECT_EQ(news[3].body, L"caf\u00e9");
}

// A failed or unreadable reply keeps the list shown; a good one is cached and swapped in whole.
TEST(NewsThread, CacheAndHandOver) {
  // reply ok, body, cached, entries shown (1: the earlier one-entry list stays)
  const std::tuple<bool, std::string, bool, size_t> cases[] = {
      {false, "[]", false, 1}, {true, "", false, 1},      {true, "[]", true, 0},
      {true, "{}", true, 0},   {true, "<html>", true, 1}, {true, R"([{"title":"a"},{}])", true, 2},
  };
  for (const auto& [ok, body, cached, items] : cases) {
    testutil::TempDir dir;
    FakeWindow window;
    window.SetNews({NewsItem{}});
    HttpResponse reply;
    reply.ok = ok;
    reply.body = body;
    RunNewsThread(
        window, [&] { return reply; }, (dir / "news.json").wstring());
    EXPECT_EQ(testutil::ReadBytes(dir / "news.json"), cached ? body : "") << body;
    EXPECT_EQ(window.News()->size(), items) << body;
    EXPECT_EQ(window.repaints, cached && body != "<html>" ? 1 : 0) << body;
  }
}

}  // namespace
