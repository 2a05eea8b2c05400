// Benchmark of the main screen's paint (bench/paint runs it under Wine).
//
// In one run, interleaved so that load on the shared machine hits both alike:
//   bare   one 1280 x 720 32-bit frame drawn with GDI+ into the off-screen bitmap;
//   paint  the whole screen painted into the same bitmap by MainWindow::PaintInto:
//          the video frame, ten news entries, the progress bar, a hovered PLAY;
//   tick   one video tick as the frame timer does it: the next frame (rewinding
//          at the end), then the paint.
// Then GDI and USER object counts and private bytes before and after --paints
// paints (10,000 by default). Prints key=value lines; times in milliseconds.
#include <windows.h>
// After windows.h, which it builds on.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "base/launcher_folder.h"
#include "ui/gdiplus_win.h"
#include "ui/main_window_win.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Private bytes; Wine leaves PrivateUsage 0 but fills the pagefile figure, which counts the same there.
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int rounds = 200, paints = 10000;
  bool profile = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--rounds") == 0) rounds = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--paints") == 0) paints = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--profile") == 0) profile = _wtoi(argv[i + 1]) != 0;
  }
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 1;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    MainWindow& w = MainWindow::Instance();
    w.LoadBackground();
    if (!w.video.Open(LauncherPath(L"\\assets\\video\\background.mkv")) || !w.video.NextFrame()) {
      std::printf("error=no video\n");
      return 1;
    }
    w.fonts.Load(LauncherPath(L"\\assets\\fonts\\"));
    std::vector<NewsItem> news;
    for (int i = 0; i < 10; ++i) {
      news.push_back({L"2026-12-0" + std::to_wstring(i), L"News entry number " + std::to_wstring(i),
                      L"A body long enough to wrap over two lines of the card and to be cut with an ellipsis "
                      L"at the bottom of its box, as long news bodies are."});
    }
    w.SetNews(std::move(news));
    UpdaterProgress progress;
    progress.phase = UpdaterPhase::Downloading;
    progress.file = "Data/patch-4.MPQ";
    progress.bytes_done = 600;
    progress.bytes_total = 1000;
    progress.speed = 1572864;
    progress.seconds_left = 42;
    w.SetProgress(progress);
    w.SetState(LauncherState::Ready);
    w.hover = HoverTarget::Play;

    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1280, 720);
    HGDIOBJ old = SelectObject(dc, bitmap);
    Gdiplus::Bitmap frame(1280, 720, PixelFormat32bppRGB);

    ScreenInput in;
    in.state = LauncherState::Ready;
    in.hover = HoverTarget::Play;
    in.progress = progress;
    const auto list = w.News();
    in.news = list.get();
    in.has_picture = true;
    in.has_video_frame = true;
    in.letters = &w.fonts.LetterSizes();
    const Screen full = ComposeScreen(in);
    const PaintAssets assets{w.background.get(), w.video.Frame(), w.video.Generation(), &w.fonts};
    if (profile) {
      // Each operation alone, drawn directly, to find where a paint spends its time.
      for (size_t k = 0; k < full.ops.size(); ++k) {
        Screen one;
        one.ops.push_back(full.ops[k]);
        std::vector<double> times;
        for (int r = 0; r < 5; ++r) {
          Gdiplus::Graphics g(dc);
          PrepareGraphics(g);
          const double t = Now();
          ScreenPainter::PaintDirect(g, one, assets);
          times.push_back(Now() - t);
        }
        std::printf("op %zu element=%d shape=%d ms=%.3f\n", k, static_cast<int>(one.ops[0].element),
                    static_cast<int>(one.ops[0].shape), Median(times));
      }
    }
    {
      // The cached backdrop against every layer drawn by GDI+: how far apart are the pixels?
      Gdiplus::Bitmap cached(1280, 720, PixelFormat32bppRGB), direct(1280, 720, PixelFormat32bppRGB);
      ScreenPainter painter;
      {
        Gdiplus::Graphics g(&cached);
        PrepareGraphics(g);
        painter.Paint(g, full, assets);
      }
      {
        Gdiplus::Graphics g(&direct);
        PrepareGraphics(g);
        ScreenPainter::PaintDirect(g, full, assets);
      }
      Gdiplus::Rect all(0, 0, 1280, 720);
      Gdiplus::BitmapData a{}, b{};
      cached.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &a);
      direct.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &b);
      int max_diff = 0;
      long differing = 0, over2 = 0;
      for (int y = 0; y < 720; ++y) {
        const BYTE* pa = static_cast<const BYTE*>(a.Scan0) + y * a.Stride;
        const BYTE* pb = static_cast<const BYTE*>(b.Scan0) + y * b.Stride;
        for (int x = 0; x < 1280 * 4; ++x) {
          if (x % 4 == 3) continue;
          const int d = std::abs(pa[x] - pb[x]);
          max_diff = std::max(max_diff, d);
          differing += d > 0;
          over2 += d > 2;
        }
      }
      cached.UnlockBits(&a);
      direct.UnlockBits(&b);
      std::printf(
          "cache_vs_direct_max_diff=%d\ncache_vs_direct_channels_differing=%ld\ncache_vs_direct_channels_over_2=%ld\n",
          max_diff, differing, over2);
    }
    std::vector<double> direct_times;
    std::vector<double> bare, paint, tick, front;
    for (int i = 0; i < rounds; ++i) {
      double t = Now();
      {
        Gdiplus::Graphics g(dc);
        g.DrawImage(&frame, 0, 0, 1280, 720);
      }
      bare.push_back(Now() - t);
      t = Now();
      w.PaintInto(dc);
      paint.push_back(Now() - t);
      t = Now();
      {
        Gdiplus::Graphics g(dc);
        PrepareGraphics(g);
        ScreenPainter::PaintDirect(g, full, assets);
      }
      direct_times.push_back(Now() - t);
      t = Now();
      if (!w.video.NextFrame()) {
        w.video.Rewind();
        w.video.NextFrame();
      }
      w.PaintInto(dc);
      tick.push_back(Now() - t);
      // A paint whose front changed (the pointer left PLAY, or came back).
      w.hover = w.hover == HoverTarget::Play ? HoverTarget::None : HoverTarget::Play;
      t = Now();
      w.PaintInto(dc);
      front.push_back(Now() - t);
    }
    w.hover = HoverTarget::Play;
    std::printf(
        "video=%ux%u\nrounds=%d\nbare_ms=%.3f\npaint_ms=%.3f\ntick_ms=%.3f\ndirect_paint_ms=%.3f\nfront_changed_paint_"
        "ms=%.3f\n",
        w.video.Width(), w.video.Height(), rounds, Median(bare), Median(paint), Median(tick), Median(direct_times),
        Median(front));

    const DWORD gdi_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user_before = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const SIZE_T private_before = PrivateBytes();
    const double start = Now();
    for (int i = 0; i < paints; ++i) w.PaintInto(dc);
    const double elapsed = Now() - start;
    std::printf("paints=%d\npaints_mean_ms=%.3f\n", paints, elapsed / paints);
    std::printf("gdi_objects=%lu->%lu\nuser_objects=%lu->%lu\nprivate_kib=%zu->%zu\n", gdi_before,
                GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), user_before,
                GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), private_before / 1024, PrivateBytes() / 1024);

    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    w.video.Close();
    w.fonts.Release();
    w.background.reset();
  }
  CoUninitialize();
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
