#include "ui/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <tuple>
#include <vector>

#include "app/news_thread.h"
#include "data/news.h"
#include "fake_window.h"
#include "test_util.h"
#include "ui/news_panel.h"

namespace {

using S = LauncherState;
using H = HoverTarget;

std::vector<DrawOp> OpsOf(const Screen& s, Element e, Shape shape) {
  std::vector<DrawOp> out;
  std::copy_if(s.ops.begin(), s.ops.end(), std::back_inserter(out),
               [&](const DrawOp& op) { return op.element == e && op.shape == shape; });
  return out;
}

bool Has(const Screen& s, Element e) {
  return std::any_of(s.ops.begin(), s.ops.end(), [e](const DrawOp& op) { return op.element == e; });
}

// Which buttons each state shows, and PLAY lit only where it can start the game.
TEST(Screen, ButtonsPerStateAndHover) {
  const struct {
    S state;
    H hover;
    const wchar_t* play_label;
    Argb play_fill;
    bool locate, addons, retry;
  } cases[] = {
      {S::Connecting, H::Play, L"PLAY", 0xA0503C0A, false, false, false},  // never hovered
      {S::Verifying, H::None, L"PLAY", 0xA0503C0A, false, false, false},
      {S::Error, H::Retry, L"PLAY", 0xA0503C0A, false, false, true},
      {S::Ready, H::None, L"PLAY", 0xFFB47814, false, true, false},
      {S::Ready, H::Play, L"PLAY", 0xFFDC9B1E, false, true, false},
      {S::Offline, H::Addons, L"PLAY", 0xFFB47814, false, true, false},
      {S::NoInstall, H::Download, L"DOWNLOAD CLIENT", 0xFF1450A0, true, false, false},
  };
  for (const auto& c : cases) {
    ScreenInput in;
    in.state = c.state;
    in.hover = c.hover;
    const Screen s = ComposeScreen(in);
    SCOPED_TRACE(static_cast<int>(c.state));
    EXPECT_EQ(OpsOf(s, Element::PlayButton, Shape::Text).at(0).text, c.play_label);
    EXPECT_EQ(OpsOf(s, Element::PlayButton, Shape::Fill).at(0).color, c.play_fill);
    EXPECT_EQ(Has(s, Element::LocateButton), c.locate);
    EXPECT_EQ(Has(s, Element::AddonsButton), c.addons);
    EXPECT_EQ(Has(s, Element::RetryButton), c.retry);
  }
}

// The bar never overruns, and every state says what is going on.
TEST(Screen, ProgressBarPerState) {
  UpdaterProgress verifying;
  verifying.file = "Data/a.MPQ";
  verifying.index = 3;
  verifying.count = 12;
  UpdaterProgress download;
  download.phase = UpdaterPhase::Downloading;
  download.file = "b";
  download.bytes_done = 512;
  download.bytes_total = 2048;
  download.speed = 1572864.0;
  download.seconds_left = 42;
  UpdaterProgress overrun = download, unknown_size = download, extracting = download;
  overrun.bytes_done = 9000;
  unknown_size.bytes_total = 0;
  extracting.phase = UpdaterPhase::Extracting;
  const struct {
    S state;
    UpdaterProgress p;
    std::wstring status_text;
    float fill_width;  // 0: no fill drawn
    std::wstring text, detail;
  } cases[] = {
      {S::Verifying, verifying, L"", 212.5f, L"Verifying: Data/a.MPQ", L""},
      {S::Updating, download, L"", 212.5f, L"Downloading: b", L"1.5 MB/s  42s"},
      {S::Updating, overrun, L"", 850, L"Downloading: b", L"1.5 MB/s  42s"},
      {S::Updating, unknown_size, L"", 0, L"Downloading: b", L"1.5 MB/s  42s"},
      {S::Updating, extracting, L"", 0.99f * 850, L"Extracting: b", L""},
      {S::Error, {}, L"", 0, L"Error", L""},
      {S::Error, {}, L"Cannot reach update server.", 0, L"Cannot reach update server.", L""},
      {S::Offline, {}, L"Update server unreachable.", 850, L"Offline mode", L"Update server unreachable."},
  };
  for (const auto& c : cases) {
    ScreenInput in;
    in.state = c.state;
    in.progress = c.p;
    in.status_text = c.status_text;
    const Screen s = ComposeScreen(in);
    SCOPED_TRACE(c.text + L" " + std::to_wstring(c.fill_width));
    const auto fills = OpsOf(s, Element::ProgressBar, Shape::Gradient);
    ASSERT_EQ(fills.size(), c.fill_width > 0 ? 1u : 0u);
    EXPECT_FLOAT_EQ(fills.empty() ? 0.0f : fills[0].rect.w, c.fill_width);
    const auto texts = OpsOf(s, Element::ProgressBar, Shape::Text);
    ASSERT_EQ(texts.size(), c.detail.empty() ? 1u : 2u);
    EXPECT_EQ(texts[0].text, c.text);
    EXPECT_EQ(texts.size() > 1 ? texts[1].text : L"", c.detail);
  }
}

TEST(Screen, RealmStatusAndTitle) {
  ScreenInput in;
  in.online = true;
  Screen s = ComposeScreen(in);
  EXPECT_EQ(OpsOf(s, Element::StatusText, Shape::Text)[0].text, L"Online  |  0 players");
  EXPECT_EQ(OpsOf(s, Element::Title, Shape::Text).size(), 1u);  // no sprite letters: the title as text
  in.online = false;
  const GlyphSizes letters{{L'o', {28, 56}}, {L'w', {56, 56}}};
  in.letters = &letters;
  s = ComposeScreen(in);
  EXPECT_EQ(OpsOf(s, Element::StatusText, Shape::Text)[0].text, L"Offline");
  EXPECT_EQ(OpsOf(s, Element::Title, Shape::Sprite).size(), 4u);  // O, W, O, W: the letters with images
}

TEST(NewsPanel, ScrollStopsAtBothEndsAndCardsFollow) {
  std::int32_t s = 0;
  std::vector<std::int32_t> seen;  // five entries: toward the player to 2 and no further, back to 0
  for (int delta : {-120, -120, -120, 120, 120, 120}) seen.push_back(s = ScrollNews(s, delta, 5));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 2, 1, 0, 0}));
  EXPECT_EQ(ScrollNews(7, -120, 10), 7);
  EXPECT_EQ(ScrollNews(0, -120, 3), 0);

  std::vector<NewsItem> news(10);
  for (size_t i = 0; i < news.size(); ++i) news[i].title = L"T" + std::to_wstring(i);
  Screen screen;
  ComposeNewsPanel(screen, kNewsPanelRect, news, 7);
  std::vector<float> tops;
  for (const auto& op : OpsOf(screen, Element::NewsCard, Shape::Fill)) tops.push_back(op.rect.y);
  // Card 6's bottom edge lies on the panel's top edge: still drawn; 7 sits at top + 8.
  EXPECT_EQ(tops, (std::vector<float>{-20, 68, 156, 244}));
  EXPECT_EQ(OpsOf(screen, Element::NewsCard, Shape::Text)[4].text, L"T7");
  EXPECT_EQ(screen.ops.back().text, L"NEWS & UPDATES");  // after the clip ends
}

TEST(News, ParsesEntriesAndDecodesText) {
  const auto news = ParseNews(R"([{"date":"d1","title":"Sk\u00e6l","body":"Caf)"
                              "\xC3\xA9"
                              R"("}, 7, {"title":5}, {"body":"caf)"
                              "\xE9"
                              R"("}])");
  ASSERT_EQ(news.size(), 4u);
  EXPECT_EQ(news[0].body, L"Caf\u00e9");  // valid UTF-8
  EXPECT_EQ(news[2].title, L"");          // not a string
  EXPECT_EQ(news[3].body, L"caf\u00e9");  // Latin-1 byte widened
  EXPECT_TRUE(ParseNews(R"({"date":"x"})").empty());
  EXPECT_THROW(ParseNews("<html>"), std::runtime_error);
}

// A failed or unreadable reply keeps the list shown; a good one is cached and swapped in whole.
TEST(NewsThread, CacheAndHandOver) {
  const struct {
    bool ok;
    std::string body;
    bool cached;
    size_t items;  // 1: the earlier one-entry list stays
  } cases[] = {
      {false, "[]", false, 1}, {true, "", false, 1},      {true, "[]", true, 0},
      {true, "{}", true, 0},   {true, "<html>", true, 1}, {true, R"([{"title":"a"},{}])", true, 2},
  };
  for (const auto& c : cases) {
    testutil::TempDir dir;
    FakeWindow window;
    window.SetNews({NewsItem{}});
    HttpResponse reply;
    reply.ok = c.ok;
    reply.body = c.body;
    RunNewsThread(
        window, [&] { return reply; }, (dir / "news.json").wstring());
    SCOPED_TRACE(c.body);
    EXPECT_EQ(testutil::ReadBytes(dir / "news.json"), c.cached ? c.body : "");
    EXPECT_EQ(window.News()->size(), c.items);
    EXPECT_EQ(window.repaints, c.cached && c.body != "<html>" ? 1 : 0);
  }
}

// A repaint covers what changed: a hover only its button, a new button everything.
TEST(Screen, ChangedAreaCoversOnlyWhatDiffers) {
  ScreenInput in;
  in.state = S::Ready;
  const Screen idle = ComposeScreen(in);
  in.hover = H::Play;
  const PixelRect area = ChangedArea(idle.ops, ComposeScreen(in).ops);
  // PLAY (1120, 665, 145, 42) with its 2.5-pixel pen and anti-aliasing, nothing else.
  EXPECT_LE(area.left, 1120 - 2);
  EXPECT_GE(area.right, 1265 + 2);
  EXPECT_GE(area.top, 655);
  EXPECT_LE(area.right, 1280);
  EXPECT_TRUE(ChangedArea(idle.ops, idle.ops).Empty());
  in.state = S::Error;  // Retry appears: the lists differ in length
  const PixelRect all = ChangedArea(idle.ops, ComposeScreen(in).ops);
  EXPECT_EQ(all.right - all.left, 1280);
}

// The painter draws the panel's fill and outline with the backdrop, before the
// title strip and realm status: sound only while none of those overlaps it.
TEST(Screen, NothingDrawnBeforeTheNewsPanelOverlapsIt) {
  const std::vector<NewsItem> news(3);
  ScreenInput in;
  in.news = &news;
  const Screen s = ComposeScreen(in);
  const PixelRect panel = OpBounds(OpsOf(s, Element::NewsPanel, Shape::Fill)[0]);
  for (const DrawOp& op : s.ops) {
    if (op.element == Element::NewsPanel) break;
    if (op.element <= Element::Divider) continue;  // the backdrop's own layers
    const PixelRect b = OpBounds(op);
    EXPECT_TRUE(b.right <= panel.left || b.left >= panel.right || b.bottom <= panel.top || b.top >= panel.bottom)
        << static_cast<int>(op.element);
  }
}

}  // namespace
