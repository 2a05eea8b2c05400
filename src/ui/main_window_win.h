// The launcher's single window and the object that holds what it shows.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>

#include "app/launcher_window.h"
#include "net/server_status.h"
#include "ui/hit_areas.h"

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
  void Paint();
  void OnRepaintTimer();

  // Controller services (any thread).
  bool FetchManifest(Manifest& manifest, std::string& error) override;
  bool SelfUpdate(const Manifest& manifest, std::string& error) override;
  std::shared_ptr<Updater> MakeUpdater(const std::wstring& wow_dir) override;
  void Repaint() override;
  void PostClose() override;

  // Reads and writes launcher_settings.json (user-interface thread).
  void LoadSettings();
  void SaveSettings();

  HWND hwnd = nullptr;
  HINSTANCE instance = nullptr;
  ServerStatus server_status;
  bool close_on_launch = true;
  bool muted = false;
  HoverTarget hover = HoverTarget::None;
  bool tracking_mouse = false;

 private:
  // A repaint is asked for and its paint has not begun: further requests add
  // nothing, the paint will read the latest state.
  std::atomic<bool> repaint_asked_{false};
  std::chrono::steady_clock::time_point last_paint_{};  // user-interface thread

  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
};

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
