#include "ui/main_window_win.h"

#include <windowsx.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "app/client_install.h"
#include "app/controller.h"
#include "app/news_thread.h"
#include "base/launcher_folder.h"
#include "base/text.h"
#include "data/settings.h"
#include "game/client_folder.h"
#include "log/log.h"
#include "net/http_client.h"
#include "net/manifest_fetch.h"
#include "net/update_server.h"
#include "ui/music_win.h"
#include "ui/news_panel.h"
#include "ui/screen.h"
#include "ui/window_messages.h"
#include "ui/window_scale.h"
#include "update/self_update.h"
#include "update/unpack_marks.h"

namespace {

constexpr const wchar_t* kWindowClass = L"OstrelLauncherWnd";
constexpr const wchar_t* kWindowTitle = L"Ostrelhold";
constexpr UINT_PTR kFrameTimer = 1;
// The video's frame period (30 a second).
constexpr UINT kFramePeriodMs = 33;
// Paints asked for by update reports come at most this often. Shorter than the
// frame period, so that a video frame's paint that comes a little early (timer
// jitter) is painted at once, not put off to the repaint timer.
constexpr std::chrono::milliseconds kPaintPeriod(kFramePeriodMs - 8);
constexpr UINT_PTR kRepaintTimer = 2;
constexpr const wchar_t* kBackgroundCandidates[] = {L"\\assets\\backgrounds\\ostrel.jpg", L"\\assets\\background.jpg",
                                                    L"\\assets\\background.jpeg", L"\\assets\\background.png"};

// The scale at which the window fits `monitor` of `dpi`.
float ScaleOn(HMONITOR monitor, UINT dpi) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return 1;
  return WindowScale(dpi, info.rcWork.right - info.rcWork.left, info.rcWork.bottom - info.rcWork.top);
}

MainWindow* BoundWindow(HWND hwnd) { return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

void RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
}

// 22 steps of 12 from 0 to 252, 10 ms apart; then the window drops the
// layered style and is fully opaque.
void FadeIn(HWND hwnd) {
  const LONG ex_style = GetWindowLongW(hwnd, GWL_EXSTYLE);
  SetWindowLongW(hwnd, GWL_EXSTYLE, ex_style | WS_EX_LAYERED);
  SetLayeredWindowAttributes(hwnd, 0, 0, LWA_ALPHA);
  for (int alpha = 0; alpha <= 255; alpha += 12) {
    SetLayeredWindowAttributes(hwnd, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
    Sleep(10);
  }
  SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) & ~WS_EX_LAYERED);
}

}  // namespace

MainWindow& MainWindow::Instance() {
  static MainWindow window;
  return window;
}

int MainWindow::Run(HINSTANCE instance, int /*show_command: WS_VISIBLE shows the window*/) {
  RegisterWindowClass(instance);
  // Centred on the primary monitor, at its scale.
  MainWindow& self = Instance();
  self.scale = ScaleOn(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), GetDpiForSystem());
  WindowSize size = ScaledWindowSize(self.scale);
  const auto left = [&] { return (GetSystemMetrics(SM_CXSCREEN) - size.width) / 2; };
  const auto top = [&] { return (GetSystemMetrics(SM_CYSCREEN) - size.height) / 2; };
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, kWindowTitle, WS_POPUP | WS_VISIBLE, left(), top(),
                              size.width, size.height, nullptr, nullptr, instance, nullptr);
  // The system's DPI is that of the sign-in; the monitor's own may have changed since.
  const float scale = ScaleOn(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), GetDpiForWindow(hwnd));
  if (scale != self.scale) {
    self.scale = scale;
    size = ScaledWindowSize(scale);
    SetWindowPos(hwnd, nullptr, left(), top(), size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  self.hwnd = hwnd;
  self.instance = instance;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&self));
  Log::Info(L"Window scale: " + std::to_wstring(static_cast<int>(self.scale * 100)) + L" % (" +
            std::to_wstring(size.width) + L" x " + std::to_wstring(size.height) + L")");

  self.OnCreate();
  UpdateWindow(hwnd);  // the fade-in shows the screen, not an empty window
  FadeIn(hwnd);
  if (!self.up_event.empty()) {
    if (ReportUp(self.up_event)) {
      Log::Info(L"Reported to the build this one replaced that it is up");
    } else {
      Log::Warn(L"The build this one replaced is no longer waiting for its report");
    }
  }

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void MainWindow::OnCreate() {
  Log::Info(L"OnCreate hwnd=" + std::to_wstring(reinterpret_cast<UINT_PTR>(hwnd)));
  CreateDirectoryW(LauncherPath(L"\\launcher_cache").c_str(), nullptr);

  Log::Info(L"LoadSettings");
  LoadSettings();
  Log::Info(L"WoW dir: " + WowDir());

  Log::Info(L"LoadBackground");
  LoadBackground();
  if (video.Open(LauncherPath(L"\\assets\\video\\background.mkv"))) {
    video.NextFrame();  // the first paint already has a frame
    StartFrameTimer();
    Log::Info(L"Video background loaded");
  } else {
    Log::Info(L"No video background — using static image");
  }

  Log::Info(L"LoadFonts");
  fonts.Load(LauncherPath(L"\\assets\\fonts\\"));

  StartMusic(LauncherPath(L"\\assets\\audio\\theme.mp3"), muted);

  Log::Info(L"ServerStatus::Start");
  server_status.Start([window = hwnd] { PostMessageW(window, WM_SERVER_STATUS, 0, 0); });

  const bool client_found =
      GetFileAttributesW(ClientPath(WowDir(), ClientFolder::kExecutable).c_str()) != INVALID_FILE_ATTRIBUTES;
  SetState(client_found ? LauncherState::Connecting : LauncherState::NoInstall);
  Repaint();
  if (!client_found) Log::Info(L"Wow.exe not found — entering NoInstall state");

  // A thread that cannot be started throws into the entry, which reports it.
  // A client unpack cut short is done first; its worker then runs the manifest thread.
  if (!ResumeClientInstall(*this, MakeSystemInstallBackend(), client_found)) {
    std::thread([this, client_found] { ManifestThread(*this, client_found); }).detach();
  }
  std::thread([this] {
    RunNewsThread(
        *this, [] { return FetchNews(); }, LauncherPath(L"\\launcher_cache\\news.json"));
  }).detach();

  Log::Info(L"OnCreate complete");
}

void MainWindow::OnDestroy() {
  CloseMusic();
  KillTimer(hwnd, kFrameTimer);
  video.Close();
  server_status.Stop();
  CancelUpdater();
  background.reset();
  fonts.Release();
  RemoveTrayIcon();
}

void MainWindow::LoadBackground() {
  for (const wchar_t* candidate : kBackgroundCandidates) {
    const std::wstring path = LauncherPath(candidate);
    std::unique_ptr<Gdiplus::Image> image(Gdiplus::Image::FromFile(path.c_str()));
    if (image && image->GetLastStatus() == Gdiplus::Ok) {
      background = std::move(image);
      Log::Info(L"Background loaded: " + path);
      return;
    }
  }
}

void MainWindow::StartFrameTimer() { SetTimer(hwnd, kFrameTimer, kFramePeriodMs, nullptr); }

void MainWindow::LoadSettings() {
  LauncherSettings settings;
  ::LoadSettings(SettingsFilePath(), settings);
  SetWowDir(settings.wow_dir);
  close_on_launch = settings.close_on_launch;
  muted = settings.muted;
}

void MainWindow::SaveSettings() {
  LauncherSettings settings;
  settings.wow_dir = WowDir();
  settings.close_on_launch = close_on_launch;
  settings.muted = muted;
  ::SaveSettings(SettingsFilePath(), settings);
}

ManifestFetch MainWindow::FetchManifest(Manifest& manifest, std::string& error) {
  return ::FetchManifest(manifest, error);
}

bool MainWindow::SelfUpdate(const Manifest& manifest, std::string& error) {
  if (!launcher_files.may_self_update) return false;
  return ::SelfUpdate(manifest, Widen(manifest.launcher_url), Widen(manifest.launcher_md5), error, LauncherFolder(),
                      launcher_files.launcher);
}

void MainWindow::StateEntered(LauncherState state) {
  if (state != LauncherState::Ready && state != LauncherState::Offline) return;
  if (ran_well_noted_.exchange(true)) return;
  NoteRanWell(SystemSwap(), MakeSwapPaths(LauncherFolder(), launcher_files.launcher), kLauncherVersion);
}

void MainWindow::ContinueClientInstall(const Manifest& manifest) {
  ContinueClientDownload(*this, manifest, MakeSystemInstallBackend());
}

std::shared_ptr<Updater> MainWindow::MakeUpdater(const std::wstring& wow_dir) {
  auto updater = std::make_shared<Updater>(wow_dir, MakeSystemUpdaterBackend());
  updater->UseUnpackMarks(UnpackMarksPath(LauncherFolder()));
  return updater;
}

std::wstring MainWindow::VerifiedRecordPath() const { return LauncherPath(L"\\launcher_cache\\verified.dat"); }

// An update run reports every file it verifies, thousands a second in a
// folder of small files; one request per paint is enough.
void MainWindow::Repaint() {
  if (!repaint_asked_.exchange(true) && !InvalidateRect(hwnd, nullptr, FALSE)) repaint_asked_ = false;
}

void MainWindow::PostClose() { PostMessageW(hwnd, WM_CLOSE, 0, 0); }

void MainWindow::NewsLoaded() { PostMessageW(hwnd, WM_NEWS_LOADED, 0, 0); }

void MainWindow::OnClick(int x, int y) {
  switch (ClickTargetAt(x, y, State())) {
    case HoverTarget::Close: DestroyWindow(hwnd); break;
    case HoverTarget::Minimize: ShowWindow(hwnd, SW_MINIMIZE); break;
    case HoverTarget::Mute: ToggleMute(); break;
    case HoverTarget::Settings: OpenSettings(); break;
    case HoverTarget::Locate: LocateClient(); break;
    case HoverTarget::Download: StartClientInstall(); break;
    case HoverTarget::Play: PlayGame(); break;
    case HoverTarget::Addons: ManageAddons(); break;
    case HoverTarget::Retry: StartRetry(*this); break;
    default: break;
  }
}

void MainWindow::OnMouseMove(int x, int y) {
  if (!tracking_mouse) {
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
    TrackMouseEvent(&tme);
    tracking_mouse = true;
  }
  const HoverTarget target = HoverTargetAt(x, y, State());
  if (target != hover) {
    hover = target;
    Repaint();
  }
}

void MainWindow::OnMouseLeave() {
  hover = HoverTarget::None;
  tracking_mouse = false;
  Repaint();
}

void MainWindow::OnMouseWheel(int delta) {
  news_scroll = ScrollNews(news_scroll, delta, News()->size());
  Repaint();
}

void MainWindow::OnTimer(UINT_PTR id) {
  if (id == kRepaintTimer) OnRepaintTimer();
  if (id != kFrameTimer) return;
  // At the end of the stream (or after a read error) start again: the video loops.
  if (!video.NextFrame()) {
    video.Rewind();
    video.NextFrame();
  }
  Repaint();
}

void MainWindow::OnEnterSizeMove() {
  if (video.IsOpen()) KillTimer(hwnd, kFrameTimer);
}

void MainWindow::OnExitSizeMove() {
  if (video.IsOpen()) StartFrameTimer();
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  scale = ScaleOn(MonitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST), dpi);
  const WindowSize size = ScaledWindowSize(scale);
  SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, size.width, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
  Log::Info(L"Window scale: " + std::to_wstring(static_cast<int>(scale * 100)) + L" % at " + std::to_wstring(dpi) +
            L" DPI");
  InvalidateRect(hwnd, nullptr, FALSE);
}

void MainWindow::ToggleMute() {
  muted = !muted;
  SetMusicMuted(muted);
  SaveSettings();
  Repaint();
}

void MainWindow::PaintInto(HDC dc) {
  // One snapshot of the shared state; no lock is held while drawing.
  const View view = Snapshot();
  const StatusSnapshot realm = server_status.Snapshot();
  ScreenInput input;
  input.state = view.state;
  input.hover = hover;
  input.muted = muted;
  input.status_text = view.status_text;
  input.progress = view.progress;
  input.online = realm.online;
  input.population = realm.population;
  input.news = view.news.get();
  input.news_scroll = news_scroll;
  input.has_picture = background != nullptr;
  input.has_video_frame = video.Frame() != nullptr;
  input.letters = &fonts.LetterSizes();
  const Screen screen = ComposeScreen(input);

  Gdiplus::Graphics g(dc);
  PrepareGraphics(g);
  painter_.Paint(g, screen, {background.get(), video.Frame(), video.Generation(), &fonts, scale});
}

void MainWindow::Paint() {
  // At most one paint per frame period: an update run asks after every file,
  // and painting each time would keep this thread and the display busy while
  // the run wants the processors. A paint asked for too soon comes when the
  // period is over; meanwhile requests add nothing.
  const auto now = std::chrono::steady_clock::now();
  if (now - last_paint_ < kPaintPeriod) {
    ValidateRect(hwnd, nullptr);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kPaintPeriod - (now - last_paint_));
    SetTimer(hwnd, kRepaintTimer, static_cast<UINT>(wait.count()) + 1, nullptr);
    return;
  }
  last_paint_ = now;
  PAINTSTRUCT ps;
  HDC window_dc = BeginPaint(hwnd, &ps);
  // Only now, after BeginPaint has validated the window and before the state is
  // read: a request that came before BeginPaint was validated with it, and
  // clearing the flag earlier would leave it set with nothing invalid, so that
  // every later request was dropped and the screen froze.
  repaint_asked_.exchange(false);
  RECT client{};
  GetClientRect(hwnd, &client);
  {
    if (!back_buffer_ || !back_buffer_->Fits(client.right, client.bottom)) {
      back_buffer_.reset();
      back_buffer_.emplace(window_dc, client.right, client.bottom);
    }
    PaintInto(back_buffer_->dc());
    BitBlt(window_dc, 0, 0, client.right, client.bottom, back_buffer_->dc(), 0, 0, SRCCOPY);
  }
  EndPaint(hwnd, &ps);
}

void MainWindow::OnRepaintTimer() {
  KillTimer(hwnd, kRepaintTimer);
  InvalidateRect(hwnd, nullptr, FALSE);
}

namespace {

LRESULT HandleUnbound(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_MOUSEWHEEL:
    case WM_TIMER:
    case WM_LBUTTONDOWN: return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

// A client point in design pixels, where the controls are found at every scale.
POINT DesignPoint(int x, int y, float scale) { return {ToDesign(x, scale), ToDesign(y, scale)}; }

LRESULT HandleBound(MainWindow& self, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      self.OnDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: self.Paint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_NCHITTEST: {
      POINT pt{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ScreenToClient(hwnd, &pt);
      const POINT at = DesignPoint(pt.x, pt.y, self.scale);
      return IsCaptionPoint(at.x, at.y) ? HTCAPTION : HTCLIENT;
    }
    case WM_MOUSEMOVE: {
      const POINT at = DesignPoint(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), self.scale);
      self.OnMouseMove(at.x, at.y);
      return 0;
    }
    case WM_MOUSELEAVE: self.OnMouseLeave(); return 0;
    case WM_LBUTTONDOWN: {
      const POINT at = DesignPoint(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), self.scale);
      self.OnClick(at.x, at.y);
      return 0;
    }
    case WM_DPICHANGED: self.OnDpiChanged(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam)); return 0;
    case WM_MOUSEWHEEL: self.OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wparam)); return 0;
    case WM_TIMER: self.OnTimer(wparam); return 0;
    case WM_ENTERSIZEMOVE: self.OnEnterSizeMove(); return 0;
    case WM_EXITSIZEMOVE: self.OnExitSizeMove(); return 0;
    case WM_SERVER_STATUS: self.Repaint(); return 0;
    case WM_NEWS_LOADED: self.Repaint(); return 0;
    case WM_GAME_EXITED: self.OnGameExited(); return 0;
    case WM_TRAY_ICON: self.OnTrayIcon(lparam); return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // No exception may unwind through the system's frames that called us.
  try {
    MainWindow* self = BoundWindow(hwnd);
    return self ? HandleBound(*self, hwnd, message, wparam, lparam) : HandleUnbound(hwnd, message, wparam, lparam);
  } catch (const std::exception& e) {
    Log::Error(L"Exception in window procedure: " + Widen(e.what()));
  } catch (...) {
    Log::Error(L"Unknown exception in window procedure");
  }
  return 0;
}
