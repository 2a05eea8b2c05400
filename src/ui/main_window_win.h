// The launcher's single window and the object that holds what it shows.
#pragma once

#include <windows.h>

#include <string>

#include "app/launcher_state.h"
#include "ui/hit_areas.h"

class MainWindow {
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
  void Repaint() const;

  // Sets `state`, logs the change and repaints.
  void SetState(LauncherState new_state);

  HWND hwnd = nullptr;
  HINSTANCE instance = nullptr;
  LauncherState state = LauncherState::Connecting;
  std::wstring status_text;
  std::wstring wow_dir;
  bool close_on_launch = true;
  bool muted = false;
  HoverTarget hover = HoverTarget::None;
  bool tracking_mouse = false;

 private:
  MainWindow() = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
};

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
