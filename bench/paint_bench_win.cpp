// Benchmark of the main screen's paint (bench/paint runs it under Wine).
//
// In one run, interleaved so that load on the shared machine hits both alike,
// at each window scale of --scales (1 and 2 by default; the bitmaps are the
// window's size at that scale, 2560 x 1440 at 2):
//   bare   one 32-bit frame of the window's size drawn with GDI+ into the off-screen bitmap;
//   paint  the whole screen painted into the same bitmap by MainWindow::PaintInto:
//          the video frame, ten news entries, the progress bar, a hovered PLAY;
//   tick   one video tick as the frame timer does it: the next frame (rewinding
//          at the end), then the paint.
// Then GDI and USER object counts and private bytes before and after --paints
// paints (10,000 by default), each with the hover flipped, every tenth with a
// new video frame. Prints key=value lines; times in milliseconds.
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
#include "ui/window_scale.h"

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

// Processor time of the whole process (all threads), in milliseconds: what a
// tick costs whatever share of the processors the machine leaves it.
double CpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
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

struct Difference {
  int max = 0;
  long differing = 0, over2 = 0;
};

Difference Compare(Gdiplus::Bitmap& x, Gdiplus::Bitmap& y) {
  Gdiplus::Rect all(0, 0, 1280, 720);
  Gdiplus::BitmapData a{}, b{};
  x.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &a);
  y.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &b);
  Difference d;
  for (int row = 0; row < 720; ++row) {
    const BYTE* pa = static_cast<const BYTE*>(a.Scan0) + row * a.Stride;
    const BYTE* pb = static_cast<const BYTE*>(b.Scan0) + row * b.Stride;
    for (int i = 0; i < 1280 * 4; ++i) {
      if (i % 4 == 3) continue;
      const int diff = std::abs(pa[i] - pb[i]);
      d.max = std::max(d.max, diff);
      d.differing += diff > 0;
      d.over2 += diff > 2;
    }
  }
  x.UnlockBits(&a);
  y.UnlockBits(&b);
  return d;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int rounds = 200, paints = 10000;
  bool profile = false, flip_hover = true;
  int video_every = 10;
  std::vector<float> scales{1, 2};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--rounds") == 0) rounds = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--paints") == 0) paints = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--profile") == 0) profile = _wtoi(argv[i + 1]) != 0;
    if (std::wcscmp(argv[i], L"--flip-hover") == 0) flip_hover = _wtoi(argv[i + 1]) != 0;
    if (std::wcscmp(argv[i], L"--video-every") == 0) video_every = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--scales") == 0) {
      scales.clear();
      for (const wchar_t* p = argv[i + 1]; *p;) {
        wchar_t* end = nullptr;
        scales.push_back(std::wcstof(p, &end));
        p = *end ? end + 1 : end;
      }
    }
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
      // How far apart are the pixels (a) of the cached layers and of every
      // layer drawn directly by GDI+, and (b) of a front drawn again only
      // where the hover changed and of one drawn whole?
      Gdiplus::Bitmap cached(1280, 720, PixelFormat32bppRGB), direct(1280, 720, PixelFormat32bppRGB);
      Gdiplus::Bitmap partial(1280, 720, PixelFormat32bppRGB);
      ScreenInput unhovered = in;
      unhovered.hover = HoverTarget::Addons;
      const Screen other = ComposeScreen(unhovered);
      ScreenPainter fresh, reused;
      {
        Gdiplus::Graphics g(&cached);
        PrepareGraphics(g);
        fresh.Paint(g, full, assets);
      }
      {
        Gdiplus::Graphics g(&direct);
        PrepareGraphics(g);
        ScreenPainter::PaintDirect(g, full, assets);
      }
      {
        Gdiplus::Graphics g(&partial);
        PrepareGraphics(g);
        reused.Paint(g, other, assets);
        reused.Paint(g, full, assets);
      }
      const Difference d1 = Compare(cached, direct), d2 = Compare(partial, cached);
      std::printf("cache_vs_direct max_diff=%d channels_differing=%ld channels_over_2=%ld\n", d1.max, d1.differing,
                  d1.over2);
      std::printf("partial_vs_whole max_diff=%d channels_differing=%ld\n", d2.max, d2.differing);
    }
    for (const float scale : scales) {
      w.scale = scale;
      const WindowSize size = ScaledWindowSize(scale);
      HBITMAP scaled_bitmap = CreateCompatibleBitmap(screen, size.width, size.height);
      SelectObject(dc, scaled_bitmap);
      Gdiplus::Bitmap scaled_frame(size.width, size.height, PixelFormat32bppRGB);
      PaintAssets scaled_assets = assets;
      scaled_assets.scale = scale;
      // The direct paint costs a few hundred milliseconds under Wine: at scale 1 only.
      const bool direct = scale == 1;
      std::vector<double> direct_times;
      std::vector<double> bare, paint, tick, front, frame_only;
      double tick_cpu = 0;  // summed: the clock behind it ticks too coarsely for one tick
      for (int i = 0; i < rounds; ++i) {
        double t = Now();
        {
          Gdiplus::Graphics g(dc);
          g.DrawImage(&scaled_frame, 0, 0, size.width, size.height);
        }
        bare.push_back(Now() - t);
        t = Now();
        w.PaintInto(dc);
        paint.push_back(Now() - t);
        if (direct) {
          t = Now();
          Gdiplus::Graphics g(dc);
          PrepareGraphics(g);
          ScreenPainter::PaintDirect(g, full, scaled_assets);
          direct_times.push_back(Now() - t);
        }
        t = Now();
        const double cpu = CpuMs();
        if (!w.video.NextFrame()) {
          w.video.Rewind();
          w.video.NextFrame();
        }
        w.PaintInto(dc);
        tick.push_back(Now() - t);
        tick_cpu += CpuMs() - cpu;
        // The frame alone, decoded and converted.
        t = Now();
        if (!w.video.NextFrame()) {
          w.video.Rewind();
          w.video.NextFrame();
        }
        frame_only.push_back(Now() - t);
        w.PaintInto(dc);
        // A paint whose front changed (the pointer left PLAY, or came back).
        w.hover = w.hover == HoverTarget::Play ? HoverTarget::None : HoverTarget::Play;
        t = Now();
        w.PaintInto(dc);
        front.push_back(Now() - t);
      }
      w.hover = HoverTarget::Play;
      std::printf("scale=%.2f\nwindow=%dx%d\n", scale, size.width, size.height);
      std::printf("video=%ux%u\nrounds=%d\n", w.video.Width(), w.video.Height(), rounds);
      std::printf("bare_ms=%.3f\npaint_ms=%.3f\ndirect_paint_ms=%.3f\n", Median(bare), Median(paint),
                  Median(direct_times));
      std::printf("front_changed_paint_ms=%.3f\ntick_ms=%.3f\ntick_cpu_mean_ms=%.3f\nframe_read_ms=%.3f\n",
                  Median(front), Median(tick), tick_cpu / rounds, Median(frame_only));

      SelectObject(dc, bitmap);
      DeleteObject(scaled_bitmap);
    }
    w.scale = 1;
    const DWORD gdi_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user_before = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const SIZE_T private_before = PrivateBytes();
    const double start = Now();
    // Every paint redraws part of the front (the hover flips), every tenth
    // also takes a new video frame: the paths that create GDI+ objects.
    for (int i = 0; i < paints; ++i) {
      if (flip_hover) w.hover = i % 2 ? HoverTarget::Play : HoverTarget::None;
      if (video_every && i % video_every == 0 && !w.video.NextFrame()) {
        w.video.Rewind();
        w.video.NextFrame();
      }
      w.PaintInto(dc);
    }
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
