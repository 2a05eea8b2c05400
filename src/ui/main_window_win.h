// The launcher's single window and the object that holds what it shows.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/launcher_window.h"
#include "base/launcher_folder.h"
#include "base/unique_icon_win.h"
#include "net/server_status.h"
#include "ui/fonts_win.h"
#include "ui/gdiplus_win.h"
#include "ui/hit_areas.h"
#include "ui/offscreen_buffer_win.h"
#include "ui/prompts_win.h"
#include "ui/screen_painter_win.h"
#include "ui/video_background_win.h"
#include "update/launcher_swap.h"

class MainWindow : public LauncherWindow {
 public:
  // Registers the class, creates the window, loads what it needs, fades it in
  // and runs the message loop; returns the final WM_QUIT's wParam.
  static int Run(HINSTANCE instance, int show_command);

  // The one process-wide object, made on first use.
  static MainWindow& Instance();

  void OnCreate();
  void OnDestroy();
  void OnClick(int x, int y);
  void OnMouseMove(int x, int y);
  void OnMouseLeave();
  void OnMouseWheel(int delta);
  void OnTimer(UINT_PTR id);
  // Stops the video while the window is dragged, starts it again after.
  void OnEnterSizeMove();
  void OnExitSizeMove();
  // WM_DPICHANGED: the window takes the suggested place at the scale that
  // fits the new monitor; the painter redraws every layer at that size.
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void Paint();
  // Draws the whole screen into `dc` (the off-screen bitmap); the benchmark calls it too.
  void PaintInto(HDC dc);
  void OnRepaintTimer();

  // The picture behind everything: the first candidate that loads.
  void LoadBackground();
  void ToggleMute();

  // Controller services (any thread).
  ManifestFetch FetchManifest(Manifest& manifest, std::string& error) override;
  bool SelfUpdate(const Manifest& manifest, std::string& error) override;
  std::shared_ptr<Updater> MakeUpdater(const std::wstring& wow_dir) override;
  void ContinueClientInstall(const Manifest& manifest) override;
  std::wstring VerifiedRecordPath() const override;
  void Repaint() override;
  void PostClose() override;
  void NewsLoaded() override;
  // The first Ready or Offline of the run notes that this build ran well.
  void StateEntered(LauncherState state) override;

  // Reads and writes launcher_settings.json (user-interface thread).
  void LoadSettings();
  void SaveSettings();

  // Set by the entry before Run: where the program's file is (the start-up
  // check may have moved it) and whether it may update itself; and the old
  // build's event to set once the window is shown, when it handed over to this one.
  LauncherFiles launcher_files{ExecutablePath(), true};
  std::wstring up_event;

  HWND hwnd = nullptr;
  HINSTANCE instance = nullptr;
  std::unique_ptr<Gdiplus::Image> background;
  VideoBackground video;
  LauncherFonts fonts;
  ServerStatus server_status;
  std::int32_t news_scroll = 0;  // user-interface thread only
  bool close_on_launch = true;
  bool muted = false;
  HoverTarget hover = HoverTarget::None;
  bool tracking_mouse = false;
  // Device pixels per design pixel (ui/window_scale.h); mouse points are
  // divided by it before the hit test, the painter draws at it.
  float scale = 1;

  // --- The game, the client, addons, settings and the tray (main_window_game_win.cpp).
  void PlayGame();
  void StartClientInstall();
  void LocateClient();
  void ManageAddons();
  void OpenSettings();
  void RestoreFromTray();
  void OnGameExited();            // WM_GAME_EXITED
  void OnTrayIcon(LPARAM event);  // WM_TRAY_ICON
  void RemoveTrayIcon();          // at destruction
  // Folder pickers and message boxes; a test host may put its own in before Run.
  Prompts* prompts = &SystemPrompts();
  NOTIFYICONDATAW tray_icon{};
  UniqueIcon tray_image;  // the tray icon's image, of the size for the window's DPI
  bool in_tray = false;
  // What the screen showed when the game was started; shown again when it ends.
  LauncherState state_at_launch = LauncherState::Ready;
  std::wstring status_at_launch;

 private:
  // A repaint is asked for and its paint has not begun: further requests add
  // nothing, the paint will read the latest state.
  std::atomic<bool> repaint_asked_{false};
  std::atomic<bool> ran_well_noted_{false};
  std::chrono::steady_clock::time_point last_paint_{};  // user-interface thread
  std::optional<OffscreenBuffer> back_buffer_;          // user-interface thread

  MainWindow() = default;
  void StartFrameTimer();

  ScreenPainter painter_;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
};

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
