#include "ui/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/news_thread.h"
#include "data/news.h"
#include "test_util.h"
#include "ui/news_panel.h"
#include "ui/sprite_text.h"

namespace {

std::vector<DrawOp> OpsOf(const Screen& s, Element e, Shape shape) {
  std::vector<DrawOp> out;
  for (const auto& op : s.ops) {
    if (op.element == e && op.shape == shape) out.push_back(op);
  }
  return out;
}

bool Has(const Screen& s, Element e) {
  return std::any_of(s.ops.begin(), s.ops.end(), [e](const DrawOp& op) { return op.element == e; });
}

std::wstring Label(const Screen& s, Element e) {
  const auto texts = OpsOf(s, e, Shape::Text);
  return texts.empty() ? L"" : texts[0].text;
}

TEST(Screen, ButtonsPerStateAndHover) {
  struct Case {
    LauncherState state;
    HoverTarget hover;
    std::wstring play_label;
    Argb play_fill;
    bool locate, addons, retry;
  };
  const Case cases[] = {
      {LauncherState::Connecting, HoverTarget::Play, L"PLAY", 0xA0503C0A, false, false, false},  // never hovered
      {LauncherState::Verifying, HoverTarget::None, L"PLAY", 0xA0503C0A, false, false, false},
      {LauncherState::Error, HoverTarget::Retry, L"PLAY", 0xA0503C0A, false, false, true},
      {LauncherState::Ready, HoverTarget::None, L"PLAY", 0xFFB47814, false, true, false},
      {LauncherState::Ready, HoverTarget::Play, L"PLAY", 0xFFDC9B1E, false, true, false},
      {LauncherState::Offline, HoverTarget::Addons, L"PLAY", 0xFFB47814, false, true, false},
      {LauncherState::NoInstall, HoverTarget::Download, L"DOWNLOAD CLIENT", 0xFF1450A0, true, false, false},
  };
  for (const Case& c : cases) {
    ScreenInput in;
    in.state = c.state;
    in.hover = c.hover;
    const Screen s = ComposeScreen(in);
    SCOPED_TRACE(static_cast<int>(c.state));
    EXPECT_EQ(Label(s, Element::PlayButton), c.play_label);
    EXPECT_EQ(OpsOf(s, Element::PlayButton, Shape::Fill).at(0).color, c.play_fill);
    EXPECT_EQ(Has(s, Element::LocateButton), c.locate);
    EXPECT_EQ(Has(s, Element::AddonsButton), c.addons);
    EXPECT_EQ(Has(s, Element::RetryButton), c.retry);
    if (c.hover == HoverTarget::Addons) {
      EXPECT_EQ(OpsOf(s, Element::AddonsButton, Shape::Fill)[0].color, 0xC81E5028u);
    }
    if (c.retry) {
      EXPECT_EQ(OpsOf(s, Element::RetryButton, Shape::Fill)[0].color, 0xC878280Au);
    }
  }
}

TEST(Screen, ProgressBarEdgeCases) {
  struct Case {
    LauncherState state;
    UpdaterProgress p;
    std::wstring status_text;
    float fill_width;  // 0: no fill drawn
    std::wstring text, detail;
  };
  UpdaterProgress verifying;
  verifying.phase = UpdaterPhase::Verifying;
  verifying.file = "Data/a.MPQ";
  verifying.index = 3;
  verifying.count = 12;
  UpdaterProgress overrun;
  overrun.phase = UpdaterPhase::Downloading;
  overrun.file = "b";
  overrun.bytes_done = 900;
  overrun.bytes_total = 300;
  UpdaterProgress extracting = overrun;
  extracting.phase = UpdaterPhase::Extracting;
  const Case cases[] = {
      {LauncherState::Verifying, verifying, L"", 212.5f, L"Verifying: Data/a.MPQ", L""},
      {LauncherState::Updating, overrun, L"", 850, L"Downloading: b", L"0.0 MB/s  0s"},
      {LauncherState::Updating, extracting, L"", 0.99f * 850, L"Extracting: b", L""},
      {LauncherState::Error, {}, L"", 0, L"Error", L""},
      {LauncherState::Offline, {}, L"Update server unreachable.", 850, L"Offline mode", L"Update server unreachable."},
  };
  for (const Case& c : cases) {
    ScreenInput in;
    in.state = c.state;
    in.progress = c.p;
    in.status_text = c.status_text;
    const Screen s = ComposeScreen(in);
    SCOPED_TRACE(c.text);
    const auto fills = OpsOf(s, Element::ProgressBar, Shape::Gradient);
    if (c.fill_width > 0) {
      ASSERT_EQ(fills.size(), 1u);
      EXPECT_FLOAT_EQ(fills[0].rect.w, c.fill_width);
    } else {
      EXPECT_TRUE(fills.empty());
    }
    const auto texts = OpsOf(s, Element::ProgressBar, Shape::Text);
    ASSERT_EQ(texts.size(), c.detail.empty() ? 1u : 2u);
    EXPECT_EQ(texts[0].text, c.text);
    if (!c.detail.empty()) {
      EXPECT_EQ(texts[1].text, c.detail);
    }
  }
}

TEST(Screen, RealmStatusMuteAndTitle) {
  ScreenInput in;
  in.online = true;
  in.muted = true;
  in.hover = HoverTarget::Mute;
  Screen s = ComposeScreen(in);
  EXPECT_EQ(OpsOf(s, Element::StatusDot, Shape::Ellipse)[0].color, 0xFF50C850u);
  EXPECT_EQ(Label(s, Element::StatusText), L"Online  |  0 players");
  EXPECT_EQ(OpsOf(s, Element::MuteButton, Shape::Fill)[0].color, 0xB4641E19u);
  EXPECT_TRUE(OpsOf(s, Element::MuteButton, Shape::Speaker)[0].muted);
  // No sprite letters: the title is text in the title family at 32 px.
  const auto title = OpsOf(s, Element::Title, Shape::Text);
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].font.face, FontFace::Title);
  EXPECT_FLOAT_EQ(title[0].font.size, 32);

  in.online = false;
  const GlyphSizes letters{{L'o', {28, 56}}, {L'w', {56, 56}}};
  in.letters = &letters;
  s = ComposeScreen(in);
  EXPECT_EQ(OpsOf(s, Element::StatusDot, Shape::Ellipse)[0].color, 0xFFC83C3Cu);
  EXPECT_EQ(Label(s, Element::StatusText), L"Offline");
  // Only O, W, O, W have images: four sprites, centred, no gaps for the rest.
  const auto sprites = OpsOf(s, Element::Title, Shape::Sprite);
  ASSERT_EQ(sprites.size(), 4u);
  EXPECT_FLOAT_EQ(sprites[0].rect.x, (870 - (30 + 58 + 30 + 58)) / 2.0f);
  EXPECT_FLOAT_EQ(sprites[1].rect.x, sprites[0].rect.x + 30);
}

TEST(SpriteText, MetricsScaleEachGlyphAndAdvanceSpaces) {
  const GlyphSizes glyphs{{L'a', {20, 40}}, {L'b', {30, 60}}, {L'z', {10, 0}}, {L' ', {500, 40}}};
  // a: 20 * 56/40 = 28, b: 30 * 56/60 = 28, each + 2; z (height 0) and x (absent) add nothing;
  // the space advances 19.6 whatever its image says.
  EXPECT_FLOAT_EQ(MeasureSpriteText(L"A b", glyphs, 56), 30 + 19.6f + 30);
  EXPECT_FLOAT_EQ(MeasureSpriteText(L"zx", glyphs, 56), 0);
  const auto runs = LayoutSpriteText(L"Az B", glyphs, 56, 0, 200, 10);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].key, L'b');
  EXPECT_FLOAT_EQ(runs[0].rect.x, (200 - 79.6f) / 2);
  EXPECT_FLOAT_EQ(runs[1].rect.x, runs[0].rect.x + 30 + 19.6f);
  EXPECT_FLOAT_EQ(runs[1].rect.h, 56);
}

TEST(NewsPanel, ScrollRangeAndCardPositions) {
  // Five entries: toward the player (negative delta) to 1, 2 and no further; back to 0 and no further.
  std::int32_t s = 0;
  std::vector<std::int32_t> seen;
  for (int delta : {-120, -120, -120, 120, 120, 120}) seen.push_back(s = ScrollNews(s, delta, 5));
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 2, 1, 0, 0}));
  EXPECT_EQ(ScrollNews(6, -120, 10), 7);
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
  EXPECT_EQ(news[0].date, L"d1");
  EXPECT_EQ(news[0].title, L"Sk?00e6l");  // the reader leaves \u escapes undecoded
  EXPECT_EQ(news[0].body, L"Caf\u00e9");  // valid UTF-8
  EXPECT_EQ(news[1].title, L"");          // not an object
  EXPECT_EQ(news[2].title, L"");          // not a string
  EXPECT_EQ(news[3].body, L"caf\u00e9");  // Latin-1 byte widened
  EXPECT_TRUE(ParseNews(R"({"date":"x"})").empty());
  EXPECT_THROW(ParseNews("<html>"), std::runtime_error);
}

class NewsWindow : public LauncherWindow {
 public:
  ManifestFetch FetchManifest(Manifest&, std::string&) override { return ManifestFetch::Failed; }
  bool SelfUpdate(const Manifest&, std::string&) override { return false; }
  std::shared_ptr<Updater> MakeUpdater(const std::wstring&) override { return nullptr; }
  void Repaint() override {}
  void PostClose() override {}
  void NewsLoaded() override { ++loaded; }
  int loaded = 0;
};

TEST(NewsThread, CacheAndHandOver) {
  struct Case {
    bool ok;
    std::string body;
    bool cached;
    size_t items;  // 1: the earlier one-entry list stays
  };
  const Case cases[] = {
      {false, "[]", false, 1}, {true, "", false, 1},      {true, "[]", true, 0},
      {true, "{}", true, 0},   {true, "<html>", true, 1}, {true, R"([{"title":"a"},{}])", true, 2},
  };
  for (const Case& c : cases) {
    testutil::TempDir dir;
    NewsWindow window;
    window.SetNews({NewsItem{}});
    HttpResponse reply;
    reply.ok = c.ok;
    reply.body = c.body;
    RunNewsThread(
        window, [&] { return reply; }, (dir / "news.json").wstring());
    SCOPED_TRACE(c.body);
    EXPECT_EQ(std::filesystem::exists(dir / "news.json"), c.cached);
    if (c.cached) {
      EXPECT_EQ(testutil::ReadBytes(dir / "news.json"), c.body);
    }
    EXPECT_EQ(window.News()->size(), c.items);
    EXPECT_EQ(window.loaded, c.cached && c.body != "<html>" ? 1 : 0);
  }
}

}  // namespace

namespace {

TEST(Screen, ChangedAreaCoversOnlyWhatDiffers) {
  ScreenInput in;
  in.state = LauncherState::Ready;
  const Screen idle = ComposeScreen(in);
  in.hover = HoverTarget::Play;
  const Screen hovered = ComposeScreen(in);
  const PixelRect area = ChangedArea(idle.ops, hovered.ops);
  // PLAY (1120, 665, 145, 42) with its 2.5-pixel pen and anti-aliasing, nothing else.
  EXPECT_LE(area.left, 1120 - 2);
  EXPECT_GE(area.right, 1265 + 2);
  EXPECT_GE(area.top, 655);
  EXPECT_LE(area.right, 1280);
  EXPECT_TRUE(ChangedArea(idle.ops, idle.ops).Empty());
  in.state = LauncherState::Error;  // Retry appears: the lists differ in length
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
